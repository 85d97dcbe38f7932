// The built ttyprog-sim on its real pseudo-terminal, talked to byte by byte: the announced path,
// answers, sessions, the link, the trace, the command line, and a run of the real tool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

constexpr auto WAIT = 5s;

// Waits for `fd` to become readable; false after `bound`.
bool readable(int fd, std::chrono::milliseconds bound) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(bound.count())) > 0 && (p.revents & POLLIN);
}

// Reads until `count` bytes have come or nothing more comes within `bound`.
bytes read_bytes(int fd, std::size_t count, std::chrono::milliseconds bound = WAIT) {
  bytes got;
  std::array<std::uint8_t, 256> buffer{};
  while (got.size() < count && readable(fd, bound)) {
    ssize_t n = ::read(fd, buffer.data(), std::min(buffer.size(), count - got.size()));
    if (n <= 0) break;
    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
  }
  return got;
}

std::string slurp(const fs::path& file) {
  std::ifstream in(file);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct finished {
  int status = -1;
  std::string out, err;
};

// Starts `argv` with standard output and error on pipes.
struct child {
  pid_t pid = -1;
  int out = -1, err = -1;

  explicit child(const std::vector<std::string>& argv) {
    std::array<int, 2> o{}, e{};
    if (::pipe2(o.data(), O_CLOEXEC) != 0 || ::pipe2(e.data(), O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, o[1], 1);
    posix_spawn_file_actions_adddup2(&actions, e[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(o[1]);
    ::close(e[1]);
    out = o[0];
    err = e[0];
  }
  child(const child&) = delete;
  child& operator=(const child&) = delete;

  // Reads one line of standard output.
  std::string line() {
    std::string text;
    char c = 0;
    while (readable(out, WAIT) && ::read(out, &c, 1) == 1 && c != '\n') text += c;
    return text;
  }

  // Collects the rest of the output and the exit status; kills the child if it overstays.
  finished finish(std::chrono::milliseconds bound = WAIT) {
    finished f;
    for (int fd : {out, err}) {
      std::string& into = fd == out ? f.out : f.err;
      std::array<char, 4096> buffer{};
      while (readable(fd, bound)) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) break;
        into.append(buffer.data(), static_cast<std::size_t>(n));
      }
    }
    if (::waitpid(pid, &f.status, WNOHANG) == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &f.status, 0);
    }
    pid = -1;
    return f;
  }

  ~child() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    ::close(out);
    ::close(err);
  }
};

// The simulator, announced path read, stopped with SIGTERM at the end.
struct simulator {
  child process;
  std::string path;

  explicit simulator(std::vector<std::string> options) : process(with_binary(std::move(options))) {
    path = process.line();
  }

  static std::vector<std::string> with_binary(std::vector<std::string> options) {
    options.insert(options.begin(), TTYPROG_SIM_BIN);
    return options;
  }

  finished stop() {
    ::kill(process.pid, SIGTERM);
    return process.finish();
  }
};

// One program's use of the port: opens the slave, and on close waits until the simulator has
// seen the session end (it opens the slave once for a moment to discard unread answers), so the
// next session cannot run into this one.
struct port {
  int fd = -1;
  int watch = -1;

  explicit port(const std::string& path) {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    watch = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(watch, path.c_str(), IN_OPEN);
  }
  port(const port&) = delete;
  port& operator=(const port&) = delete;

  bytes exchange(const bytes& request, std::size_t answer_bytes) {
    EXPECT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    return read_bytes(fd, answer_bytes);
  }

  ~port() {
    std::array<char, 256> events{};
    while (readable(watch, 0ms)) (void)::read(watch, events.data(), events.size());
    ::close(fd);
    if (readable(watch, WAIT)) (void)::read(watch, events.data(), events.size());
    ::close(watch);
  }
};

