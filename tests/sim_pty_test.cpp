// The built ttyprog-sim on its real pseudo-terminal, talked to byte by byte: the announced path,
// answers, sessions, the link, the trace, the command line, and a run of the real tool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/expected.h"
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

// One program's use of the port: opens the slave, and on close waits until the simulator has
// ended the session, so the next session cannot run into this one. The simulator ends it by
// opening the slave for a moment to discard unread answers; they are gone only once it has
// closed the slave again (a program that opens it in between can still read them).
struct port {
  int fd = -1;
  int watch = -1;

  explicit port(const std::string& path) {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    watch = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(watch, path.c_str(), IN_OPEN | IN_CLOSE);
  }
  port(const port&) = delete;
  port& operator=(const port&) = delete;

  bytes exchange(const bytes& request, std::size_t answer_bytes) {
    EXPECT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    return read_bytes(fd, answer_bytes);
  }

  ~port() {
    alignas(inotify_event) std::array<char, 256> events{};
    while (readable(watch, 0ms)) (void)::read(watch, events.data(), events.size());
    ::close(fd);  // its own close event comes before the simulator's open
    bool opened = false;
    while (readable(watch, WAIT)) {
      const ssize_t n = ::read(watch, events.data(), events.size());
      for (std::size_t at = 0; n > 0 && at < static_cast<std::size_t>(n);) {
        const auto* event = reinterpret_cast<const inotify_event*>(events.data() + at);
        if (event->mask & IN_OPEN) opened = true;
        if (opened && (event->mask & IN_CLOSE)) {
          ::close(watch);
          return;
        }
        at += sizeof(inotify_event) + event->len;
      }
    }
    ::close(watch);
  }
};

TEST(SimPty, AnnouncesATerminalAndAnswersWithTheTraceToMatch) {
  simulator sim;
  struct stat info {};
  ASSERT_EQ(::stat(sim.path().c_str(), &info), 0) << "path line: " << sim.path();
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  {
    port p(sim.path());
    EXPECT_EQ(p.exchange({0x80, 0x00}, 2), (bytes{0xC0, 0x00}));
    const auto [id_high, id_low] = ttyprog::encode_word(ttyprog::test::DEVICE_ID);
    EXPECT_EQ(p.exchange({0x80, 0x21}, 8),
              (bytes{0xFF, 0xFF, 0xFF, 0xFF, id_high, id_low, 0x3F, 0xFF}));
  }
  EXPECT_EQ(sim.stop().exit_code, 0);
  EXPECT_EQ(sim.trace(), "# session 1\n< 8000\n> c000\n< 8021\n> ffff\n> ffff\n> " +
                             ttyprog::test::DEVICE_ID_TEXT + "\n> 3fff\n");
}

TEST(SimPty, EachOpenIsANewSessionAndTheTargetPersists) {
  simulator sim({"--user-id", "12345678"});
  {
    port p(sim.path());
    EXPECT_EQ(p.exchange({0x80, 0x10, 0x00, 0x02, 0x01, 0x23, 0x04, 0x56, 0xFF, 0xFF}, 2),
              (bytes{0xC0, 0x00}));
    // A half word at the end of the session is dropped.
    EXPECT_EQ(::write(p.fd, "\x80", 1), 1);
  }
  {
    port p(sim.path());
    // The block position starts at word 0 again: the words written in the last session.
    EXPECT_EQ(p.exchange({0x80, 0x20, 0x00, 0x03}, 8),
              (bytes{0x01, 0x23, 0x04, 0x56, 0x3F, 0xFF, 0xFF, 0xFF}));
  }
  EXPECT_EQ(sim.stop().exit_code, 0);
}

TEST(SimPty, AnswersLeftUnreadDoNotReachTheNextSession) {
  simulator sim({"--long-read", "1"});
  {
    port p(sim.path());
    EXPECT_EQ(::write(p.fd, "\x80\x00", 2), 2);
    EXPECT_TRUE(readable(p.fd, WAIT));  // the answer has come, and is never read
  }
  {
    port p(sim.path());
    // One word too many; a reader that asked for 2 words stops after 3.
    EXPECT_EQ(p.exchange({0x80, 0x20, 0x00, 0x02}, 6), (bytes{0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF}));
  }
  port p(sim.path());
  EXPECT_EQ(p.exchange({0x80, 0x01}, 2), (bytes{0xC0, 0x00}));
  EXPECT_TRUE(read_bytes(p.fd, 1, 100ms).empty());
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

TEST(SimPty, CommandLine) {
  const run_result h = ttyprog::test::run_binary(TTYPROG_SIM_BIN, {TTYPROG_SIM_BIN, "--help"});
  EXPECT_EQ(h.exit_code, 0);
  for (const char* option :
       {"--link", "--trace", "--device-id", "--refuse", "--silent-after", "--hang-up-after",
        "--short-read", "--long-read", "--split-pause", "--pace", "--word-time"}) {
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
  EXPECT_EQ(sim.stop().exit_code, 0);
  EXPECT_EQ(sim.trace(), "# session 1\n< 8011\n< 1234\n< 5678\n> c000\n");
}

}  // namespace
