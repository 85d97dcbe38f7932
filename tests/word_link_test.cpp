// The serial word link, driven directly through a real pty: bytes on the wire, the bounded waits,
// the line settings and who may hold the port. What whole runs show of the link (words split or
// stale, silence, chatter, a dropped line) are rows of fault_matrix_test.cpp; here is what only
// the link's own calls reach.
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "link/word_link.h"
#include "support/pty.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;
using test::pty_pair;
using test::read_bytes;
using test::write_bytes;
using bytes = std::vector<std::uint8_t>;
using clock = std::chrono::steady_clock;

constexpr auto SHORT_BOUND = 300ms;
// For tests where a time-out would be the wrong answer: long enough to tell it from "promptly".
constexpr auto LONG_BOUND = 5000ms;
// What "promptly" and "soon after the bound" allow for a loaded machine.
constexpr auto SLACK = 700ms;

std::chrono::milliseconds since(clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start);
}

serial_port open_pty(const pty_pair& pty, std::chrono::milliseconds bound = SHORT_BOUND) {
  std::optional<serial_port> port = open_port(pty.slave_path().c_str(), bound).port;
  if (!port) throw std::runtime_error("open_port failed on " + pty.slave_path());
  return std::move(*port);
}

TEST(WordLinkSend, PutsTheLow16BitsOnTheLineHighByteFirst) {
  struct sent {
    unsigned value;
    bytes wire;
  };
  const sent cases[] = {
      {0x8021, {0x80, 0x21}},
      {0xFFFF, {0xFF, 0xFF}},
      {0x12345, {0x23, 0x45}},
      {0x0000, {0x00, 0x00}},
  };
  pty_pair pty;
  serial_port port = open_pty(pty);
  for (const sent& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_EQ(send_word(port, c.value), link_status::ok);
    EXPECT_EQ(read_bytes(pty.master(), 3, 100ms), c.wire);  // exactly two bytes, nothing more
  }
}

// The wait sleeps until the line reports a whole word (VMIN 2). A device that reports every
// byte keeps half a word readable; the wait must still take only whole words there.
TEST(WordLinkReceive, TakesWholeWordsFromADeviceThatWakesForEveryByte) {
  pty_pair pty;
  serial_port port = open_pty(pty, LONG_BOUND);
  termios every_byte{};
  ASSERT_EQ(tcgetattr(pty.master(), &every_byte), 0);
  every_byte.c_cc[VMIN] = 0;
  ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &every_byte), 0);

  write_bytes(pty.master(), {0x12});
  std::jthread late([&] {
    std::this_thread::sleep_for(50ms);
    write_bytes(pty.master(), {0x34, 0x56});
  });
  const word_result first = receive_word(port);
  EXPECT_EQ(first.status, link_status::ok);
  EXPECT_EQ(first.word, 0x1234);
  late.join();
  write_bytes(pty.master(), {0x78});
  const word_result second = receive_word(port);
  EXPECT_EQ(second.status, link_status::ok);
  EXPECT_EQ(second.word, 0x5678);
}

// The bound is "no new byte for that long": a byte arriving mid-word starts it again.
TEST(WordLinkBound, HalfAWordThenSilenceTimesOutABoundAfterTheByte) {
  pty_pair pty;
  serial_port port = open_pty(pty);
  const auto start = clock::now();
  std::jthread half([&] {
    std::this_thread::sleep_for(200ms);
    write_bytes(pty.master(), {0xC0});
  });
  EXPECT_EQ(receive_word(port).status, link_status::timed_out);
  const auto took = since(start);
  EXPECT_GE(took, 200ms + SHORT_BOUND);
  EXPECT_LT(took, 200ms + SHORT_BOUND + SLACK);
}

TEST(WordLinkBound, SendIntoALineNobodyReadsTimesOut) {
  pty_pair pty;
  serial_port port = open_pty(pty);
  // The pty takes some kilobytes before writes stop making progress.
  link_status status = link_status::ok;
  auto last_call = clock::now();
  const auto start = clock::now();
  for (int i = 0; i < 1'000'000 && status == link_status::ok && since(start) < 10s; ++i) {
    last_call = clock::now();
    status = send_word(port, 0x5555);
  }
  EXPECT_EQ(status, link_status::timed_out);
  const auto took = since(last_call);
  EXPECT_GE(took, SHORT_BOUND);
  EXPECT_LT(took, SHORT_BOUND + SLACK);
}

