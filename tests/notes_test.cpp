// The lines that say where a problem is: on a terminal, and with TTYPROG_VERBOSE=1 in a pipe, but
// not in a plain pipe; standard output is the same in all three.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/simulator.h"
#include "support/terminal_run.h"

namespace ttyprog {
namespace {

struct note_row {
  std::string name;
  std::vector<std::string> sim_options;
  std::vector<std::string> args;  // after the port; "FILE" is a HEX file holding `hex`
  std::string hex;
  std::string note;  // a line standard error must hold
};

void PrintTo(const note_row& row, std::ostream* os) { *os << row.name; }

// clang-format off
const std::vector<note_row> ROWS = {
    {"bad_record", {}, {"writeprogram", "FILE"}, ":020000003412B8\n:0400100001020304E3\n",
     "in.hex: line 2: bad checksum.\n"},
    {"bad_address_record", {}, {"verifyprogram", "FILE"}, ":020000040001F8\n",
     "in.hex: line 1: bad address record (it must hold two bytes and a correct checksum).\n"},
    {"open_failed", {}, {"writeprogram", "/nonexistent.hex"}, "",
     "/nonexistent.hex: No such file or directory.\n"},
    {"no_data", {}, {"writeprogram", "FILE"}, ":00000001FF\n",
     "in.hex holds no data for program memory: nothing was written.\n"},
    {"no_end_of_file_record", {}, {"verifyprogram", "FILE"}, ":020000003412B8\n",
     "in.hex: no end-of-file record: the text may be cut short.\n"},
    {"skipped_records", {}, {"writeprogram", "FILE"}, ":020000040001F9\n:020000003412B8\n:020010003412A8\n",
     "in.hex: 2 record(s) beyond program memory skipped, the first at byte address 10000.\n"},
    {"differences", {}, {"verifyprogram", "FILE"}, ":040000003412FF3F78\n",
     "word 0000: expected 1234, read 3fff\n"},
    {"verify_cut_short", {"--short-read", "1"}, {"verifyprogram", "FILE"}, ":02000000FF3FC0\n",
     "The read stopped after 0 of 1 words: the rest was not compared.\n"},
    {"write_refused", {"--refuse", "1"}, {"writeprogram", "FILE"}, ":020000003412B8\n",
     "The programmer refused the block of words 0 to 0 (status c001); it had taken 0 words before it.\n"},
    {"extra_words", {}, {"erase", "a", "b.hex", "c.hex"}, "",
     "2 word(s) after the parameter ignored, from \"b.hex\" on.\n"},
    {"usage_error", {}, {}, "", "Try 'ttyprog --help'.\n"},
    {"unknown_command", {}, {"writeprogam"}, "",
     "did you mean writeprogram?\nCommands: erase, eraseall, writeprogram, verifyprogram, readprogram,"
     " readhex, writeid, writeconfig, readidandconfig, program.\n"},
};
// clang-format on

class Notes : public ::testing::TestWithParam<note_row> {};

TEST_P(Notes, OnATerminalAndWhenVerboseButNotInAPipe) {
  const note_row& row = GetParam();
  // A fresh simulator for each run: its faults count over its whole life.
  auto arguments = [&row](const test::simulator& sim) {
    std::vector<std::string> args = row.args;
    for (std::string& arg : args) {
      if (arg == "FILE") arg = sim.dir().file_with("in.hex", row.hex);
    }
    return args;
  };
  const test::simulator quiet_sim(row.sim_options);
  const test::run_result plain = quiet_sim.run(arguments(quiet_sim));
  EXPECT_EQ(plain.err.find(row.note), std::string::npos) << plain.err;

  const test::simulator verbose_sim(row.sim_options);
  ::setenv("TTYPROG_VERBOSE", "1", 1);
  const test::run_result verbose = verbose_sim.run(arguments(verbose_sim));
  ::unsetenv("TTYPROG_VERBOSE");
  EXPECT_NE(verbose.err.find(row.note), std::string::npos) << verbose.err;
  EXPECT_EQ(verbose.out, plain.out);

  const test::simulator terminal_sim(row.sim_options);
  std::vector<std::string> args = arguments(terminal_sim);
  args.insert(args.begin(), terminal_sim.path());
  const test::terminal_result shown = test::run_on_terminal(args);
  EXPECT_NE(shown.terminal.find(row.note), std::string::npos) << shown.terminal;
  EXPECT_EQ(shown.out, plain.out);
}

INSTANTIATE_TEST_SUITE_P(Rows, Notes, ::testing::ValuesIn(ROWS),
                         [](const ::testing::TestParamInfo<note_row>& tested) {
                           return tested.param.name;
                         });

// HEX text typed at the terminal: a line says how to end it, and one Ctrl-D ends it.
TEST(NotesTerminalInput, SaysHowToEndAndOneCtrlDEndsIt) {
  test::simulator sim;
  test::terminal_options typing;
  typing.typed = ":020000003412B8\n\x04";
  typing.timeout = std::chrono::seconds(5);
  const test::terminal_result got = test::run_on_terminal({sim.path(), "writeprogram"}, typing);
  EXPECT_FALSE(got.timed_out);
  EXPECT_NE(got.terminal.find("Reading the HEX text from the terminal: end it with Ctrl-D.\n"),
            std::string::npos);
  EXPECT_EQ(got.out, "Done.\n");
}

}  // namespace
}  // namespace ttyprog
