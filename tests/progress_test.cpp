// The progress line of writeprogram, verifyprogram and readprogram: drawn on a terminal, erased
// before every line the command prints, and absent when standard error is not a terminal.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "cli/progress.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/session.h"
#include "support/simulator.h"
#include "support/temp_dir.h"
#include "support/terminal_run.h"

namespace ttyprog {
namespace {

using std::chrono::milliseconds;

TEST(ProgressText, ShowsWordsPercentElapsedAndLeft) {
  struct row {
    std::uint64_t done, total;
    long long elapsed_ms;
    unsigned columns;
    const char* expected;
  };
  // Time left: the line time of the words left (2 bytes a word at 9600 baud: 8192 words 17.1 s),
  // or more when the run so far went slower than the line.
  const row rows[] = {
      {0, 8192, 0, 80, "writing 0/8192 words   0%  0:00, 0:18 left"},
      {1536, 8192, 3999, 80, "writing 1536/8192 words  18%  0:03, 0:18 left"},
      {1536, 8192, 1000, 80, "writing 1536/8192 words  18%  0:01, 0:14 left"},
      {8191, 8192, 754'000, 80,
       "writing 8191/8192 words  99%  12:34, 0:01 left"},  // never 100% early
      {2147483648, 4294967295, 0, 0,
       "writing 2147483648/4294967295 words  50%  0:00, 74565:22 left"},
      {1536, 8192, 3999, 20, "writing 1536/8192 w"},  // cut to the width less one
  };
  for (const row& r : rows) {
    const milliseconds elapsed(r.elapsed_ms);
    EXPECT_STREQ(format_progress("writing", r.done, r.total, elapsed,
                                 time_left(r.done, r.total, elapsed), r.columns)
                     .data(),
                 r.expected);
  }
}

std::vector<std::string> with_port(const test::simulator& sim, std::vector<std::string> args) {
  args.insert(args.begin(), sim.path());
  return args;
}

// On a terminal the line is drawn at once and erased at the end; standard output stays exactly as
// it is without a terminal, and without one standard error stays empty.
TEST(Progress, DrawnOnTerminalOnlyWithOutputUnchanged) {
  test::temp_dir dir;
  const std::string file = dir.file_with("program.hex", test::hex_text(test::program_of(2048)));
  struct row {
    std::vector<std::string> args;
    std::string first_draw;
  };
  const row rows[] = {
      {{"writeprogram", file}, "\rwriting 0/2048 words   0%  0:00"},
      {{"verifyprogram", file}, "\rverifying 0/2048 words   0%  0:00"},
      {{"readprogram", "1001"}, "\rreading 0/1001 words   0%  0:00"},
  };
  test::simulator sim({"--word-time", "200"});
  for (const row& r : rows) {
    SCOPED_TRACE(r.args[0]);
    const test::run_result piped = sim.run(r.args);
    const test::terminal_result shown = test::run_on_terminal(with_port(sim, r.args));
    ASSERT_EQ(piped.exit_code, 0);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(shown.exit_code, 0);
    EXPECT_EQ(shown.out, piped.out);
    EXPECT_EQ(shown.terminal.rfind(r.first_draw, 0), 0u) << shown.terminal;
    EXPECT_EQ(shown.terminal.find('\n'), std::string::npos) << "the line must stay in place";
    EXPECT_TRUE(test::screen_of(shown.terminal).empty()) << "left on screen: " << shown.terminal;
  }
}

// The line moves with the words of a block, not once a block: a paced block of 512 words takes
// about a second, and the line is redrawn within it.
TEST(Progress, MovesWithinABlock) {
  test::simulator sim({"--pace"});
  const test::terminal_result shown = test::run_on_terminal(with_port(sim, {"readprogram", "512"}));
  const std::regex within(R"(\rreading ([1-9][0-9]*)/512 words)");
  std::smatch found;
  ASSERT_TRUE(std::regex_search(shown.terminal, found, within)) << shown.terminal;
  EXPECT_LT(std::stoi(found[1]), 512);
}

// A write's line moves as its words leave the line, and its clock runs on while the programmer
// programs them: a paced block of 512 words is on the line for about a second and then programmed
// for another, with the line redrawn all the while.
TEST(Progress, AWriteMovesAsItsWordsLeaveTheLineAndItsClockRunsOn) {
  test::temp_dir dir;
  const std::string file = dir.file_with("program.hex", test::hex_text(test::program_of(512)));
  test::simulator sim({"--pace"});
  const test::terminal_result shown = test::run_on_terminal(with_port(sim, {"writeprogram", file}));
  EXPECT_EQ(shown.exit_code, 0);
  const std::regex within(R"(\rwriting ([1-9][0-9]*)/512 words)");
  std::smatch found;
  ASSERT_TRUE(std::regex_search(shown.terminal, found, within)) << shown.terminal;
  EXPECT_LT(std::stoi(found[1]), 512);
  EXPECT_TRUE(
      std::regex_search(shown.terminal, std::regex(R"(\rwriting [0-9]+/512 words +[0-9]+%  0:01)")))
      << "the clock stood still: " << shown.terminal;
  std::size_t draws = 0;
  for (std::size_t at = shown.terminal.find("\rwriting"); at != std::string::npos;
       at = shown.terminal.find("\rwriting", at + 1)) {
    ++draws;
  }
  EXPECT_GE(draws, 6u) << shown.terminal;
}

// With standard output on the same terminal, every line the command prints starts on a clean
// line: what the screen shows at the end is exactly the command's own output.
TEST(Progress, ErasedBeforeEveryPrintedLine) {
  test::temp_dir dir;
  const std::string file = dir.file_with("program.hex", test::hex_text(test::program_of(1024)));
  struct row {
    const char* name;
    std::vector<std::string> sim_options;
    std::vector<std::string> args;
    std::vector<std::string> screen;
  };
  const std::vector<row> rows = {
      // Blocks slow enough for the line to be drawn again between the dump's blocks.
      {"dump",
       {"--split-pause", "1"},
       {"readprogram", "1100"},
       test::screen_of(test::dump(std::vector<std::uint16_t>(1100, 0x3FFF)))},
      {"refused",
       {"--refuse", "2"},
       {"writeprogram", file},
       {"Failed...", "The programmer refused the block of words 512 to 1023 (status c001); it had "
                     "taken 512 words before it."}},
      {"lost",
       {"--hang-up-after", "600"},
       {"writeprogram", file},
       test::screen_of(test::FAILED + test::LOST)},
      {"short",
       {"--short-read", "2"},
       {"verifyprogram", file},
       {"word 0000: expected 1234, read 3fff", "word 0001: expected 306d, read 3fff",
        "word 0002: expected 0ea7, read 3fff", "word 0003: expected 2ce0, read 3fff",
        "word 0004: expected 0b1a, read 3fff", "word 0005: expected 2953, read 3fff",
        "word 0006: expected 078d, read 3fff", "word 0007: expected 25c6, read 3fff",
        "read size error", "The read stopped after 512 of 1024 words: the rest was not compared.",
        "verify done. found 512 error(s)."}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    test::simulator sim(r.sim_options);
    test::terminal_options shared;
    shared.stdout_on_terminal = true;
    const test::terminal_result shown = test::run_on_terminal(with_port(sim, r.args), shared);
    EXPECT_EQ(shown.exit_code, 0);
    EXPECT_EQ(test::screen_of(shown.terminal), r.screen) << shown.terminal;
  }
}

}  // namespace
}  // namespace ttyprog
