// The built ttyprog-sim on its real pseudo-terminal, talked to byte by byte: the announced path,
// the trace, sessions, the faults it plays in time, --link and --device, and its command line.
// What the target model answers, word by word, is in sim_target_test.cpp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/port_diagnosis.h"
#include "sim_options.h"
#include "support/case_name.h"
#include "support/expected.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/simulator.h"
#include "support/temp_dir.h"
#include "wire.h"

namespace ttyprog::sim {
namespace {

using namespace std::chrono_literals;
using bytes = std::vector<std::uint8_t>;
using clock = std::chrono::steady_clock;
using test::read_file;
using test::run_result;
using test::simulator;
using test::temp_dir;
namespace fs = std::filesystem;

constexpr auto WAIT = 5s;

bytes read_bytes(int fd, std::size_t count, std::chrono::milliseconds bound = WAIT) {
  return test::read_bytes(fd, count, bound);
}

fs::path trace_of(const simulator& sim) { return sim.dir() / "trace"; }

// How many sessions the trace says have ended.
std::size_t sessions_ended(const fs::path& trace) {
  const std::string text = read_file(trace);
  std::size_t count = 0;
  for (std::size_t at = text.find(" ended\n"); at != std::string::npos;
       at = text.find(" ended\n", at + 1)) {
    ++count;
  }
  return count;
}

// Waits until the trace says that more than `before` sessions have ended.
void await_session_end(const fs::path& trace, std::size_t before) {
  const auto give_up = clock::now() + WAIT;
  while (sessions_ended(trace) == before && clock::now() < give_up) {
    std::this_thread::sleep_for(1ms);
  }
}

// One program's use of the port. With the simulator's trace given, closing waits until the
// simulator has ended the session (unread answers discarded), so the next session cannot run
// into this one.
struct port {
  int fd = -1;
  fs::path trace;

