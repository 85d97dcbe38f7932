// The built ttyprog-sim on its real pseudo-terminal, talked to byte by byte: the announced path,
// answers, sessions, the link, the trace, the command line, and a run of the real tool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/port_diagnosis.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/simulator.h"
#include "support/temp_dir.h"
#include "wire.h"

namespace {

using namespace std::chrono_literals;
using bytes = std::vector<std::uint8_t>;
using ttyprog::test::read_file;
using ttyprog::test::run_result;
using ttyprog::test::simulator;
using ttyprog::test::temp_dir;
namespace fs = std::filesystem;

constexpr auto WAIT = 5s;

// Waits for `fd` to become readable; false after `bound`.
bool readable(int fd, std::chrono::milliseconds bound) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(bound.count())) > 0 && (p.revents & POLLIN);
}

bytes read_bytes(int fd, std::size_t count, std::chrono::milliseconds bound = WAIT) {
  return ttyprog::test::read_bytes(fd, count, bound);
}

// How many sessions the trace says have ended.
std::size_t sessions_ended(const fs::path& trace) {
  const std::string text = read_file(trace);
  std::size_t count = 0;
  for (std::size_t at = text.find(" ended\n"); at != std::string::npos; at = text.find(" ended\n", at + 1)) {
    ++count;
  }
  return count;
}

// Waits until the trace says that one more session has ended than `before`.
void await_session_end(const fs::path& trace, std::size_t before) {
  const auto give_up = std::chrono::steady_clock::now() + WAIT;
  while (sessions_ended(trace) == before && std::chrono::steady_clock::now() < give_up) {
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
  port(const port&) = delete;
  port& operator=(const port&) = delete;

  bytes exchange(const bytes& request, std::size_t answer_bytes) {
    EXPECT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    return read_bytes(fd, answer_bytes);
  }

  ~port() {
    const std::size_t before = trace.empty() ? 0 : sessions_ended(trace);
    ::close(fd);
    if (!trace.empty()) await_session_end(trace, before);
  }
};

TEST(SimPty, AnnouncesATerminalAndAnswersWithTheTraceToMatch) {
  simulator sim;
  struct stat info {};
  ASSERT_EQ(::stat(sim.path().c_str(), &info), 0) << "path line: " << sim.path();
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  {
    port p(sim.path(), sim.dir() / "trace");
    EXPECT_EQ(p.exchange({0x80, 0x00}, 2), (bytes{0xC0, 0x00}));
    EXPECT_EQ(p.exchange({0x80, 0x21}, 8), (bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x42, 0x3F, 0xFF}));
  }
  EXPECT_EQ(sim.stop().exit_code, 0);
  EXPECT_EQ(sim.trace(),
            "# session 1\n< 8000\n> c000\n< 8021\n> ffff\n> ffff\n> 0f42\n> 3fff\n"
            "# session 1 ended\n");
}

TEST(SimPty, EachOpenIsANewSessionAndTheTargetPersists) {
  const temp_dir dir;
  const fs::path trace = dir / "trace";
  simulator sim({"--user-id", "12345678", "--trace", trace.string()});
  {
    port p(sim.path(), trace);
    EXPECT_EQ(p.exchange({0x80, 0x10, 0x00, 0x02, 0x01, 0x23, 0x04, 0x56, 0xFF, 0xFF}, 2),
              (bytes{0xC0, 0x00}));
    // A half word at the end of the session is dropped.
    EXPECT_EQ(::write(p.fd, "\x80", 1), 1);
  }
  // The simulator holds the terminal's device only while a program does: the next one finds it free.
  EXPECT_EQ(ttyprog::find_device_holders(sim.path().c_str()).count, 0u);
  {
    port p(sim.path(), trace);
    // The block position starts at word 0 again: the words written in the last session.
    EXPECT_EQ(p.exchange({0x80, 0x20, 0x00, 0x03}, 8),
              (bytes{0x01, 0x23, 0x04, 0x56, 0x3F, 0xFF, 0xFF, 0xFF}));
  }
  EXPECT_EQ(sim.stop().exit_code, 0);
}

TEST(SimPty, AnswersLeftUnreadDoNotReachTheNextSession) {
  const temp_dir dir;
  const fs::path trace = dir / "trace";
  simulator sim({"--long-read", "1", "--trace", trace.string()});
  {
    port p(sim.path(), trace);
    EXPECT_EQ(::write(p.fd, "\x80\x00", 2), 2);
    EXPECT_TRUE(readable(p.fd, WAIT));  // the answer has come, and is never read
  }
  {
    port p(sim.path(), trace);
    // One word too many; a reader that asked for 2 words stops after 3.
    EXPECT_EQ(p.exchange({0x80, 0x20, 0x00, 0x02}, 6), (bytes{0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF}));
  }
  port p(sim.path());
  EXPECT_EQ(p.exchange({0x80, 0x01}, 2), (bytes{0xC0, 0x00}));
  EXPECT_TRUE(read_bytes(p.fd, 1, 100ms).empty());
}

