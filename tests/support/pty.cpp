#include "support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace ttyprog::test {

namespace {

[[noreturn]] void fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

pty_pair::pty_pair() {
  // O_CLOEXEC matters: a child that inherited the master would keep the line up after the test
  // "hangs up".
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) fail("posix_openpt");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    ::close(master_);
    fail("grantpt/unlockpt");
  }
  char name[128] = {};
  if (ptsname_r(master_, name, sizeof name) != 0) {
    ::close(master_);
    fail("ptsname_r");
  }
  slave_path_ = name;

  // Termios requests on the master act on the slave side of the line.
  termios settings{};
  if (tcgetattr(master_, &settings) != 0) fail("tcgetattr");
  const speed_t speed = cfgetospeed(&settings);
  cfmakeraw(&settings);
  cfsetispeed(&settings, speed);
  cfsetospeed(&settings, speed);
  if (tcsetattr(master_, TCSANOW, &settings) != 0) fail("tcsetattr");
}

pty_pair::~pty_pair() { close_master(); }

void pty_pair::close_master() noexcept {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void write_bytes(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("write");
    }
    done += static_cast<std::size_t>(n);
  }
}

std::vector<std::uint8_t> read_bytes(int fd, std::size_t count, std::chrono::milliseconds timeout) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + timeout;
  std::vector<std::uint8_t> got;
  while (got.size() < count) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    std::uint8_t buffer[256];
    const std::size_t want = std::min(count - got.size(), sizeof buffer);
    const ssize_t n = ::read(fd, buffer, want);
    if (n <= 0) break;  // end of file, or EIO once the other side has closed
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

}  // namespace ttyprog::test