// A line that drops ends the wait it happens in (half a word pending), and every later receive and
// send, at once.
TEST(WordLinkLost, ADroppedLineEndsEveryWaitPromptly) {
  pty_pair pty;
  serial_port port = open_pty(pty, LONG_BOUND);
  write_bytes(pty.master(), {0xC0});
  std::jthread hang_up([&] {
    std::this_thread::sleep_for(100ms);
    pty.close_master();
  });
  const auto start = clock::now();
  EXPECT_EQ(receive_word(port).status, link_status::lost);
  EXPECT_LT(since(start), 100ms + SLACK);
  hang_up.join();

  const auto after = clock::now();
  EXPECT_EQ(receive_word(port).status, link_status::lost);
  EXPECT_EQ(send_word(port, 0x8000), link_status::lost);
  EXPECT_LT(since(after), SLACK);
}

TEST(WordLinkQuiet, AQuietLineOpensAfterTheQuietTime) {
  pty_pair pty;
  const auto start = clock::now();
  serial_port port = open_pty(pty, LONG_BOUND);
  const auto took = clock::now() - start;
  EXPECT_GE(took, QUIET_TIME);
  EXPECT_LT(took, QUIET_TIME + SLACK);
}

// The pty forces 8 data bits, no parity and the receiver on whatever is asked; speed, stop bits,
// flow control, modem-line handling and the raw modes are kept as set, so the test first sets the
// opposite of each, as a line left cooked by its previous user would be, and then expects
// open_port to have put them right: no control byte is altered, swallowed or echoed.
TEST(WordLinkLine, OpenPortSetsTheFixedLineConfiguration) {
  pty_pair pty;
  termios wrong{};
  ASSERT_EQ(tcgetattr(pty.master(), &wrong), 0);
  cfsetispeed(&wrong, B38400);
  cfsetospeed(&wrong, B38400);
  wrong.c_cflag = (wrong.c_cflag & ~static_cast<tcflag_t>(CLOCAL)) | CSTOPB | CRTSCTS;
  wrong.c_iflag |= IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP;
  wrong.c_oflag |= OPOST | ONLCR;
  wrong.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
  ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &wrong), 0);

  serial_port port = open_pty(pty);
  termios line{};
  ASSERT_EQ(tcgetattr(pty.master(), &line), 0);
  EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & PARENB, 0u);
  EXPECT_EQ(line.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(line.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(line.c_cflag & CREAD, 0u);
  EXPECT_NE(line.c_cflag & CLOCAL, 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY), 0u);
  EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);

  ASSERT_EQ(send_word(port, 0x0A0D), link_status::ok);
  EXPECT_EQ(read_bytes(pty.master(), 3, 100ms), (bytes{0x0A, 0x0D}));
  write_bytes(pty.master(), {0x0D, 0x0A, 0x03, 0x11, 0x13, 0x1C, 0x7F, 0x04});
  for (const int expected : {0x0D0A, 0x0311, 0x131C, 0x7F04}) {
    const word_result got = receive_word(port);
    ASSERT_EQ(got.status, link_status::ok);
    EXPECT_EQ(got.word, expected);
  }
  EXPECT_TRUE(read_bytes(pty.master(), 1, 100ms).empty()) << "the line echoed input back";
}

TEST(WordLinkOpen, RefusesWhatIsNotAnExistingTerminal) {
  const test::temp_dir dir;
  const std::string missing = (dir / "no-such-port").string();
  const std::string dangling = (dir / "dangling").string();
  std::filesystem::create_symlink(dir / "gone", dangling);
  struct refused {
    std::string path;
    open_failure failure;
  };
  const refused cases[] = {
      {missing, open_failure::no_such_device},
      {dangling, open_failure::no_such_device},
      {missing + "/below", open_failure::no_such_device},
      {"", open_failure::no_such_device},
      {dir.path().string(), open_failure::not_a_terminal},
      {"/dev/null", open_failure::not_a_terminal},
  };
  for (const refused& c : cases) {
    SCOPED_TRACE(c.path);
    const open_result got = open_port(c.path.c_str(), SHORT_BOUND);
    EXPECT_FALSE(got.port.has_value());
    EXPECT_EQ(got.failure, c.failure);
  }
  EXPECT_FALSE(std::filesystem::exists(missing)) << "open_port created the missing path";
}

