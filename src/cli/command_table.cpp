#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "cli/commands.h"
#include "cli/notes.h"
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
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The command a mistyped `name` most likely meant: the same name in other case, the only one it
// begins (at least three letters), or the nearest within a third of its letters (at least two
// edits); nullptr for none.
const command* nearest_command(std::string_view name) {
  const command* nearest = nullptr;
  std::size_t fewest = std::max<std::size_t>(2, name.size() / 3) + 1;
  for (const command& entry : COMMANDS) {
    const std::size_t edits = distance(name, entry.name);
    if (edits < fewest) {
      nearest = &entry;
      fewest = edits;
    }
  }
  if (fewest == 0) return nearest;
  const auto begins = [name](const command& entry) {
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
  if (const command* nearest = nearest_command(name)) {
    note("did you mean %s?", std::string(nearest->name).c_str());
  }
  std::string names;
  for (const command& entry : COMMANDS) names.append(names.empty() ? "" : ", ").append(entry.name);
  note("Commands: %s.", names.c_str());
}

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