fs::path scratch_dir() {
  fs::path dir =
      fs::temp_directory_path() / ("ttyprog-sim-test-" + std::to_string(::getpid()) + "-" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(SimPty, AnnouncesATerminalAndAnswersWithTheTraceToMatch) {
  const fs::path dir = scratch_dir();
  simulator sim({"--trace", (dir / "trace").string()});
  struct stat info {};
  ASSERT_EQ(::stat(sim.path.c_str(), &info), 0) << "path line: " << sim.path;
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  {
    port p(sim.path);
    EXPECT_EQ(p.exchange({0x80, 0x00}, 2), (bytes{0xC0, 0x00}));
    EXPECT_EQ(p.exchange({0x80, 0x21}, 8), (bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x2C, 0x05, 0x3F, 0xFF}));
  }
  EXPECT_EQ(sim.stop().status, 0);
  EXPECT_EQ(slurp(dir / "trace"),
            "# session 1\n< 8000\n> c000\n< 8021\n> ffff\n> ffff\n> 2c05\n> 3fff\n");
  fs::remove_all(dir);
}

TEST(SimPty, EachOpenIsANewSessionAndTheTargetPersists) {
  simulator sim({"--user-id", "12345678"});
  {
    port p(sim.path);
    EXPECT_EQ(p.exchange({0x80, 0x10, 0x00, 0x02, 0x01, 0x23, 0x04, 0x56, 0xFF, 0xFF}, 2),
              (bytes{0xC0, 0x00}));
    // A half word at the end of the session is dropped.
    EXPECT_EQ(::write(p.fd, "\x80", 1), 1);
  }
  {
    port p(sim.path);
    // The block position starts at word 0 again: the words written in the last session.
    EXPECT_EQ(p.exchange({0x80, 0x20, 0x00, 0x03}, 8),
              (bytes{0x01, 0x23, 0x04, 0x56, 0x3F, 0xFF, 0xFF, 0xFF}));
  }
  EXPECT_EQ(sim.stop().status, 0);
}

TEST(SimPty, AnswersLeftUnreadDoNotReachTheNextSession) {
  simulator sim({"--long-read", "1"});
  {
    port p(sim.path);
    EXPECT_EQ(::write(p.fd, "\x80\x00", 2), 2);  // the answer is never read
  }
  {
    port p(sim.path);
    // One word too many; a reader that asked for 2 words stops after 3.
    EXPECT_EQ(p.exchange({0x80, 0x20, 0x00, 0x02}, 6), (bytes{0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF}));
  }
  port p(sim.path);
  EXPECT_EQ(p.exchange({0x80, 0x01}, 2), (bytes{0xC0, 0x00}));
  EXPECT_TRUE(read_bytes(p.fd, 1, 100ms).empty());
}

TEST(SimPty, LinkIsMadeAndRemovedOnSigterm) {
  const fs::path dir = scratch_dir();
  const fs::path link = dir / "port";
  {
    simulator sim({"--link", link.string()});
    EXPECT_EQ(fs::read_symlink(link), sim.path);
    {
      port p(link.string());
      EXPECT_EQ(p.exchange({0x80, 0x01}, 2), (bytes{0xC0, 0x00}));
    }
    EXPECT_EQ(sim.stop().status, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }
  // A file that is not a link is never replaced.
  { std::ofstream(link) << "keep"; }
  simulator refused({"--link", link.string()});
  finished f = refused.process.finish();
  EXPECT_TRUE(WIFEXITED(f.status) && WEXITSTATUS(f.status) == 1);
  EXPECT_EQ(slurp(link), "keep");
  fs::remove_all(dir);
}

TEST(SimPty, SplitPauseDelaysTheSecondByteOfEachWord) {
  simulator sim({"--split-pause", "150"});
  port p(sim.path);
  EXPECT_EQ(::write(p.fd, "\x80\x00", 2), 2);
  EXPECT_EQ(read_bytes(p.fd, 2, 100ms), (bytes{0xC0}));
  EXPECT_EQ(read_bytes(p.fd, 1), (bytes{0x00}));
}

TEST(SimPty, HangUpFaultDropsTheLineAndEndsTheSimulator) {
  const fs::path dir = scratch_dir();
  simulator sim({"--hang-up-after", "3", "--link", (dir / "port").string()});
  int fd = ::open(sim.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
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
  finished f = sim.process.finish();
  EXPECT_TRUE(WIFEXITED(f.status) && WEXITSTATUS(f.status) == 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "port")));
  fs::remove_all(dir);
}

TEST(SimPty, CommandLine) {
  child help({TTYPROG_SIM_BIN, "--help"});
  finished h = help.finish();
  EXPECT_TRUE(WIFEXITED(h.status) && WEXITSTATUS(h.status) == 0);
  for (const char* option :
       {"--link", "--trace", "--device-id", "--refuse", "--silent-after", "--hang-up-after",
        "--short-read", "--long-read", "--split-pause", "--pace", "--word-time"}) {
    EXPECT_NE(h.out.find(option), std::string::npos) << option;
  }

  child bad({TTYPROG_SIM_BIN, "--no-such-option"});
  finished b = bad.finish();
  EXPECT_TRUE(WIFEXITED(b.status) && WEXITSTATUS(b.status) == 2);
  EXPECT_TRUE(b.out.empty());
  EXPECT_NE(b.err.find("Usage: ttyprog-sim"), std::string::npos);
}

TEST(SimPty, ServesTheRealTool) {
  const fs::path dir = scratch_dir();
  simulator sim({"--trace", (dir / "trace").string()});
  child tool({TTYPROG_BIN, sim.path, "writeid", "12345678"});
  finished t = tool.finish(10s);
  EXPECT_TRUE(WIFEXITED(t.status) && WEXITSTATUS(t.status) == 0) << t.out << t.err;
  EXPECT_EQ(sim.stop().status, 0);
  EXPECT_EQ(slurp(dir / "trace"), "# session 1\n< 8011\n< 1234\n< 5678\n> c000\n");
  fs::remove_all(dir);
}

}  // namespace
