// ttyprog: drives a device programmer on a serial port, one command per run.
//
//   ttyprog PORT COMMAND [PARAM]
//
// TTYPROG_TIMEOUT (seconds) changes how long the programmer may stay silent; 10 s by default.
//
// Exit code 1 when the arguments are short or the port cannot be opened; 0 on every path after
// the port was opened, whatever the command's outcome (its lines on standard output say that).
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "cli/commands.h"
#include "cli/param_parse.h"
#include "cli/port_error.h"
#include "platform/console.h"
#include "link/word_link.h"

int main(int argc, char** argv) {
  using namespace ttyprog;

  // Result lines appear as they happen, also when standard output is a pipe; a reader that goes
  // away must not cut a block short on the wire.
  prepare_standard_output();

  // 1. Arguments: a port and a command at least; words after the parameter are ignored.
  if (argc < 3) {
    std::fprintf(stderr, "Usage: %s port command [param]\n", argc > 0 ? argv[0] : "ttyprog");
    return 1;
  }
  const char* port_name = argv[1];
  const char* command_name = argv[2];
  const char* param = argc > 3 ? argv[3] : nullptr;

  // 2. The port, opened and configured before the command name is looked at.
  std::chrono::milliseconds bound = LINK_TIMEOUT;
  if (const char* timeout = std::getenv("TTYPROG_TIMEOUT"); timeout != nullptr && *timeout != '\0') {
    std::optional<std::chrono::milliseconds> chosen = parse_timeout(timeout);
    if (!chosen) {
      std::fprintf(stderr, "Invalid TTYPROG_TIMEOUT %s!\n", timeout);
      return 1;
    }
    bound = *chosen;
  }
  open_result opened = open_port(port_name, bound);
  if (!opened.port) {
    report_port_failure(port_name, opened);
    return 1;
  }
  serial_port& port = *opened.port;

  // 3. The command, picked by its exact name.
  find_command(command_name)(port, param);

  // 4. The port closes as it goes out of scope.
  return 0;
}
