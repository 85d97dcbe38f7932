// Signals during a long command on the paced simulator. The stop signals (SIGINT, SIGTERM,
// SIGHUP): the first one stops the command at the next block boundary, the programmer is never
// left inside a block, standard error says what was done, the process ends by that signal, and a
// run started at once gets the right answers; a second one ends the run at once. Every other
// signal whose default action ends the process ends the run at once, and the exclusive mode of
// the pseudo-terminal (which would outlive the process) is given back first. Before the first
// request, wherever the run waits for its HEX text, the first stop signal ends it at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "link/word_link.h"
#include "support/case_name.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/session.h"
#include "support/simulator.h"
#include "support/terminal_run.h"

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
std::vector<std::string> long_run(const test::simulator& sim, const char* command) {
  std::vector<std::string> argv{TTYPROG_BIN, sim.path(), command};
  argv.push_back(std::string(command) == "readprogram"
                     ? "8192"
                     : sim.dir().file_with("full.hex", test::hex_text(8192, 0x2805)));
  return argv;
}

// True when the terminal is no longer exclusive. Root may open an exclusive terminal anyway, so
// the terminal itself is asked.
bool port_released(const test::simulator& sim) {
  const int look = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (look < 0) return false;
  int exclusive = 1;
  const bool asked = ::ioctl(look, TIOCGEXCL, &exclusive) == 0;
  ::close(look);
  return asked && exclusive == 0;
}

// Waits until the run is under way on the line.
void wait_until_under_way(const test::simulator& sim) {
  const auto until = std::chrono::steady_clock::now() + test::PROMPTLY;
  while (sim.received().size() < 10 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(20ms);
  }
}

// Starts a long run of `command`, sends `signal` once it is under way, and checks that the run
// ends by that signal promptly: for a stop signal the block in flight finishes first, about a
// second on the paced line, programming time included.
test::run_result signalled_run(const test::simulator& sim, const char* command, int signal) {
  test::child_process tool(TTYPROG_BIN, long_run(sim, command));
  wait_until_under_way(sim);
  EXPECT_FALSE(sim.received().empty());
  const auto sent = std::chrono::steady_clock::now();
  tool.send_signal(signal);
  const test::run_result got = tool.wait();
  EXPECT_EQ(got.signal, signal);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, test::PROMPTLY);
  return got;
}

TEST_P(StopSignal, StopsAtTheBlockBoundaryAndTheNextRunIsServedRightly) {
  const stop_case& c = GetParam();
  test::simulator sim({"--pace"});
  const test::run_result got = signalled_run(sim, c.command, c.signal);
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

// The exchange after an interrupted write gets its own answer: a refused erase is no "Done!".
TEST(StopSignalThenErase, TheRefusalOfTheNextExchangeIsReported) {
  test::simulator sim({"--pace", "--refuse", "2"});
  signalled_run(sim, "writeprogram", SIGINT);
  const test::run_result erase = sim.run({"erase"});
  EXPECT_EQ(erase.out, test::FAILED);
  EXPECT_EQ(erase.err, "");
}

// A second request ends the run at once, unless it comes so soon after the first that it is the
// same request delivered twice.
TEST(StopSignalTwice, EndsTheRunAtOnceAndFreesThePort) {
  test::simulator sim({"--pace"});
  test::child_process tool(TTYPROG_BIN, long_run(sim, "writeprogram"));
  wait_until_under_way(sim);
  tool.send_signal(SIGINT);
  std::this_thread::sleep_for(STOP_REPEAT + 200ms);
  const auto sent = std::chrono::steady_clock::now();
  tool.send_signal(SIGINT);
  const test::run_result got = tool.wait();
  EXPECT_EQ(got.signal, SIGINT);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 500ms);
  EXPECT_TRUE(port_released(sim));

  const test::run_result again = sim.run({"probe"});
  EXPECT_EQ(again.out, test::INVALID_COMMAND);
  EXPECT_EQ(again.exit_code, 0);
}

struct fatal_case {
  const char* name;
  int signal;
  const char* command;
};

void PrintTo(const fatal_case& c, std::ostream* os) { *os << c.name; }

const fatal_case FATAL_CASES[] = {
    {"sigquit", SIGQUIT, "readprogram"},    {"sigusr1", SIGUSR1, "writeprogram"},
    {"sigusr2", SIGUSR2, "readprogram"},    {"sigalrm", SIGALRM, "writeprogram"},
    {"sigvtalrm", SIGVTALRM, "readprogram"}, {"sigprof", SIGPROF, "writeprogram"},
    {"sigxcpu", SIGXCPU, "readprogram"},    {"sigxfsz", SIGXFSZ, "writeprogram"},
    {"sigpwr", SIGPWR, "readprogram"},      {"sigrtmin", SIGRTMIN, "writeprogram"},
};

class FatalSignal : public ::testing::TestWithParam<fatal_case> {
 protected:
  // Signals that dump core leave no core file behind.
  void SetUp() override {
    rlimit no_core{};
    ::getrlimit(RLIMIT_CORE, &no_core);
    no_core.rlim_cur = 0;
    ::setrlimit(RLIMIT_CORE, &no_core);
  }
};