TEST(WordLinkHold, ASecondOpenInTheSameProcessFailsUntilTheFirstIsGone) {
  pty_pair pty;
  std::optional<serial_port> first = open_port(pty.slave_path().c_str(), SHORT_BOUND).port;
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(open_port(pty.slave_path().c_str(), SHORT_BOUND).failure, open_failure::busy);

  // Moving the port hands over the hold; the moved-from husk releases nothing when it goes.
  std::optional<serial_port> moved{std::move(*first)};
  first.reset();
  EXPECT_FALSE(open_port(pty.slave_path().c_str(), SHORT_BOUND).port.has_value());
  ASSERT_EQ(send_word(*moved, 0x8000), link_status::ok);
  EXPECT_EQ(read_bytes(pty.master(), 2, 500ms), (bytes{0x80, 0x00}));

  moved.reset();
  std::optional<serial_port> again = open_port(pty.slave_path().c_str(), SHORT_BOUND).port;
  ASSERT_TRUE(again.has_value());
  ASSERT_EQ(send_word(*again, 0x8001), link_status::ok);
  EXPECT_EQ(read_bytes(pty.master(), 2, 500ms), (bytes{0x80, 0x01}));
}

// Another process that only lives (and holds `path` open, plainly, when one is given) until the
// object goes.
class other_process {
 public:
  explicit other_process(const std::string& path = {}) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      if (!path.empty() && open(path.c_str(), O_RDWR | O_NOCTTY) < 0) _exit(2);
      if (write(ready[1], "y", 1) != 1) _exit(2);
      char ignored;
      while (read(release[0], &ignored, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char opened = 0;
    const bool ok = read(ready[0], &opened, 1) == 1;
    close(ready[0]);
    if (!ok) throw std::runtime_error("the other process did not start");
  }
  other_process(const other_process&) = delete;
  other_process& operator=(const other_process&) = delete;
  ~other_process() {
    close(release_);
    waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const noexcept { return pid_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
};

// A program that has the port open without any lock (`cat PORT`) would swallow the answers: the
// port is busy, and the open changes nothing on it (the pty's speed stays at its 38400 default).
TEST(WordLinkHold, APortAnotherProgramHasOpenIsBusyAndLeftAsItWas) {
  pty_pair pty;
  {
    other_process reader(pty.slave_path());
    const open_result got = open_port(pty.slave_path().c_str(), SHORT_BOUND);
    EXPECT_FALSE(got.port.has_value());
    EXPECT_EQ(got.failure, open_failure::busy);
    termios line{};
    ASSERT_EQ(tcgetattr(pty.master(), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B38400));
  }
  EXPECT_TRUE(open_port(pty.slave_path().c_str(), SHORT_BOUND).port.has_value());
}

// A lock file LCK..NAME in the lock directory that names a live process other than this one makes
// the port busy, whether the number is text or a binary int; a stale one does not.
TEST(WordLinkHold, ALockFileNamingALiveProgramMakesThePortBusy) {
  if (access("/var/lock", W_OK) != 0) GTEST_SKIP() << "needs a writable /var/lock";
  pty_pair pty;
  const std::string lock =
      "/var/lock/LCK.." + std::filesystem::path(pty.slave_path()).filename().string();
  other_process alive;
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  auto text = [](pid_t pid) {
    char line[16];
    std::snprintf(line, sizeof line, "%10d\n", static_cast<int>(pid));
    return std::string(line);
  };
  auto binary = [](pid_t pid) {
    const int value = pid;
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
  };
  struct row {
    const char* name;
    std::string content;
    bool busy;
  };
  const row rows[] = {
      {"text, padded", text(alive.pid()), true},
      {"binary", binary(alive.pid()), true},
      {"dead process", text(dead), false},
      {"this process", text(getpid()), false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::ofstream(lock, std::ios::binary) << r.content;
    const open_result got = open_port(pty.slave_path().c_str(), SHORT_BOUND);
    std::filesystem::remove(lock);
    EXPECT_EQ(got.port.has_value(), !r.busy);
    EXPECT_EQ(got.failure, r.busy ? open_failure::busy : open_failure::none);
  }
}

}  // namespace
}  // namespace ttyprog
