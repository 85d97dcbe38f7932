// The commands of the tool and the table that picks one by name and lists them in --help.
//
// Each command gets the open port and the optional parameter (nullptr when absent), prints its
// own lines and returns what it achieved; the entry closes the port afterwards.
#pragma once

#include <span>
#include <string_view>

#include "cli/outcome.h"
#include "link/word_link.h"

namespace ttyprog {

using command_fn = outcome (*)(serial_port& port, const char* param);

outcome run_erase(serial_port& port, const char* param);
outcome run_erase_all(serial_port& port, const char* param);
outcome run_write_program(serial_port& port, const char* param);
outcome run_verify_program(serial_port& port, const char* param);
outcome run_write_id(serial_port& port, const char* param);
outcome run_write_config(serial_port& port, const char* param);
outcome run_read_program(serial_port& port, const char* param);
outcome run_read_hex(serial_port& port, const char* param);
outcome run_read_id_config(serial_port& port, const char* param);
outcome run_program(serial_port& port, const char* param);
outcome run_invalid_command(serial_port& port, const char* param);

// One row of the table: the name, the parameter as --help shows it (empty for none), what the
// command does in the words of --help (a '\n' starts a further line), and the function.
struct command_entry {
  std::string_view name;
  std::string_view param;
  std::string_view summary;
  command_fn run;
};

// Every command, in the order --help lists them.
std::span<const command_entry> command_table();

// The command named `name`; an unknown name gets the command that says so.
command_fn find_command(std::string_view name);

// After "invalid command": notes the command nearest to `name`, if one is near, and the list.
void suggest_command(std::string_view name);

}  // namespace ttyprog
