#include "sim_pty.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ttyprog::sim {

namespace {

std::string failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// The same line the tool sets: raw binary, 8N1, 9600 baud, no flow control. On a pty master the
// termios calls act on the slave's settings.
bool make_raw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  (void)::cfsetispeed(&tio, B9600);
  (void)::cfsetospeed(&tio, B9600);
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

pty_result open_pseudo_terminal() {
  pty_result result;
  unique_fd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master) return {{}, failure("posix_openpt")};
  if (::grantpt(master.get()) != 0) return {{}, failure("grantpt")};
  if (::unlockpt(master.get()) != 0) return {{}, failure("unlockpt")};
  std::array<char, 128> name{};
  if (::ptsname_r(master.get(), name.data(), name.size()) != 0) return {{}, failure("ptsname")};
  if (!make_raw(master.get())) return {{}, failure("tcsetattr")};
  int flags = ::fcntl(master.get(), F_GETFL);
  if (flags < 0 || ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    return {{}, failure("fcntl")};
  }
  unique_fd slave(::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave) return {{}, failure(name.data())};
  slave.reset();  // the master now shows POLLHUP until a program opens the slave

  result.pty.master = std::move(master);
  result.pty.slave = name.data();
  return result;
}

pty_result open_terminal_device(const std::string& path) {
  pty_result result;
  unique_fd device(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!device) return {{}, failure(path.c_str())};
  if (!::isatty(device.get())) return {{}, path + ": not a terminal"};
  if (!make_raw(device.get()) || ::tcflush(device.get(), TCIFLUSH) != 0) {
    return {{}, failure(path.c_str())};
  }
  result.pty = {std::move(device), path, true};
  return result;
}

bool discard_unread_answers(int master) {
  termios tio{};
  return ::tcgetattr(master, &tio) == 0 && ::tcsetattr(master, TCSAFLUSH, &tio) == 0;
}

std::string link_guard::create(std::string_view path, const std::string& target) {
  remove();
  std::string name(path);
  struct stat info {};
  if (::lstat(name.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode)) return name + ": exists and is not a symbolic link";
    if (::unlink(name.c_str()) != 0) return failure(name.c_str());
  }
  if (::symlink(target.c_str(), name.c_str()) != 0) return failure(name.c_str());
  path_ = std::move(name);
  target_ = target;
  return {};
}

void link_guard::remove() noexcept {
  if (path_.empty()) return;
  std::array<char, 256> points_to{};
  ssize_t n = ::readlink(path_.c_str(), points_to.data(), points_to.size() - 1);
  if (n >= 0 && std::string_view(points_to.data(), static_cast<std::size_t>(n)) == target_) {
    (void)::unlink(path_.c_str());
  }
  path_.clear();
}

}  // namespace ttyprog::sim
