// Opening the HEX input on a POSIX system: a named pipe must not hold the run while no writer comes.
#include "platform/input_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ttyprog {

namespace {

// True once the pipe has a byte to read or its writer has been and gone (end of file).
bool writer_came(int fd, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd pfd{fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

}  // namespace

std::FILE* open_hex_file(const char* path, std::chrono::milliseconds writer_wait) {
  // A character device (a terminal, the port itself, /dev/zero) either never ends or never
  // starts: it is no file to load. Standard input is read from whatever it is, so a path that
  // names the very file standard input is (/dev/stdin) is let through. Looked at before the open,
  // since opening a terminal or a port can change it.
  struct stat named{};
  struct stat standard_input{};
  if (::stat(path, &named) == 0 && S_ISCHR(named.st_mode) &&
      !(::fstat(STDIN_FILENO, &standard_input) == 0 && standard_input.st_dev == named.st_dev &&
        standard_input.st_ino == named.st_ino && standard_input.st_rdev == named.st_rdev)) {
    errno = ENODEV;
    return nullptr;
  }
  // Non-blocking, so that a pipe without a writer does not hold the open; no controlling terminal
  // is taken on.
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat info{};
  // A directory opens here but cannot be read as text: it is no file to load, as on Windows.
  const bool usable = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode) &&
                      (!S_ISFIFO(info.st_mode) || writer_came(fd, writer_wait));
  const int flags = ::fcntl(fd, F_GETFL);
  // From here on reads wait for the writer, as they do on standard input.
  if (!usable || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    (void)::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "r");
  if (file == nullptr) (void)::close(fd);
  return file;
}

}  // namespace ttyprog
