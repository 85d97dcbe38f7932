// What `ttyprog --help` lists, for the checks that the man page and the completion offer the same.
#pragma once

#include <string>
#include <vector>

namespace ttyprog::test {

// The command names of the "Commands:" part of `ttyprog --help`, in its order.
std::vector<std::string> commands_in_help();

}  // namespace ttyprog::test