  explicit port(const std::string& path, fs::path trace_file = {}) : trace(std::move(trace_file)) {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  explicit port(const simulator& sim) : port(sim.path(), trace_of(sim)) {}
  port(const port&) = delete;
  port& operator=(const port&) = delete;

  void send(const bytes& request) {
    EXPECT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  }
  bytes exchange(const bytes& request, std::size_t answer_bytes) {
    send(request);
    return read_bytes(fd, answer_bytes);
  }

  ~port() {
    const std::size_t before = trace.empty() ? 0 : sessions_ended(trace);
    ::close(fd);
    if (!trace.empty()) await_session_end(trace, before);
  }
};

// The trace holds what a raw program and the real tool exchanged, session by session.
TEST(SimPty, AnnouncesATerminalAndAnswersWithTheTraceToMatch) {
  simulator sim;
  struct stat info {};
  ASSERT_EQ(::stat(sim.path().c_str(), &info), 0) << "path line: " << sim.path();
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  {
    port p(sim);
    EXPECT_EQ(p.exchange({0x80, 0x00}, 2), (bytes{0xC0, 0x00}));
    EXPECT_EQ(p.exchange({0x80, 0x21}, 8), (bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x42, 0x3F, 0xFF}));
  }
  const run_result tool = sim.run({"writeid", "12345678"});
  EXPECT_EQ(tool.exit_code, 0) << tool.out << tool.err;
  await_session_end(trace_of(sim), 1);
  EXPECT_EQ(sim.stop().exit_code, 0);
  EXPECT_EQ(sim.trace(), "# session 1\n< 8000\n> c000\n< 8021\n> ffff\n> ffff\n> 0f42\n> 3fff\n"
                         "# session 1 ended\n"
                         "# session 2\n< 8011\n< 1234\n< 5678\n> c000\n# session 2 ended\n");
}

// An open starts a new session: a request or word cut off by the last close is dropped, and the
// next block starts at word 0 (here a write block after a write block). The target's memory
// persists.
TEST(SimPty, EachOpenIsANewSessionAndTheTargetPersists) {
  simulator sim;
  {
    port p(sim);
    EXPECT_EQ(p.exchange({0x80, 0x10, 0x00, 0x02, 0x01, 0x23, 0x04, 0x56, 0xFF, 0xFF}, 2),
              (bytes{0xC0, 0x00}));
    p.send({0x80, 0x11, 0x00, 0x07, 0x80});  // half an ID request, then half a word
  }
  // The simulator holds the terminal's device only while a program does: the next one finds it
  // free.
  EXPECT_EQ(find_device_holders(sim.path().c_str()).count, 0u);
  {
    port p(sim);
    EXPECT_EQ(p.exchange({0x80, 0x10, 0x00, 0x01, 0x07, 0x89, 0xFF, 0xFF}, 2), (bytes{0xC0, 0x00}));
    EXPECT_EQ(p.exchange({0x80, 0x20, 0x00, 0x03}, 8),
              (bytes{0x07, 0x89, 0x04, 0x56, 0x3F, 0xFF, 0xFF, 0xFF}));
  }
  EXPECT_EQ(sim.stop().exit_code, 0);
}

TEST(SimPty, AnswersLeftUnreadDoNotReachTheNextSession) {
  simulator sim({"--long-read", "1"});
  {
    port p(sim);
    p.send({0x80, 0x00});
    pollfd answer{p.fd, POLLIN, 0};
    EXPECT_EQ(::poll(&answer, 1, 5000), 1);  // the answer has come, and is never read
  }
  {
    port p(sim);
    // One word too many; a reader that asked for 2 words stops after 3.
    EXPECT_EQ(p.exchange({0x80, 0x20, 0x00, 0x02}, 6), (bytes{0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF}));
  }
  port p(sim.path());
  EXPECT_EQ(p.exchange({0x80, 0x01}, 2), (bytes{0xC0, 0x00}));
  EXPECT_TRUE(read_bytes(p.fd, 1, 100ms).empty());
}

// A paced answer stops when its program closes the terminal: the rest would reach nobody.
TEST(SimPty, AnAnswerStopsWhenItsProgramHasGone) {
  simulator sim({"--pace"});
  {
    port p(sim);
    p.send({0x80, 0x20, 0x02, 0x00});  // 512 words: about a second on the line
    EXPECT_EQ(read_bytes(p.fd, 20).size(), 20u);
  }
  const std::string text = sim.trace();
  EXPECT_LT(std::count(text.begin(), text.end(), '>'), 200) << "the whole answer went out";
}

// Faults the simulator plays in time: the answer to `request` comes whole, its first
// `early_bytes` within `early_within` of the request, and all of it no sooner than `whole_after`.
struct timed_case {
  const char* name;
  std::vector<std::string> options;
  bytes request;
  bytes answer;
  std::size_t early_bytes;
  std::chrono::milliseconds early_within;
  std::chrono::nanoseconds whole_after;
};

void PrintTo(const timed_case& c, std::ostream* out) { *out << c.name; }

std::vector<timed_case> timed_cases() {
  // A block of 100 words, 206 bytes: 215 ms on the paced line.
  bytes block{0x80, 0x10, 0x00, 0x64};
  block.resize(block.size() + 200, 0x01);
  block.insert(block.end(), {0xFF, 0xFF});
  return {
      // The second byte of each word comes after the pause, the first at once.
      {"split_pause", {"--split-pause", "150"}, {0x80, 0x00}, {0xC0, 0x00}, 1, 100ms, 150ms},
      // Late stale bytes come one a byte time once the terminal is open, before any word is
      // taken; the request is answered after them.
      {"late_stale",
       {"--late-stale", "0102030405060708"},
       {0x80, 0x00},
       {1, 2, 3, 4, 5, 6, 7, 8, 0xC0, 0x00},
       0,
       0ms,
       7 * BYTE_TIME},
      // The early status leaves after the first data word, while the block is still arriving;
      // the block's own status follows once it is whole.
      {"early_status",
       {"--pace", "--word-time", "0", "--early-status", "1"},
       block,
       {0xC0, 0x00, 0xC0, 0x00},
       2,
       150ms,
       206 * BYTE_TIME},
  };
}

class SimPtyTiming : public ::testing::TestWithParam<timed_case> {};

TEST_P(SimPtyTiming, TheAnswerComesAsTheFaultSays) {
  const timed_case& c = GetParam();
  simulator sim(c.options);
  port p(sim.path());
  const auto sent = clock::now();
  p.send(c.request);
  const auto early_end = c.answer.begin() + static_cast<std::ptrdiff_t>(c.early_bytes);
  if (c.early_bytes > 0) {
    EXPECT_EQ(read_bytes(p.fd, c.early_bytes, c.early_within), bytes(c.answer.begin(), early_end));
  }
  EXPECT_EQ(read_bytes(p.fd, c.answer.size() - c.early_bytes), bytes(early_end, c.answer.end()));
  EXPECT_GE(clock::now() - sent, c.whole_after);
}

INSTANTIATE_TEST_SUITE_P(Faults, SimPtyTiming, ::testing::ValuesIn(timed_cases()),
                         test::case_name{});

// Chatter: c000 unasked from the open on, one word every two byte times, never faster; a request
// is still answered in between.
TEST(SimPty, ChatterSendsOkWordsUnaskedAtTheLineRate) {
  simulator sim({"--chatter"});
  const auto opening = clock::now();
  port p(sim.path());
  const bytes first = read_bytes(p.fd, 96);
  EXPECT_GE(clock::now() - opening, 48 * 2 * BYTE_TIME - 2ms);
  ASSERT_EQ(first.size(), 96u);
  for (std::size_t i = 0; i < first.size(); i += 2) {
    EXPECT_EQ(first[i] << 8 | first[i + 1], REPLY_OK) << i;
  }
  p.send({0x80, 0x21});
  const bytes more = read_bytes(p.fd, 400);
  bool answered = false;
  for (std::size_t i = 0; i + 1 < more.size(); i += 2)
    answered |= (more[i] << 8 | more[i + 1]) == 0x0F42;
  EXPECT_TRUE(answered) << "the device ID never came";
}

// --link names the terminal until the simulator ends, by SIGTERM or by playing a hang-up; a file
// that is not a link is never replaced.
TEST(SimPty, LinkIsMadeAndRemovedOnSigterm) {
  const temp_dir dir;
  const fs::path link = dir / "port";
  for (const bool hang_up : {false, true}) {
    SCOPED_TRACE(hang_up ? "hang-up" : "SIGTERM");
    simulator sim({"--link", link.string(), "--hang-up-after", hang_up ? "1" : "0"});
    EXPECT_EQ(fs::read_symlink(link), sim.path());
    {
      port p(link.string());
      EXPECT_EQ(p.exchange({0x80, 0x01}, 2), hang_up ? bytes{} : (bytes{0xC0, 0x00}));
    }
    EXPECT_EQ((hang_up ? sim.wait() : sim.stop()).exit_code, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }
  { std::ofstream(link) << "keep"; }
  simulator refused({"--link", link.string()});
  EXPECT_EQ(refused.wait().exit_code, 1);
  EXPECT_EQ(read_file(link), "keep");
}

// A served device (here the slave of a pair the test holds) is open for good: its line is set as
// the tool sets it, only a pause on the line starts a new session (dropping a half word), and the
// simulator ends with 1 when the device goes away.
TEST(SimPty, ServesAnExistingDeviceWhereAPauseStartsANewSession) {
  test::pty_pair line;
  simulator sim({"--device", line.slave_path(), "--session-gap", "300"});
  EXPECT_EQ(sim.path(), line.slave_path());
  termios tio{};
  ASSERT_EQ(::tcgetattr(line.master(), &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  auto exchange = [&](const bytes& request, std::size_t answer_bytes) {
    test::write_bytes(line.master(), request);
    return read_bytes(line.master(), answer_bytes);
  };
  const bytes read_one{0x80, 0x20, 0x00, 0x01};
  EXPECT_EQ(exchange({0x80, 0x10, 0x00, 0x02, 0x01, 0x23, 0x04, 0x56, 0xFF, 0xFF}, 2),
            (bytes{0xC0, 0x00}));
  EXPECT_EQ(exchange(read_one, 4), (bytes{0x01, 0x23, 0xFF, 0xFF}));
  EXPECT_EQ(exchange(read_one, 4), (bytes{0x04, 0x56, 0xFF, 0xFF}));  // the session goes on
  test::write_bytes(line.master(), {0x80});
  std::this_thread::sleep_for(450ms);
  EXPECT_EQ(exchange(read_one, 4), (bytes{0x01, 0x23, 0xFF, 0xFF}));  // word 0 again
  line.close_master();
  EXPECT_EQ(sim.wait().exit_code, 1);
  const std::string trace = sim.trace();
  EXPECT_EQ(trace.substr(std::min(trace.find("> 0456"), trace.size())),
            "> 0456\n> ffff\n# session 1 ended\n# session 2\n< 8020\n< 0001\n> 0123\n"
            "> ffff\n");
}

// --- Command line -------------------------------------------------------------------------------

options_result parse(std::vector<const char*> args) { return parse_options(args); }

TEST(SimOptions, ValuesAreReadInEitherForm) {
  options_result r = parse({"--device-id",
                            "0F42",
                            "--user-id=0x00123456",
                            "--config",
                            "3f72",
                            "--refuse",
                            "2",
                            "--refuse-status",
                            "c0ff",
                            "--short-read=4",
                            "--split-pause",
                            "30",
                            "--link",
                            "/tmp/x",
                            "--pace",
                            "--extra-status",
                            "3",
                            "--stale",
                            "c000c0",
                            "--late-stale=0a0b",
                            "--early-status=5",
                            "--chatter",
                            "--device",
                            "/dev/ttyGS0",
                            "--session-gap=40"});
  ASSERT_TRUE(r.error.empty()) << r.error << " " << r.culprit;
  EXPECT_EQ(r.options.target.device_id, test::DEVICE_ID);
  EXPECT_EQ(r.options.target.user_id, 0x00123456u);
  EXPECT_EQ(r.options.target.config, 0x3F72);
  EXPECT_EQ(r.options.faults.refuse_exchange, 2u);
  EXPECT_EQ(r.options.faults.refuse_status, 0xC0FF);
  EXPECT_EQ(r.options.faults.short_read_block, 4u);
  EXPECT_EQ(r.options.split_pause_ms, 30u);
  EXPECT_EQ(r.options.link_path, "/tmp/x");
  EXPECT_EQ(r.options.word_time_us, PACED_WORD_TIME_US);
  EXPECT_EQ(r.options.faults.extra_status, 3u);
  EXPECT_EQ(bytes(r.options.stale.view().begin(), r.options.stale.view().end()),
            (bytes{0xC0, 0x00, 0xC0}));
  EXPECT_EQ(r.options.late_stale.size, 2u);
  EXPECT_EQ(r.options.faults.early_status, 5u);
  EXPECT_TRUE(r.options.chatter);
  EXPECT_FALSE(parse({}).options.chatter);
  EXPECT_EQ(r.options.device_path, "/dev/ttyGS0");
  EXPECT_EQ(r.options.session_gap_ms, 40u);

  EXPECT_EQ(parse({"--pace", "--word-time", "0"}).options.word_time_us, 0u);
  EXPECT_EQ(parse({}).options.word_time_us, 0u);
}

// Bad values and forms; unknown options and missing values are rows of the next test.
TEST(SimOptions, BadCommandLinesAreRejected) {
  for (const auto& args : std::vector<std::vector<const char*>>{{"--device-id", "10000"},
                                                                {"--device-id", "zz"},
                                                                {"--refuse", "-1"},
                                                                {"--trace="},
                                                                {"--device="},
                                                                {"--session-gap", "0.5"},
                                                                {"--pace=1"},
                                                                {"--chatter", "1"},
                                                                {"--early-status", "x"},
                                                                {"extra"}}) {
    EXPECT_FALSE(parse(args).error.empty()) << args.front();
  }
}

// The built binary: --help lists every option, --version gives the version, and a bad command line
// is named on standard error, with the usage, exit code 2.
TEST(SimOptions, TheBinaryListsItsOptionsAndNamesABadOne) {
  const run_result help = test::run_binary(TTYPROG_SIM_BIN, {"ttyprog-sim", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* option :
       {"--link", "--trace", "--device-id", "--refuse", "--silent-after", "--hang-up-after",
        "--short-read", "--long-read", "--split-pause", "--pace", "--word-time", "--extra-status",
        "--stale", "--late-stale", "--early-status", "--chatter", "--device", "--session-gap"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }

  struct line_case {
    std::vector<std::string> args;
    int exit_code;
    std::string out;  // a pattern for the whole of standard output
    std::string err;  // the first line of standard error
  };
  const line_case cases[] = {
      {{"--version"}, 0, R"(ttyprog-sim \d+\.\d+\.\d+\n)", ""},
      {{"--no-such-option"}, 2, "", "ttyprog-sim: unknown option: --no-such-option"},
      {{"--no-such-option", "1"}, 2, "", "ttyprog-sim: unknown option: --no-such-option"},
      {{"-x"}, 2, "", "ttyprog-sim: unknown option: -x"},
      {{"--trace"}, 2, "", "ttyprog-sim: missing value for option: --trace"},
  };
  for (const line_case& c : cases) {
    SCOPED_TRACE(c.args.front());
    std::vector<std::string> argv{"ttyprog-sim"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const run_result got = test::run_binary(TTYPROG_SIM_BIN, argv);
    EXPECT_EQ(got.exit_code, c.exit_code);
    EXPECT_TRUE(std::regex_match(got.out, std::regex(c.out))) << got.out;
    EXPECT_EQ(got.err.substr(0, got.err.find('\n')), c.err);
    if (c.exit_code != 0) {
      EXPECT_NE(got.err.find("Usage: ttyprog-sim"), std::string::npos) << got.err;
    }
  }
}

}  // namespace
}  // namespace ttyprog::sim