// A paced answer stops when its program closes the terminal: the rest would reach nobody.
TEST(SimPty, AnAnswerStopsWhenItsProgramHasGone) {
  const temp_dir dir;
  const fs::path trace = dir / "trace";
  simulator sim({"--pace", "--trace", trace.string()});
  {
    port p(sim.path(), trace);
    EXPECT_EQ(::write(p.fd, "\x80\x20\x02\x00", 4), 4);  // 512 words: about a second on the line
    EXPECT_EQ(read_bytes(p.fd, 20).size(), 20u);
  }
  const std::string text = read_file(trace);
  EXPECT_LT(std::count(text.begin(), text.end(), '>'), 200) << "the whole answer went out";
}

// Late stale bytes come one a byte time once a program has opened the terminal, before the
// simulator takes any word; the program's request is answered after them.
TEST(SimPty, LateStaleBytesTrickleInAfterTheOpen) {
  simulator sim({"--late-stale", "0102030405060708"});
  port p(sim.path());
  const auto opened = std::chrono::steady_clock::now();
  EXPECT_EQ(::write(p.fd, "\x80\x00", 2), 2);
  EXPECT_EQ(read_bytes(p.fd, 10), (bytes{1, 2, 3, 4, 5, 6, 7, 8, 0xC0, 0x00}));
  EXPECT_GE(std::chrono::steady_clock::now() - opened, 7 * ttyprog::BYTE_TIME);
}

// Chatter: c000 unasked from the open on, one word every two byte times, never faster; a request
// is still answered in between.
TEST(SimPty, ChatterSendsOkWordsUnaskedAtTheLineRate) {
  simulator sim({"--chatter"});
  const auto opening = std::chrono::steady_clock::now();
  port p(sim.path());
  const bytes first = read_bytes(p.fd, 96);
  EXPECT_GE(std::chrono::steady_clock::now() - opening, 48 * 2 * ttyprog::BYTE_TIME - 2ms);
  ASSERT_EQ(first.size(), 96u);
  for (std::size_t i = 0; i < first.size(); i += 2) {
    EXPECT_EQ(first[i] << 8 | first[i + 1], ttyprog::REPLY_OK) << i;
  }
  EXPECT_EQ(::write(p.fd, "\x80\x21", 2), 2);
  const bytes more = read_bytes(p.fd, 400);
  bool answered = false;
  for (std::size_t i = 0; i + 1 < more.size(); i += 2) answered |= (more[i] << 8 | more[i + 1]) == 0x0F42;
  EXPECT_TRUE(answered) << "the device ID never came";
}

// An early status leaves while the block is still on its way in: on the paced line a block of 103
// words takes 215 ms to arrive, its early word comes after its first data word.
TEST(SimPty, EarlyStatusComesWhileTheBlockIsStillArriving) {
  simulator sim({"--pace", "--word-time", "0", "--early-status", "1"});
  port p(sim.path());
  bytes block{0x80, 0x10, 0x00, 0x64};
  block.resize(block.size() + 200, 0x01);
  block.insert(block.end(), {0xFF, 0xFF});
  const auto sent = std::chrono::steady_clock::now();
  EXPECT_EQ(::write(p.fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
  EXPECT_EQ(read_bytes(p.fd, 2), (bytes{0xC0, 0x00}));
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 150ms);
  EXPECT_EQ(read_bytes(p.fd, 2), (bytes{0xC0, 0x00}));  // the block's own status
  EXPECT_GE(std::chrono::steady_clock::now() - sent, 206 * ttyprog::BYTE_TIME);
}

TEST(SimPty, LinkIsMadeAndRemovedOnSigterm) {
  const temp_dir dir;
  const fs::path link = dir / "port";
  {
    simulator sim({"--link", link.string()});
    EXPECT_EQ(fs::read_symlink(link), sim.path());
    {
      port p(link.string());
      EXPECT_EQ(p.exchange({0x80, 0x01}, 2), (bytes{0xC0, 0x00}));
    }
    EXPECT_EQ(sim.stop().exit_code, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }
  // A file that is not a link is never replaced.
  { std::ofstream(link) << "keep"; }
  simulator refused({"--link", link.string()});
  EXPECT_EQ(refused.wait().exit_code, 1);
  EXPECT_EQ(read_file(link), "keep");
}

TEST(SimPty, SplitPauseDelaysTheSecondByteOfEachWord) {
  simulator sim({"--split-pause", "150"});
  port p(sim.path());
  EXPECT_EQ(::write(p.fd, "\x80\x00", 2), 2);
  EXPECT_EQ(read_bytes(p.fd, 2, 100ms), (bytes{0xC0}));
  EXPECT_EQ(read_bytes(p.fd, 1), (bytes{0x00}));
}

TEST(SimPty, HangUpFaultDropsTheLineAndEndsTheSimulator) {
  const temp_dir dir;
  simulator sim({"--hang-up-after", "3", "--link", (dir / "port").string()});
  int fd = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::write(fd, "\x80\x00\x80\x12\x00", 5), 5);
  EXPECT_EQ(read_bytes(fd, 2), (bytes{0xC0, 0x00}));
  EXPECT_EQ(::write(fd, "\x01", 1), 1);  // word 3
  pollfd line{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&line, 1, 5000), 1);
  EXPECT_TRUE(line.revents & POLLHUP);
  std::array<char, 4> buffer{};
  EXPECT_LE(::read(fd, buffer.data(), buffer.size()), 0);  // nothing answered word 3
  ::close(fd);
  EXPECT_EQ(sim.wait().exit_code, 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "port")));
}

