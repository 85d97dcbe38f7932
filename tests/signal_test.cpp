// A long writeprogram stopped by SIGINT or SIGTERM ends promptly and leaves the port free.
// A run stopped by a signal gives the port's exclusive mode back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <thread>
#include <vector>

#include "support/expected.h"
#include "support/hex_text.h"
#include "support/session.h"
#include "support/simulator.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;

class StopSignal : public ::testing::TestWithParam<int> {};

TEST_P(StopSignal, EndsALongWriteAndTheNextRunOpensThePort) {
  // Paced at 9600 baud with programming time, 8192 words take well over ten seconds.
  test::simulator sim({"--pace"});
  const std::string hex = sim.dir().file_with("full.hex", test::hex_text(8192, 0x2805));
  test::child_process tool(TTYPROG_BIN, {TTYPROG_BIN, sim.path(), "writeprogram", hex});
  std::this_thread::sleep_for(500ms);
  ASSERT_FALSE(sim.received().empty());  // the write is under way

  const auto sent = std::chrono::steady_clock::now();
  tool.send_signal(GetParam());
  const test::run_result got = tool.wait();
  EXPECT_EQ(got.signal, GetParam());
  EXPECT_LT(std::chrono::steady_clock::now() - sent, test::PROMPTLY);

  const test::run_result again = sim.run({"probe"});
  EXPECT_EQ(again.out, test::INVALID_COMMAND);
  EXPECT_EQ(again.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(Writeprogram, StopSignal, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& tested) {
                           return std::string(tested.param == SIGINT ? "sigint" : "sigterm");
                         });

TEST(CliStopSignal, AnInterruptedRunGivesTheExclusiveModeBack) {
  // The exclusive mode of a pseudo-terminal outlives the descriptor; left set, every later
  // non-root open of the port would be refused.
  test::pty_pair pty;
  test::programmer silent_programmer(pty, {});
  test::child_process tool(TTYPROG_BIN, {TTYPROG_BIN, pty.slave_path(), "erase"});
  ASSERT_TRUE(silent_programmer.wait_for_words(1, test::PROMPTLY));
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
