// Opening the HEX input on a POSIX system: a named pipe must not hold the run while no writer
// comes, and a device that never ends or never starts is refused.
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

// True when `named` is the very file standard input is (/dev/stdin, /proc/self/fd/0).
bool is_standard_input(const struct stat& named) {
  struct stat standard_input{};
  return ::fstat(STDIN_FILENO, &standard_input) == 0 && standard_input.st_dev == named.st_dev &&
         standard_input.st_ino == named.st_ino;
}

}  // namespace

hex_file open_hex_file(const char* path, std::chrono::milliseconds writer_wait) {
  // Looked at before the open, since opening a terminal or a port can change it. Standard input is
  // read from whatever it is, so the path of standard input itself is let through.
  struct stat named{};
  if (::stat(path, &named) == 0 && S_ISCHR(named.st_mode) && !is_standard_input(named)) {
    return {nullptr, hex_file_refusal::character_device, 0};
  }
  // Non-blocking, so that a pipe without a writer does not hold the open; no controlling terminal
  // is taken on.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return {nullptr, hex_file_refusal::system, errno};
  auto refused = [fd](hex_file_refusal why, int error) {
    (void)::close(fd);
    return hex_file{nullptr, why, error};
  };
  struct stat info{};
  if (::fstat(fd, &info) != 0) return refused(hex_file_refusal::system, errno);
  // A directory opens here but cannot be read as text: it is no file to load, as on Windows.
  if (S_ISDIR(info.st_mode)) return refused(hex_file_refusal::directory, 0);
  if (S_ISFIFO(info.st_mode) && !writer_came(fd, writer_wait)) {
    return refused(hex_file_refusal::no_writer, 0);
  }
  // From here on reads wait for the writer, as they do on standard input.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return refused(hex_file_refusal::system, errno);
  }
  std::FILE* file = ::fdopen(fd, "r");
  if (file == nullptr) return refused(hex_file_refusal::system, errno);
  return {file, hex_file_refusal::none, 0};
}

}  // namespace ttyprog
