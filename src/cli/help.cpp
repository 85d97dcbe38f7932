#include "cli/help.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "cli/commands.h"
#include "cli/output.h"
#include "platform/texts.h"

namespace ttyprog {

namespace {

// The first column of the command list: two blanks, then the name and parameter in 22.
constexpr int NAME_WIDTH = 22;

void print_commands() {
  out_line("Commands:");
  for (const command_entry& entry : command_table()) {
    std::array<char, 48> name_and_param{};
    std::snprintf(name_and_param.data(), name_and_param.size(), "%.*s%s%.*s",
                  static_cast<int>(entry.name.size()), entry.name.data(),
                  entry.param.empty() ? "" : " ", static_cast<int>(entry.param.size()),
                  entry.param.data());
    std::string_view summary = entry.summary;
    const std::size_t first_end = std::min(summary.find('\n'), summary.size());
    out_format("  %-*s %.*s\n", NAME_WIDTH, name_and_param.data(), static_cast<int>(first_end),
               summary.data());
    summary.remove_prefix(first_end);
    while (!summary.empty()) {
      summary.remove_prefix(1);
      const std::size_t end = std::min(summary.find('\n'), summary.size());
      out_format("%*s%.*s\n", NAME_WIDTH + 3, "", static_cast<int>(end), summary.data());
      summary.remove_prefix(end);
    }
  }
}

}  // namespace

void print_help() {
  out_line(
      "Usage: ttyprog PORT COMMAND [PARAM]\n"
      "       ttyprog --help (-h) | --version (-V) | --list\n"
      "\n"
      "Drives a device programmer on the serial port PORT (9600 baud, 8N1), one command a run.\n");
  print_commands();
  out_format(
      "%s%s\n\nMore: %s.\n",
      "\n"
      "Options (alone):\n"
      "  --help (-h)            this text\n"
      "  --version (-V)         the version\n"
      "  --list                 the serial ports present, and who holds them\n"
      "\n"
      "Environment:\n"
      "  TTYPROG_TIMEOUT=SECONDS  how long the programmer may stay silent (default 10)\n"
      "  TTYPROG_STRICT=1         the exit code tells the command's outcome (0 or empty: off)\n"
      "  TTYPROG_VERBOSE=1        say where a problem is also when standard error is no terminal\n"
      "                           (0 or empty: off)\n"
      "  TTYPROG_DEVICE_ID=HEX    program refuses a target with another device ID\n"
      "\n"
      "Exit codes: 1 usage, port or environment value; 8 standard output lost; otherwise 0.\n"
      "With TTYPROG_STRICT=1: 0 done, 2 refused or answered wrongly, 3 not responding or\n"
      "connection lost, 4 verify found differences, 5 input unusable, 6 no data in the HEX text,\n"
      "7 unknown command; 1 and 8 as above. ",
      STOPPED_RUN_EXIT, FURTHER_READING);
}

void print_version() { out_format("ttyprog %s\n", TTYPROG_VERSION); }

}  // namespace ttyprog
