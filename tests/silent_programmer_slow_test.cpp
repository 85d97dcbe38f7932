// A programmer that falls silent, against the tool's real 10 s bound (slow: label "slow").
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "support/expected.h"
#include "support/session.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;
using test::BOUND_SLACK;
using test::FAILED;
using test::NOT_RESPONDING;
using test::READING;
using test::TOOL_BOUND;
using test::hex_words;
using test::scripted;

class ProgrammerSilent : public ::testing::Test {
 protected:
  void SetUp() override { ::unsetenv("TTYPROG_TIMEOUT"); }
};

TEST_F(ProgrammerSilent, EraseFailsAfterTheBoundNamingTheSilence) {
  const test::session_result got = test::run_with_programmer({test::silent()}, {"erase"});
  EXPECT_EQ(got.run.out, FAILED);
  EXPECT_EQ(got.run.err, NOT_RESPONDING);
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_EQ(hex_words(got.wire), "8000");
  EXPECT_GE(got.run.elapsed, TOOL_BOUND);
  EXPECT_LT(got.run.elapsed, TOOL_BOUND + BOUND_SLACK);
}

// The answer starts (one byte) and then stops: the tool must not wait for the rest forever.
TEST_F(ProgrammerSilent, ReadIdAndConfigFailsAfterHalfAWord) {
  const test::session_result got = test::run_with_programmer(
      {scripted({{1, {0x0012, 0x3456, 0x0F42, 0x3FFF}}}), 60s}, {"readidandconfig"});
  EXPECT_EQ(got.run.out, READING + FAILED);
  EXPECT_EQ(got.run.err, NOT_RESPONDING);
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_GE(got.run.elapsed, TOOL_BOUND);
  EXPECT_LT(got.run.elapsed, TOOL_BOUND + BOUND_SLACK);
}

}  // namespace
}  // namespace ttyprog
