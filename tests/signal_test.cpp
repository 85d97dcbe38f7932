// A long paced run ended by a signal: SIGINT and SIGTERM during a writeprogram, and every other
// signal whose default action ends the process during a readprogram or writeprogram. Each ends
// the run promptly, by that signal, and leaves the port free: the exclusive mode of the
// pseudo-terminal is given back (it would outlive the process), and the next run opens the port.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "support/expected.h"
#include "support/traced_sim.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;

struct stopped_run {
  const char* name;
  int signal;
  bool read;  // readprogram 8192, otherwise writeprogram of 8192 words
};

void PrintTo(const stopped_run& r, std::ostream* os) { *os << r.name; }

std::vector<stopped_run> runs() {
  return {{"sigint", SIGINT, false},     {"sigterm", SIGTERM, false},
          {"sigquit", SIGQUIT, true},    {"sigusr1", SIGUSR1, false},
          {"sigusr2", SIGUSR2, true},    {"sigalrm", SIGALRM, false},
          {"sigvtalrm", SIGVTALRM, true}, {"sigprof", SIGPROF, false},
          {"sigxcpu", SIGXCPU, true},    {"sigxfsz", SIGXFSZ, false},
          {"sigpwr", SIGPWR, true},      {"sigrtmin", SIGRTMIN, false}};
}

class StopSignal : public ::testing::TestWithParam<stopped_run> {
 protected:
  // Signals that dump core leave no core file behind.
  void SetUp() override {
    rlimit no_core{};
    ::getrlimit(RLIMIT_CORE, &no_core);
    no_core.rlim_cur = 0;
    ::setrlimit(RLIMIT_CORE, &no_core);
  }
};

TEST_P(StopSignal, EndsALongRunAndTheNextRunOpensThePort) {
  const stopped_run& r = GetParam();
  // Paced at 9600 baud with programming time, 8192 words take well over ten seconds.
  test::traced_sim sim({"--pace"});
  const std::string hex = sim.dir().file_with("full.hex", test::hex_text(8192, 0x2805));
  const std::vector<std::string> args =
      r.read ? std::vector<std::string>{TTYPROG_BIN, sim.path(), "readprogram", "8192"}
             : std::vector<std::string>{TTYPROG_BIN, sim.path(), "writeprogram", hex};
  test::child_process tool(TTYPROG_BIN, args);
  std::this_thread::sleep_for(500ms);
  ASSERT_FALSE(sim.received().empty());  // the run is under way

  const auto sent = std::chrono::steady_clock::now();
  tool.send_signal(r.signal);
  const test::run_result got = tool.wait();
  EXPECT_EQ(got.signal, r.signal);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, test::PROMPTLY);

  // Root may open an exclusive terminal anyway: ask the terminal itself.
  const int look = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(look, 0) << "the port is still exclusive";
  int exclusive = 1;
  EXPECT_EQ(::ioctl(look, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0) << "the port is still exclusive";
  ::close(look);

  const test::run_result again = sim.run({"probe"});
  EXPECT_EQ(again.out, "invalid command\n");
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_LT(again.elapsed, test::PROMPTLY);
}

INSTANTIATE_TEST_SUITE_P(LongRun, StopSignal, ::testing::ValuesIn(runs()),
                         [](const ::testing::TestParamInfo<stopped_run>& tested) {
                           return std::string(tested.param.name);
                         });

}  // namespace
}  // namespace ttyprog
