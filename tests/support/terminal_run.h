// Running the built ttyprog the way a person at a terminal does: standard error (and optionally
// standard output) on a pseudo-terminal, which the test reads from the master side.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace ttyprog::test {

struct terminal_options {
  // Another program to run in ttyprog's place (its path first, then its arguments; `args` are
  // then not used), e.g. a shell that runs ttyprog as a user would.
  std::vector<std::string> program;
  bool stdout_on_terminal = false;  // otherwise standard output is a pipe of its own
  // Standard input on the terminal too, set to line editing (canonical, no echo), and these bytes
  // typed once the run started; otherwise standard input is /dev/null.
  std::optional<std::string> typed;
  std::optional<uid_t> user;  // run as this user (and its group, no others); needs root
  std::optional<gid_t> group;
  bool controlling = false;  // the terminal becomes the run's controlling terminal
  // Sends `signal` to the run once the terminal shows `shown` (as a user who presses Ctrl-C
  // after reading a prompt); 0 for none.
  int signal = 0;
  std::string shown;
  std::chrono::milliseconds timeout{20'000};
};

struct terminal_result {
  int exit_code = -1;
  int signal = 0;  // the signal that ended the run, or 0
  // From the options' signal to the end of the run; negative when none was sent.
  std::chrono::milliseconds after_signal{-1};
  bool timed_out = false;
  std::string out;       // standard output, when it was a pipe
  std::string terminal;  // every byte written to the terminal (raw: no newline translation)
};

// Runs ttyprog with argv[0] = TTYPROG_BIN and `args` after it (or `options.program`); standard
// input is /dev/null.
terminal_result run_on_terminal(const std::vector<std::string>& args,
                                const terminal_options& options = {});

// What a terminal shows after `bytes`: "\r" goes back to the line's start, "\n" starts a new line
// (as a terminal that turns it into CR LF), anything else overwrites the character under the
// cursor. Lines are returned with trailing blanks removed, the empty last line dropped.
std::vector<std::string> screen_of(const std::string& bytes);

}  // namespace ttyprog::test
