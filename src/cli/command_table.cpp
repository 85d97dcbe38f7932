#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "cli/commands.h"
#include "cli/notes.h"
#include "cli/output.h"

namespace ttyprog {

namespace {

// Every command: exact, case-sensitive names.
constexpr std::array<command_entry, 10> COMMANDS{{
    {"erase", "", "the programmer's erase", run_erase},
    {"eraseall", "", "the programmer's erase-all operation", run_erase_all},
    {"writeprogram", "[FILE]", "write program memory from Intel HEX (standard input without FILE)",
     run_write_program},
    {"verifyprogram", "[FILE]", "compare program memory with Intel HEX; counts the differing words",
     run_verify_program},
    {"readprogram", "[N]", "print N words (default 512) from word 0, eight to a line",
     run_read_program},
    {"readhex", "[N]", "print N words (default 8192) from word 0 as Intel HEX", run_read_hex},
    {"writeid", "ID", "write the 32-bit user ID (hexadecimal)", run_write_id},
    {"writeconfig", "WORD", "write the configuration word (hexadecimal, up to ffff)",
     run_write_config},
    {"readidandconfig", "", "print the user ID, device ID and configuration word",
     run_read_id_config},
    {"program", "[FILE]",
     "read the IDs, erase, write and verify program memory from Intel\n"
     "HEX, stopping at the first step that fails",
     run_program},
}};

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// The edits (a letter changed, added or dropped) between two names, case not counted.
std::size_t distance(std::string_view a, std::string_view b) {
  std::array<std::size_t, 64> row{};
  if (b.size() >= row.size()) return b.size();
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min(
          {row[j] + 1, row[j - 1] + 1, diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The command a mistyped `name` most likely meant: the same name in other case, the only one it
// begins (at least three letters), or the nearest within a third of its letters (at least two
// edits); nullptr for none.
const command_entry* nearest_command(std::string_view name) {
  const command_entry* nearest = nullptr;
  std::size_t fewest = std::max<std::size_t>(2, name.size() / 3) + 1;
  for (const command_entry& entry : COMMANDS) {
    const std::size_t edits = distance(name, entry.name);
    if (edits < fewest) {
      nearest = &entry;
      fewest = edits;
    }
  }
  if (fewest == 0) return nearest;
  const auto begins = [name](const command_entry& entry) {
    return name.size() >= 3 && entry.name.size() > name.size() &&
           std::equal(name.begin(), name.end(), entry.name.begin(),
                      [](char a, char b) { return lower(a) == lower(b); });
  };
  if (std::count_if(COMMANDS.begin(), COMMANDS.end(), begins) == 1) {
    return &*std::find_if(COMMANDS.begin(), COMMANDS.end(), begins);
  }
  return nearest;
}

}  // namespace

void suggest_command(std::string_view name) {
  if (!notes_wanted()) return;
  if (const command_entry* nearest = nearest_command(name)) {
    note("did you mean %s?", std::string(nearest->name).c_str());
  }
  std::string names;
  for (const command_entry& entry : COMMANDS)
    names.append(names.empty() ? "" : ", ").append(entry.name);
  note("Commands: %s.", names.c_str());
}

std::span<const command_entry> command_table() { return COMMANDS; }

command_fn find_command(std::string_view name) {
  for (const command_entry& entry : COMMANDS) {
    if (entry.name == name) return entry.run;
  }
  return run_invalid_command;
}

outcome run_invalid_command(serial_port&, const char*) {
  out_line("invalid command");
  return outcome::unknown_command;
}

}  // namespace ttyprog
