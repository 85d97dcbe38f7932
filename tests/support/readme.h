// The README's code blocks, as the tests that keep them true take them: the console examples
// (commands and what they show) and the scripts users copy.
#pragma once

#include <string>
#include <vector>

namespace ttyprog::test {

// One "$ " line of a console block and the lines shown after it.
struct console_command {
  std::string command;
  std::vector<std::string> shown;
};
using console_block = std::vector<console_command>;

// Every ```console block of README.md, in order.
std::vector<console_block> readme_console_blocks();

// The text of the first ```sh block after the line `heading` ("## Several programmers at once");
// empty when there is none.
std::string readme_sh_block_after(const std::string& heading);

}  // namespace ttyprog::test
