// Stop signals during a long command on the paced simulator: the first one stops the command at
// the next block boundary, the programmer is never left inside a block, standard error says what
// was done, the process ends by that signal, and a run started at once gets the right answers.
// A second signal ends the run at once.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <thread>

#include "support/expected.h"
#include "support/traced_sim.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;

struct stop_case {
  std::string name;
  const char* command;
  int signal;
  const char* left_behind;  // the end of the "Interrupted after ..." line
};

void PrintTo(const stop_case& c, std::ostream* os) { *os << c.name; }

std::vector<stop_case> stop_cases() {
  std::vector<stop_case> cases;
  const std::pair<int, const char*> signals[] = {{SIGINT, "sigint"}, {SIGTERM, "sigterm"}, {SIGHUP, "sighup"}};
  const std::pair<const char*, const char*> commands[] = {
      {"writeprogram", "the target is partly written"},
      {"verifyprogram", "the rest was not compared"},
      {"readprogram", "the dump is incomplete"}};
  for (const auto& [signal, signal_name] : signals) {
    for (const auto& [command, left] : commands) {
      cases.push_back({std::string(command) + "_" + signal_name, command, signal, left});
    }
  }
  return cases;
}

class StopSignal : public ::testing::TestWithParam<stop_case> {};

// The arguments of a long paced run of `command` (8192 words).
std::vector<std::string> long_run(const test::traced_sim& sim, const char* command) {
  std::vector<std::string> argv{TTYPROG_BIN, sim.path(), command};
  argv.push_back(std::string(command) == "readprogram"
                     ? "8192"
                     : sim.dir().file_with("full.hex", test::hex_text(8192, 0x2805)));
  return argv;
}

// Waits until the run is under way on the line.
void wait_until_under_way(const test::traced_sim& sim) {
  const auto until = std::chrono::steady_clock::now() + test::PROMPTLY;
  while (sim.received().size() < 10 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(20ms);
  }
}

TEST_P(StopSignal, StopsAtTheBlockBoundaryAndTheNextRunIsServedRightly) {
  const stop_case& c = GetParam();
  test::traced_sim sim({"--pace"});
  test::child_process tool(TTYPROG_BIN, long_run(sim, c.command));
  wait_until_under_way(sim);
  ASSERT_FALSE(sim.received().empty());

  const auto sent = std::chrono::steady_clock::now();
  tool.send_signal(c.signal);
  const test::run_result got = tool.wait();
  EXPECT_EQ(got.signal, c.signal);
  // The block in flight finishes: about a second on the paced line, programming time included.
  EXPECT_LT(std::chrono::steady_clock::now() - sent, test::PROMPTLY);
  EXPECT_TRUE(std::regex_match(got.err, std::regex("Interrupted after ([0-9]+) of 8192 words: " +
                                                   std::string(c.left_behind) + "\\.\n")))
      << got.err;
  EXPECT_EQ(got.out.find("Done."), std::string::npos);
  EXPECT_EQ(got.out.find("verify done"), std::string::npos);

  // Nothing of the stopped run is left on the line for the next one.
  const test::run_result ids = sim.run({"readidandconfig"});
  EXPECT_EQ(ids.out, test::READING + test::BLANK_IDS);
  EXPECT_EQ(ids.err, "");
}

INSTANTIATE_TEST_SUITE_P(Paced, StopSignal, ::testing::ValuesIn(stop_cases()),
                         [](const ::testing::TestParamInfo<stop_case>& tested) { return tested.param.name; });

TEST(StopSignalTwice, EndsTheRunAtOnceAndFreesThePort) {
  test::traced_sim sim({"--pace"});
  test::child_process tool(TTYPROG_BIN, long_run(sim, "writeprogram"));
  wait_until_under_way(sim);
  tool.send_signal(SIGINT);
  std::this_thread::sleep_for(50ms);
  const auto sent = std::chrono::steady_clock::now();
  tool.send_signal(SIGINT);
  const test::run_result got = tool.wait();
  EXPECT_EQ(got.signal, SIGINT);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 500ms);

  const test::run_result again = sim.run({"probe"});
  EXPECT_EQ(again.out, "invalid command\n");
  EXPECT_EQ(again.exit_code, 0);
}

}  // namespace
}  // namespace ttyprog
