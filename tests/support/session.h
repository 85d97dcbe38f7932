// Running the built ttyprog, alone or against an in-test programmer on a fresh pty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/programmer.h"
#include "support/pty.h"

namespace ttyprog::test {

// Runs ttyprog with argv[0] = TTYPROG_BIN and `args` after it.
run_result run_ttyprog(const std::vector<std::string>& args, const run_options& options = {});

struct session_result {
  run_result run;
  std::vector<std::uint16_t> wire;  // every word the tool sent, in order
};

// Runs `ttyprog <slave of pty> <command_args...>` while `options` plays the programmer on the
// master, and returns what the tool printed and sent.
session_result run_with_programmer(pty_pair& pty, programmer_options options,
                                   const std::vector<std::string>& command_args,
                                   const run_options& run = {});
// The same on a pty of its own.
session_result run_with_programmer(programmer_options options,
                                   const std::vector<std::string>& command_args,
                                   const run_options& run = {});

// Words as lowercase four-digit hexadecimal separated by spaces ("8011 1234 abcd"), so that test
// expectations and failure messages read like a line trace.
std::string hex_words(const std::vector<std::uint16_t>& words);

}  // namespace ttyprog::test
