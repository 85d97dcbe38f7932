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

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <utility>
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
  const std::pair<int, const char*> signals[] = {
      {SIGINT, "sigint"}, {SIGTERM, "sigterm"}, {SIGHUP, "sighup"}};
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
  while (sim.received().size() < 2 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(20ms);
  }
}

// Starts a long run of `command`, sends `signal` once it is under way (`times` times, 5 ms apart,
// as `timeout -s INT` signals the process and then its group; closer together the second would
// merge into the first while that is still pending), and checks that the run ends by that signal
// promptly: for a stop signal the block in flight finishes first, about two seconds on the paced
// line, programming time included.
test::run_result signalled_run(const test::simulator& sim, const char* command, int signal,
                               int times = 1) {
  test::child_process tool(TTYPROG_BIN, long_run(sim, command));
  wait_until_under_way(sim);
  EXPECT_FALSE(sim.received().empty());
  const auto sent = std::chrono::steady_clock::now();
  for (int i = 0; i < times; ++i) {
    if (i > 0) std::this_thread::sleep_for(5ms);
    tool.send_signal(signal);
  }
  const test::run_result got = tool.wait();
  EXPECT_EQ(got.signal, signal);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, test::PROMPTLY);
  return got;
}

const std::string INTERRUPTED_WRITE =
    "Interrupted after ([0-9]+) of 8192 words: the target is partly written\\.\n";

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
                         [](const ::testing::TestParamInfo<stop_case>& tested) {
                           return tested.param.name;
                         });

// A write ended mid-block, then the next command on the same simulator: the answer the programmer
// still owes the ended run may reach the next one, and must not pass for its answer. Two stop
// signals back to back count as one request, so the block in flight is finished first; after
// SIGKILL nothing finishes it, and the next run gets its own values or says the line held more.
struct next_run_case {
  std::string name;
  int signal;
  int times;
  std::vector<std::string> sim_options;
  std::string next;                                           // the command run next
  std::vector<std::pair<std::string, std::string>> outcomes;  // what it may print: stdout, stderr
};

void PrintTo(const next_run_case& c, std::ostream* os) { *os << c.name; }

std::vector<next_run_case> next_run_cases() {
  const std::vector<std::pair<std::string, std::string>> refused{{test::FAILED, ""},
                                                                 {test::FAILED, test::UNEXPECTED}};
  return {
      {"sigint_then_refused_erase", SIGINT, 1, {"--pace", "--refuse", "2"}, "erase", refused},
      {"sigint_twice_then_refused_erase", SIGINT, 2, {"--pace", "--refuse", "2"}, "erase", refused},
      {"sigkill_then_readidandconfig",
       SIGKILL,
       1,
       {"--pace"},
       "readidandconfig",
       {{test::READING + test::BLANK_IDS, ""}, {test::READING + test::FAILED, test::UNEXPECTED}}},
  };
}

class InterruptedWrite : public ::testing::TestWithParam<next_run_case> {};

TEST_P(InterruptedWrite, TheNextRunGetsItsOwnAnswerOrSaysUnexpected) {
  const next_run_case& c = GetParam();
  test::simulator sim(c.sim_options);
  const test::run_result stopped = signalled_run(sim, "writeprogram", c.signal, c.times);
  if (c.signal == SIGINT) {
    EXPECT_TRUE(std::regex_match(stopped.err, std::regex(INTERRUPTED_WRITE))) << stopped.err;
  }
  const test::run_result next = sim.run({c.next});
  const std::pair<std::string, std::string> seen{next.out, next.err};
  EXPECT_NE(std::find(c.outcomes.begin(), c.outcomes.end(), seen), c.outcomes.end())
      << "stdout: " << next.out << "stderr: " << next.err;
}

INSTANTIATE_TEST_SUITE_P(Paced, InterruptedWrite, ::testing::ValuesIn(next_run_cases()),
                         test::case_name{});

// Two stop signals: within 100 ms of each other they are one request (a shell or `timeout` can
// deliver one Ctrl-C twice), so the block in flight finishes and the run says how far it got; a
// second one later ends the run at once.
struct pair_case {
  std::string name;
  std::chrono::milliseconds gap;
  bool one_request;
};

void PrintTo(const pair_case& c, std::ostream* os) { *os << c.name; }

const pair_case PAIR_CASES[] = {{"ten_ms_apart", 10ms, true},
                                {"three_hundred_ms_apart", STOP_REPEAT + 200ms, false}};

class StopSignalPair : public ::testing::TestWithParam<pair_case> {};

