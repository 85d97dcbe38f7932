// The real ttyprog when the programmer misbehaves on the line: words arriving in pieces, a
// programmer that hangs up, bytes left over from before the run, a run stopped by a signal.
// (A programmer that falls silent costs the full 10 s bound: silent_programmer_slow_test.cpp.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "support/expected.h"
#include "support/session.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;
using test::FAILED;
using test::LOST;
using test::NOT_RESPONDING;
using test::PROMPTLY;
using test::READING;
using test::hex_words;
using test::programmer_options;
using test::scripted;
using test::step;

const std::string DONE = "Done!\n";

// ---- Words that arrive in two pieces ---------------------------------------------------------

TEST(CliSplitWords, AnswersWhoseBytesArriveApartAreStillWholeWords) {
  struct split_case {
    std::vector<std::string> args;
    std::vector<step> steps;
    std::string out;
  };
  const split_case cases[] = {
      {{"erase"}, {{1, {0xC000}}}, DONE},
      {{"writeconfig", "3f72"}, {{2, {0xC001}}}, "writing configuration word 3f72...\n" + FAILED},
      {{"readidandconfig"},
       {{1, {0x0012, 0x3456, 0x0F42, 0x3FFF}}},
       READING + "User ID   = 00123456\nDevice ID = 0f42\nConfig    = 3fff\n"},
  };
  for (const split_case& c : cases) {
    SCOPED_TRACE(c.args.front());
    const test::session_result got =
        test::run_with_programmer({scripted(c.steps), 150ms}, c.args);
    EXPECT_EQ(got.run.out, c.out);
    EXPECT_EQ(got.run.err, "");
    EXPECT_EQ(got.run.exit_code, 0);
  }
}

// ---- A programmer that hangs up ----------------------------------------------------------------

struct hang_up_case {
  const char* name;
  std::vector<std::string> args;
  std::vector<step> steps;  // the last one hangs up
  std::string out;
};

void PrintTo(const hang_up_case& c, std::ostream* out) { *out << c.name; }

class ProgrammerHangsUp : public ::testing::TestWithParam<hang_up_case> {};

TEST_P(ProgrammerHangsUp, CommandFailsPromptlyNamingTheLostConnection) {
  const hang_up_case& c = GetParam();
  const test::session_result got = test::run_with_programmer({scripted(c.steps)}, c.args);
  EXPECT_EQ(got.run.out, c.out);
  EXPECT_EQ(got.run.err, LOST);
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_LT(got.run.elapsed, PROMPTLY);
}

struct case_name {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& tested) const {
    return tested.param.name;
  }
};

INSTANTIATE_TEST_SUITE_P(
    SingleExchange, ProgrammerHangsUp,
    ::testing::Values(
        hang_up_case{"erase_after_request", {"erase"}, {{1, {}, true}}, FAILED},
        hang_up_case{"eraseall_after_request", {"eraseall"}, {{1, {}, true}}, FAILED},
        // The tool may still be sending when the line drops.
        hang_up_case{"writeid_mid_request", {"writeid", "1234abcd"}, {{1, {}, true}},
                     "writing ID 1234abcd...\n" + FAILED},
        hang_up_case{"writeid_after_request", {"writeid", "1234abcd"}, {{3, {}, true}},
                     "writing ID 1234abcd...\n" + FAILED},
        hang_up_case{"writeconfig_after_request", {"writeconfig", "3f72"}, {{2, {}, true}},
                     "writing configuration word 3f72...\n" + FAILED},
        hang_up_case{"readidandconfig_before_answer", {"readidandconfig"}, {{1, {}, true}},
                     READING + FAILED},
        // Half of the answer came, then the line dropped: no value line may be printed.
        hang_up_case{"readidandconfig_mid_answer", {"readidandconfig"},
                     {{1, {0x0012, 0x3456}, true}}, READING + FAILED}),
    case_name{});

// ---- Bytes left on the line before the run ---------------------------------------------------

TEST(CliStaleInput, BytesQueuedBeforeTheRunAreNotTakenAsTheAnswer) {
  // A success status left over from an earlier, abandoned exchange must not stand in for the
  // refusal the programmer actually sends to this run.
  test::pty_pair pty;
  test::write_bytes(pty.master(), {0xC0, 0x00});
  const test::session_result got =
      test::run_with_programmer(pty, {scripted({{1, {0xC001}}})}, {"erase"});
  EXPECT_EQ(hex_words(got.wire), "8000");
  EXPECT_EQ(got.run.out, FAILED);
  EXPECT_EQ(got.run.exit_code, 0);
}

// ---- A run stopped by a signal -------------------------------------------------------------------

TEST(CliStopSignal, AnInterruptedRunGivesTheExclusiveModeBack) {
  // The exclusive mode of a pseudo-terminal outlives the descriptor; left set, every later
  // non-root open of the port would be refused.
  test::pty_pair pty;
  test::programmer silent_programmer(pty, {});
  test::child_process tool(TTYPROG_BIN, {TTYPROG_BIN, pty.slave_path(), "erase"});
  ASSERT_TRUE(silent_programmer.wait_for_words(1, PROMPTLY));
  tool.send_signal(SIGINT);
  const test::run_result got = tool.wait();
  EXPECT_EQ(got.signal, SIGINT);

  const int fd = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  int exclusive = -1;
  EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  ::close(fd);
}

}  // namespace
}  // namespace ttyprog