// A served device (here the slave of a pair the test holds) is open for good: its line is set as
// the tool sets it, only a pause on the line starts a new session (dropping a half word), and the
// simulator ends with 1 when the device goes away.
TEST(SimPty, ServesAnExistingDeviceWhereAPauseStartsANewSession) {
  ttyprog::test::pty_pair line;
  simulator sim({"--device", line.slave_path(), "--session-gap", "300"});
  EXPECT_EQ(sim.path(), line.slave_path());
  termios tio{};
  ASSERT_EQ(::tcgetattr(line.master(), &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  auto exchange = [&](const bytes& request, std::size_t answer_bytes) {
    ttyprog::test::write_bytes(line.master(), request);
    return read_bytes(line.master(), answer_bytes);
  };
  const bytes read_one{0x80, 0x20, 0x00, 0x01};
  EXPECT_EQ(exchange({0x80, 0x10, 0x00, 0x02, 0x01, 0x23, 0x04, 0x56, 0xFF, 0xFF}, 2),
            (bytes{0xC0, 0x00}));
  EXPECT_EQ(exchange(read_one, 4), (bytes{0x01, 0x23, 0xFF, 0xFF}));
  EXPECT_EQ(exchange(read_one, 4), (bytes{0x04, 0x56, 0xFF, 0xFF}));  // the session goes on
  ttyprog::test::write_bytes(line.master(), {0x80});
  std::this_thread::sleep_for(450ms);
  EXPECT_EQ(exchange(read_one, 4), (bytes{0x01, 0x23, 0xFF, 0xFF}));  // word 0 again
  line.close_master();
  EXPECT_EQ(sim.wait().exit_code, 1);
  const std::string trace = sim.trace();
  EXPECT_EQ(trace.substr(std::min(trace.find("> 0456"), trace.size())),
            "> 0456\n> ffff\n# session 1 ended\n# session 2\n< 8020\n< 0001\n> 0123\n"
            "> ffff\n");
}

TEST(SimPty, CommandLine) {
  const run_result h = ttyprog::test::run_binary(TTYPROG_SIM_BIN, {TTYPROG_SIM_BIN, "--help"});
  EXPECT_EQ(h.exit_code, 0);
  for (const char* option :
       {"--link", "--trace", "--device-id", "--refuse", "--silent-after", "--hang-up-after",
        "--short-read", "--long-read", "--split-pause", "--pace", "--word-time", "--extra-status",
        "--stale", "--late-stale", "--early-status", "--chatter", "--device", "--session-gap"}) {
    EXPECT_NE(h.out.find(option), std::string::npos) << option;
  }

  const run_result b =
      ttyprog::test::run_binary(TTYPROG_SIM_BIN, {TTYPROG_SIM_BIN, "--no-such-option"});
  EXPECT_EQ(b.exit_code, 2);
  EXPECT_TRUE(b.out.empty());
  EXPECT_NE(b.err.find("Usage: ttyprog-sim"), std::string::npos);
}

TEST(SimPty, ServesTheRealTool) {
  simulator sim;
  const run_result t = sim.run({"writeid", "12345678"});
  EXPECT_EQ(t.exit_code, 0) << t.out << t.err;
  await_session_end(sim.dir() / "trace", 0);
  EXPECT_EQ(sim.stop().exit_code, 0);
  EXPECT_EQ(sim.trace(),
            "# session 1\n< 8011\n< 1234\n< 5678\n> c000\n# session 1 ended\n");
}

}  // namespace
