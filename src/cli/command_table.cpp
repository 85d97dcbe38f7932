#include <array>

#include "cli/commands.h"
#include "cli/output.h"

namespace ttyprog {

namespace {

struct command {
  std::string_view name;
  command_fn run;
};

// Every command, in the order they are matched: exact, case-sensitive names.
constexpr std::array<command, 10> COMMANDS{{
    {"erase", run_erase},
    {"eraseall", run_erase_all},
    {"writeprogram", run_write_program},
    {"verifyprogram", run_verify_program},
    {"writeid", run_write_id},
    {"writeconfig", run_write_config},
    {"readprogram", run_read_program},
    {"readidandconfig", run_read_id_config},
    {"readhex", run_read_hex},
    {"program", run_program},
}};

}  // namespace

command_fn find_command(std::string_view name) {
  for (const command& entry : COMMANDS) {
    if (entry.name == name) return entry.run;
  }
  return run_invalid_command;
}

outcome run_invalid_command(serial_port&, const char*) {
  out_line("invalid command");
  return outcome::unknown_command;
}

}  // namespace ttyprog
