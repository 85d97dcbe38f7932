// A long writeprogram stopped by SIGINT or SIGTERM ends promptly and leaves the port free.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "support/expected.h"
#include "support/traced_sim.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;

class StopSignal : public ::testing::TestWithParam<int> {};

TEST_P(StopSignal, EndsALongWriteAndTheNextRunOpensThePort) {
  // Paced at 9600 baud with programming time, 8192 words take well over ten seconds.
  test::traced_sim sim({"--pace"});
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
  EXPECT_EQ(again.out, "invalid command\n");
  EXPECT_EQ(again.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(Writeprogram, StopSignal, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& tested) {
                           return std::string(tested.param == SIGINT ? "sigint" : "sigterm");
                         });

}  // namespace
}  // namespace ttyprog
