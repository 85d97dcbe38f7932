// The exit codes, row by row through the real binary on the simulator: by default 0 for every run
// that opened the port (8 when standard output was lost), and with TTYPROG_STRICT=1 one code per
// outcome. Standard output is the same in both modes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/simulator.h"

namespace ttyprog {
namespace {

struct exit_row {
  std::string name;
  std::vector<std::string> sim_options;
  std::vector<std::string> args;  // after the port; "FILE" is replaced by a HEX file of `hex`
  std::string hex;
  int strict_code;
  std::string strict_value = "1";
};

void PrintTo(const exit_row& row, std::ostream* os) { *os << row.name; }

// Word 0 = 3fff, as a fresh simulator holds. Texts with data end in their end-of-file record: in
// strict mode a text without one is refused (bad_input_test.cpp).
const std::string BLANK_FILE = ":02000000FF3FC0\n:00000001FF\n";

const std::vector<exit_row> ROWS = {
    {"erase_done", {}, {"erase"}, "", 0},
    {"readids_done", {}, {"readidandconfig"}, "", 0},
    {"verify_done", {}, {"verifyprogram", "FILE"}, BLANK_FILE, 0},
    {"refused_status", {"--refuse", "1"}, {"erase"}, "", 2},
    {"read_size_error", {"--short-read", "1"}, {"readprogram", "8"}, "", 2},
    {"verify_size_error", {"--short-read", "1"}, {"verifyprogram", "FILE"}, BLANK_FILE, 2},
    {"not_responding", {"--silent-after", "1"}, {"erase"}, "", 3},
    {"connection_lost", {"--hang-up-after", "1"}, {"readidandconfig"}, "", 3},
    {"differences", {}, {"verifyprogram", "FILE"}, ":020000003412B8\n:00000001FF\n", 4},
    {"missing_file", {}, {"writeprogram", "/nonexistent/x.hex"}, "", 5},
    {"invalid_hex", {}, {"writeprogram", "FILE"}, ":020000003412B9\n", 5},
    {"terminator_word", {}, {"writeprogram", "FILE"}, ":02000000FFFF00\n:00000001FF\n", 5},
    {"missing_id", {}, {"writeid"}, "", 5},
    {"invalid_config", {}, {"writeconfig", "zz"}, "", 5},
    {"no_data_write", {}, {"writeprogram", "FILE"}, ":00000001FF\n", 6},
    {"no_data_verify", {}, {"verifyprogram", "FILE"}, "", 6},
    {"unknown_command", {}, {"ERASE"}, "", 7},
    {"invalid_setting", {}, {"erase"}, "", 1, "yes"},
};

class ExitCodes : public ::testing::TestWithParam<exit_row> {
 protected:
  void SetUp() override { ::setenv("TTYPROG_TIMEOUT", "0.3", 1); }
  void TearDown() override {
    ::unsetenv("TTYPROG_TIMEOUT");
    ::unsetenv("TTYPROG_STRICT");
  }
};

TEST_P(ExitCodes, StrictTellsTheOutcomeAndTheDefaultStaysZero) {
  const exit_row& row = GetParam();
  test::run_result runs[2];
  for (int strict = 0; strict < 2; ++strict) {
    test::simulator sim(row.sim_options);
    std::vector<std::string> args = row.args;
    for (std::string& arg : args) {
      if (arg == "FILE") arg = sim.dir().file_with("in.hex", row.hex);
    }
    if (strict == 1) ::setenv("TTYPROG_STRICT", row.strict_value.c_str(), 1);
    runs[strict] = sim.run(args);
  }
  EXPECT_EQ(runs[1].exit_code, row.strict_code);
  if (row.strict_value == "1") {
    EXPECT_EQ(runs[0].exit_code, 0);
    EXPECT_EQ(runs[1].out, runs[0].out);
    EXPECT_EQ(runs[1].err, runs[0].err);
  } else {
    EXPECT_EQ(runs[1].err.substr(0, runs[1].err.find('\n') + 1),
              "Invalid TTYPROG_STRICT " + row.strict_value + "!\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, ExitCodes, ::testing::ValuesIn(ROWS),
                         [](const ::testing::TestParamInfo<exit_row>& tested) {
                           return tested.param.name;
                         });

// A lost standard output is never a success, in either mode.
TEST(ExitCodesLostOutput, IsEightInBothModes) {
  test::simulator sim;
  for (const char* strict : {"", "1"}) {
    ::setenv("TTYPROG_STRICT", strict, 1);
    const test::run_result got = sim.run_redirected({"erase"}, ">/dev/full");
    ::unsetenv("TTYPROG_STRICT");
    EXPECT_EQ(got.exit_code, 8) << "TTYPROG_STRICT=" << strict;
  }
}

// An option alone prints and exits 0; any other lone argument is still a usage error.
TEST(ExitCodesLoneArgument, OptionsPrintAndAnythingElseIsUsage) {
  struct lone {
    const char* arg;
    const char* out_starts;
    int code;
  };
  for (const lone& c : {lone{"--help", "Usage: ttyprog PORT COMMAND [PARAM]\n", 0},
                        lone{"-h", "Usage: ttyprog PORT COMMAND [PARAM]\n", 0},
                        lone{"--version", "ttyprog " TTYPROG_TEST_VERSION "\n", 0},
                        lone{"-V", "ttyprog " TTYPROG_TEST_VERSION "\n", 0}, lone{"--list", "", 0},
                        lone{"--bogus", "", 1}, lone{"/dev/ttyUSB0", "", 1}}) {
    const test::run_result got = test::run_binary(TTYPROG_BIN, {TTYPROG_BIN, c.arg});
    EXPECT_EQ(got.exit_code, c.code) << c.arg;
    EXPECT_EQ(got.out.substr(0, std::string(c.out_starts).size()), c.out_starts) << c.arg;
    if (c.code == 1) {
      EXPECT_EQ(got.err, std::string("Usage: ") + TTYPROG_BIN + " port command [param]\n");
    }
    if (std::string(c.arg) == "--list") {
      EXPECT_FALSE(got.out.empty());
    }
  }
}

}  // namespace
}  // namespace ttyprog