TEST_P(StopSignalPair, CountsAsOneOnlyWithin100Ms) {
  const pair_case& c = GetParam();
  test::simulator sim({"--pace"});
  test::child_process tool(TTYPROG_BIN, long_run(sim, "writeprogram"));
  wait_until_under_way(sim);
  tool.send_signal(SIGINT);
  std::this_thread::sleep_for(c.gap);
  const auto second = std::chrono::steady_clock::now();
  tool.send_signal(SIGINT);
  const test::run_result got = tool.wait();
  EXPECT_EQ(got.signal, SIGINT);
  if (c.one_request) {
    EXPECT_TRUE(std::regex_match(got.err, std::regex(INTERRUPTED_WRITE))) << got.err;
    EXPECT_LT(std::chrono::steady_clock::now() - second, test::PROMPTLY);
  } else {
    EXPECT_LT(std::chrono::steady_clock::now() - second, 500ms);
  }
  EXPECT_TRUE(port_released(sim));

  const test::run_result again = sim.run({"probe"});
  EXPECT_EQ(again.out, test::INVALID_COMMAND);
  EXPECT_EQ(again.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(Paced, StopSignalPair, ::testing::ValuesIn(PAIR_CASES), test::case_name{});

struct fatal_case {
  const char* name;
  int signal;
  const char* command;
};

void PrintTo(const fatal_case& c, std::ostream* os) { *os << c.name; }

const fatal_case FATAL_CASES[] = {
    {"sigquit", SIGQUIT, "readprogram"},     {"sigusr1", SIGUSR1, "writeprogram"},
    {"sigusr2", SIGUSR2, "readprogram"},     {"sigalrm", SIGALRM, "writeprogram"},
    {"sigvtalrm", SIGVTALRM, "readprogram"}, {"sigprof", SIGPROF, "writeprogram"},
    {"sigxcpu", SIGXCPU, "readprogram"},     {"sigxfsz", SIGXFSZ, "writeprogram"},
    {"sigpwr", SIGPWR, "readprogram"},       {"sigrtmin", SIGRTMIN, "writeprogram"},
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
  std::vector<std::string> argv{
      "sh",     "-c", "exec \"$0\" \"$@\" " + placed(c.redirection), TTYPROG_BIN, pty.slave_path(),
      c.command};
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

INSTANTIATE_TEST_SUITE_P(Input, StopWhileReadingHex, ::testing::ValuesIn(INPUT_STOP_CASES),
                         test::case_name{});

// True once process `pid` has a handler for `signal` (/proc/PID/status, SigCgt).
bool catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
  }
  return false;
}

// Before the first request a stop is honoured within 100 ms: here during the open's wait for a
// quiet line that never comes (a programmer that sends without being asked, a bound of an hour).
TEST(StopSignalAtTheOpen, EndsTheRunAtOnceAndNothingIsSent) {
  test::simulator sim({"--pace", "--chatter"});
  ::setenv("TTYPROG_TIMEOUT", "3600", 1);
  test::run_options limit;
  limit.timeout = 5s;
  test::child_process tool(TTYPROG_BIN, {TTYPROG_BIN, sim.path(), "erase"}, limit);
  ::unsetenv("TTYPROG_TIMEOUT");
  // The run takes SIGINT over once it holds the port; right after, the open waits for the line.
  const auto until = std::chrono::steady_clock::now() + test::PROMPTLY;
  while (!catches(tool.pid(), SIGINT) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(5ms);
  }
  std::this_thread::sleep_for(100ms);
  const auto sent = std::chrono::steady_clock::now();
  tool.send_signal(SIGINT);
  const test::run_result got = tool.wait();
  EXPECT_LT(std::chrono::steady_clock::now() - sent, STOP_MARGIN);
  EXPECT_EQ(got.signal, SIGINT);
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, test::NOTHING_SENT);
  EXPECT_TRUE(sim.received().empty()) << test::hex_words(sim.received());
  EXPECT_TRUE(port_released(sim));
}

// Ctrl-C while the HEX text is typed: the read from the terminal does not hold the stop.
TEST(StopWhileReadingHexFromTheTerminal, EndsTheRunAtOnceAndNothingIsSent) {
  test::pty_pair pty;
  test::programmer programmer(pty, {});
  test::terminal_options options;
  options.typed = ":0400100001020304E2\n";  // one line typed, no Ctrl-D
  options.signal = SIGINT;
  options.shown = "end it with Ctrl-D";
  options.timeout = test::PROMPTLY;
  const test::terminal_result got =
      test::run_on_terminal({pty.slave_path(), "writeprogram"}, options);
  EXPECT_EQ(got.signal, SIGINT);
  EXPECT_GE(got.after_signal.count(), 0) << "the note was never shown: " << got.terminal;
  EXPECT_LT(got.after_signal, STOP_MARGIN);
  EXPECT_NE(got.terminal.find(test::NOTHING_SENT), std::string::npos) << got.terminal;
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(test::hex_words(programmer.finish()), "");
}

}  // namespace
}  // namespace ttyprog
