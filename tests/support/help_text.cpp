#include "support/help_text.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/process.h"

namespace ttyprog::test {

std::vector<std::string> commands_in_help() {
  const run_result help = run_binary(TTYPROG_BIN, {"ttyprog", "--help"});
  EXPECT_EQ(help.exit_code, 0) << help.err;
  std::vector<std::string> names;
  std::istringstream lines(help.out);
  std::string line;
  while (std::getline(lines, line) && line != "Commands:") {
  }
  // A command's line starts with two blanks and its name; a wrapped summary with more blanks.
  while (std::getline(lines, line) && !line.empty()) {
    if (line.rfind("  ", 0) == 0 && line[2] != ' ')
      names.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  return names;
}

}  // namespace ttyprog::test
