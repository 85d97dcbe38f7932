// ttyprog: drives a device programmer on a serial port, one command per run. The system's entry
// (platform/entry.h) hands the arguments to program_main.
//
//   ttyprog PORT COMMAND [PARAM]
//
// The TTYPROG_ settings of the environment are read once, before the port is opened
// (cli/settings.h).
//
// Exit code 1 when the arguments are short, an environment value is invalid or the port cannot be
// opened. After the port was opened: 0 whatever the command's outcome (its lines on standard output
// say that), unless standard output was lost; with TTYPROG_STRICT=1 the outcome's own code. A run
// stopped by SIGINT, SIGTERM or SIGHUP ends by that signal once the port is closed.
#include <cstdio>
#include <string_view>

#include "cli/blocks.h"
#include "cli/commands.h"
#include "cli/help.h"
#include "cli/list_ports.h"
#include "cli/notes.h"
#include "cli/outcome.h"
#include "cli/output.h"
#include "cli/port_error.h"
#include "cli/settings.h"
#include "link/word_link.h"
#include "platform/console.h"
#include "platform/entry.h"

namespace ttyprog {

int program_main(int argc, char** argv) {
  // Result lines appear as they happen, also when standard output is a pipe; a reader that goes
  // away must not cut a block short on the wire.
  prepare_standard_output();

  // 1. Arguments: an option alone, or a port and a command at least; words after the parameter
  //    are ignored.
  if (argc == 2) {
    const std::string_view option = argv[1];
    const bool help = option == "--help" || option == "-h";
    const bool version = option == "--version" || option == "-V";
    if (help || version || option == "--list") {
      if (help) print_help();
      if (version) print_version();
      if (option == "--list") print_port_list(stdout);
      return out_flush() ? EXIT_DONE : EXIT_OUTPUT_LOST;
    }
  }
  if (argc < 3) {
    err_format("Usage: %s port command [param]\n", argc > 0 ? argv[0] : "ttyprog");
    want_notes(verbose_setting());
    note("Try 'ttyprog --help'.");
    return EXIT_USAGE;
  }
  const char* port_name = argv[1];
  const char* command_name = argv[2];
  const char* param = argc > 3 ? argv[3] : nullptr;

  // 2. The settings from the environment.
  if (!read_settings()) return EXIT_USAGE;
  want_notes(run_settings().verbose);
  if (argc > 4) {
    note("%d word(s) after the parameter ignored, from \"%s\" on.", argc - 4, argv[4]);
  }

  // 3. The port, opened and configured before the command name is looked at.
  open_result opened = open_port(port_name, run_settings().bound);
  if (!opened.port) {
    report_port_failure(port_name, opened);
    return EXIT_USAGE;
  }

  // 4. The command, picked by its exact name, unless a stop was asked for meanwhile.
  outcome result =
      stop_here(0, 0, "") ? stopped_outcome() : find_command(command_name)(*opened.port, param);
  if (result == outcome::unknown_command) suggest_command(command_name);
  if (!out_flush()) result = outcome::output_lost;

  // 5. The port is closed; a run that was asked to stop ends the way the signal would end it.
  opened.port.reset();
  if (const int request = stop_request(); request != 0) end_by_stop_request(request);
  return exit_code(result, run_settings().strict);
}

}  // namespace ttyprog