TEST_P(FatalSignal, EndsTheRunAtOnceAndGivesTheExclusiveModeBack) {
  const fatal_case& c = GetParam();
  test::simulator sim({"--pace"});
  signalled_run(sim, c.command, c.signal);
  EXPECT_TRUE(port_released(sim));

  const test::run_result again = sim.run({"probe"});
  EXPECT_EQ(again.out, "invalid command\n");
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_LT(again.elapsed, test::PROMPTLY);
}

INSTANTIATE_TEST_SUITE_P(LongRun, FatalSignal, ::testing::ValuesIn(FATAL_CASES),
                         [](const ::testing::TestParamInfo<fatal_case>& tested) {
                           return std::string(tested.param.name);
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

// ---- A stop while the HEX text is awaited -------------------------------------------------------

// How long after the signal the run may end: the tool answers within 100 ms; the rest is room for
// a loaded machine.
constexpr auto STOP_MARGIN = 500ms;

// Waits until the tool has opened and set up the port (the pty's speed becomes 9600 baud), then a
// little more, so that the run is waiting for its HEX text.
void wait_until_reading(const test::pty_pair& pty) {
  const auto until = std::chrono::steady_clock::now() + test::PROMPTLY;
  termios line{};
  while (std::chrono::steady_clock::now() < until &&
         !(::tcgetattr(pty.master(), &line) == 0 && ::cfgetospeed(&line) == B9600)) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(::cfgetospeed(&line), B9600) << "the port was never set up";
  std::this_thread::sleep_for(200ms);
}

struct input_stop_case {
  const char* name;
  int signal;
  const char* command;
  const char* param;        // the HEX path ("FIFO": a named pipe); nullptr for standard input
  const char* redirection;  // of the tool's standard input ("FIFO" as above)
  bool fifo_writer;         // the test holds the pipe open for writing and never writes
};

void PrintTo(const input_stop_case& c, std::ostream* os) { *os << c.name; }

const input_stop_case INPUT_STOP_CASES[] = {
    {"silent_pipe_on_standard_input", SIGINT, "writeprogram", nullptr, "<FIFO", true},
    {"dev_zero_as_dev_stdin", SIGTERM, "verifyprogram", "/dev/stdin", "</dev/zero", false},
    {"named_pipe_without_writer", SIGHUP, "writeprogram", "FIFO", "", false},
};

class StopWhileReadingHex : public ::testing::TestWithParam<input_stop_case> {};

TEST_P(StopWhileReadingHex, EndsTheRunAtOnceAndNothingIsSent) {
  const input_stop_case& c = GetParam();
  test::temp_dir dir;
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int writer = c.fifo_writer ? ::open(fifo.c_str(), O_RDWR | O_CLOEXEC) : -1;
  const auto placed = [&fifo](std::string text) {
    if (const auto at = text.find("FIFO"); at != std::string::npos) text.replace(at, 4, fifo);
    return text;
  };
  test::pty_pair pty;
  test::programmer programmer(pty, {});
  std::vector<std::string> argv{"sh", "-c", "exec \"$0\" \"$@\" " + placed(c.redirection),
                                TTYPROG_BIN, pty.slave_path(), c.command};
  if (c.param != nullptr) argv.push_back(placed(c.param));
  test::run_options options;
  options.timeout = test::PROMPTLY;
  test::child_process tool("/bin/sh", argv, options);  // the shell becomes the tool

  wait_until_reading(pty);
  const auto sent = std::chrono::steady_clock::now();
  tool.send_signal(c.signal);
  const test::run_result got = tool.wait();
  EXPECT_LT(std::chrono::steady_clock::now() - sent, STOP_MARGIN);
  if (writer >= 0) ::close(writer);
  EXPECT_EQ(got.signal, c.signal);
  EXPECT_EQ(got.err, test::NOTHING_SENT);
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(test::hex_words(programmer.finish()), "");
}

INSTANTIATE_TEST_SUITE_P(Input, StopWhileReadingHex, ::testing::ValuesIn(INPUT_STOP_CASES), test::case_name{});

// Ctrl-C while the HEX text is typed: the read from the terminal does not hold the stop.
TEST(StopWhileReadingHexFromTheTerminal, EndsTheRunAtOnceAndNothingIsSent) {
  test::pty_pair pty;
  test::programmer programmer(pty, {});
  test::terminal_options options;
  options.typed = ":0400100001020304E2\n";  // one line typed, no Ctrl-D
  options.signal = SIGINT;
  options.shown = "end it with Ctrl-D";
  options.timeout = test::PROMPTLY;
  const test::terminal_result got = test::run_on_terminal({pty.slave_path(), "writeprogram"}, options);
  EXPECT_EQ(got.signal, SIGINT);
  EXPECT_GE(got.after_signal.count(), 0) << "the note was never shown: " << got.terminal;
  EXPECT_LT(got.after_signal, STOP_MARGIN);
  EXPECT_NE(got.terminal.find(test::NOTHING_SENT), std::string::npos) << got.terminal;
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(test::hex_words(programmer.finish()), "");
}

}  // namespace
}  // namespace ttyprog
