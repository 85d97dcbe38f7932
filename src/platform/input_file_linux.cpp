// The HEX input on Linux: a named pipe must not hold the run while no writer comes, a
// device that never ends or never starts is refused, and every wait for text is a poll() in short
// slices, so that a stop request is seen however the input behaves.
#include "platform/input_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ttyprog {

namespace {

using clock = std::chrono::steady_clock;

bool stop_asked(input_stop_check stop) { return stop != nullptr && stop(); }

// Waits at most `wait`, and never longer than one slice, until `fd` has something to read (a
// byte, its end, a hang-up or an error: read() tells which). A signal ends the wait early.
bool readable_within(int fd, std::chrono::milliseconds wait) {
  pollfd pfd{fd, POLLIN, 0};
  const auto slice = std::clamp(wait, std::chrono::milliseconds{0}, INPUT_STOP_SLICE);
  const int ready = ::poll(&pfd, 1, static_cast<int>(slice.count()));
  return ready > 0 || (ready < 0 && errno != EINTR);
}

enum class writer { came, none, stopped };

// Whether the pipe has a byte to read or its writer has been and gone (end of file) within `wait`.
writer wait_for_writer(int fd, std::chrono::milliseconds wait, input_stop_check stop) {
  const auto deadline = clock::now() + wait;
  for (;;) {
    if (stop_asked(stop)) return writer::stopped;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
    if (readable_within(fd, left)) return writer::came;
    if (left.count() <= 0) return writer::none;
  }
}

// True when `named` is the very file standard input is (/dev/stdin, /proc/self/fd/0).
bool is_standard_input(const struct stat& named) {
  struct stat standard_input {};
  return ::fstat(STDIN_FILENO, &standard_input) == 0 && standard_input.st_dev == named.st_dev &&
         standard_input.st_ino == named.st_ino;
}

}  // namespace

hex_file open_hex_file(const char* path, std::chrono::milliseconds writer_wait,
                       input_stop_check stop) {
  // Looked at before the open, since opening a terminal or a port can change it. Standard input is
  // read from whatever it is, so the path of standard input itself is let through.
  struct stat named {};
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
  struct stat info {};
  if (::fstat(fd, &info) != 0) return refused(hex_file_refusal::system, errno);
  // A directory opens here but cannot be read as text: it is no file to load, as on Windows.
  if (S_ISDIR(info.st_mode)) return refused(hex_file_refusal::directory, 0);
  if (S_ISFIFO(info.st_mode)) {
    switch (wait_for_writer(fd, writer_wait, stop)) {
      case writer::came: break;
      case writer::none: return refused(hex_file_refusal::no_writer, 0);
      case writer::stopped: return refused(hex_file_refusal::stopped, 0);
    }
  }
  // From here on a read that finds nothing waits for the writer, as on standard input; reads come
  // only after poll() found something, so it does not hold the run.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return refused(hex_file_refusal::system, errno);
  }
  std::FILE* file = ::fdopen(fd, "r");
  if (file == nullptr) return refused(hex_file_refusal::system, errno);
  return {file, hex_file_refusal::none, 0};
}

input_chunk read_hex_input(std::FILE* file, std::span<char> into, input_stop_check stop) {
  // The descriptor is read directly: fread would wait for a whole buffer on a pipe, and a read
  // the system restarts after a signal would not come back to ask `stop`.
  const int fd = ::fileno(file);
  for (;;) {
    if (stop_asked(stop)) return {input_read::stopped, 0};
    if (!readable_within(fd, INPUT_STOP_SLICE)) continue;  // nothing yet, or a signal came
    const ssize_t got = ::read(fd, into.data(), into.size());
    if (got > 0) return {input_read::more, static_cast<std::size_t>(got)};
    if (got == 0) return {input_read::end, 0};
    if (errno != EINTR && errno != EAGAIN) return {input_read::failed, 0};
  }
}

}  // namespace ttyprog
