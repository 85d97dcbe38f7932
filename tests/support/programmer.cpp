#include "support/programmer.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>

#include "wire.h"

namespace ttyprog::test {

namespace {

constexpr std::size_t READ_CHUNK = 256;
// After a stop request the line counts as quiet after this long without a byte.
constexpr int QUIET_MS = 50;

// Words as they go on the line, each high byte first.
std::vector<std::uint8_t> bytes_of(const std::vector<std::uint16_t>& words) {
  std::vector<std::uint8_t> bytes;
  for (const std::uint16_t word : words) {
    const wire_bytes pair = encode_word(word);
    bytes.insert(bytes.end(), pair.begin(), pair.end());
  }
  return bytes;
}

}  // namespace

responder scripted(std::vector<step> steps) {
  auto next = std::make_shared<std::size_t>(0);
  return [steps = std::move(steps),
          next](const std::vector<std::uint16_t>& request) -> std::optional<reply> {
    if (*next >= steps.size() || request.size() < steps[*next].request_words) return std::nullopt;
    const step& now = steps[(*next)++];
    return reply{now.answer, now.hang_up, now.late, now.late_pause};
  };
}

responder silent() {
  return [](const std::vector<std::uint16_t>&) -> std::optional<reply> { return std::nullopt; };
}

programmer::programmer(pty_pair& pty, programmer_options options)
    : pty_(pty), options_(std::move(options)) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  stop_read_ = fds[0];
  stop_write_ = fds[1];
  thread_ = std::thread([this] { run(); });
  // A programmer is hardware, whose timing the machine's load never delays: where the system
  // allows it (root), its thread runs with the lowest real-time priority.
  sched_param priority{};
  priority.sched_priority = sched_get_priority_min(SCHED_FIFO);
  (void)pthread_setschedparam(thread_.native_handle(), SCHED_FIFO, &priority);
}

programmer::~programmer() {
  finish();
  ::close(stop_read_);
  ::close(stop_write_);
}

std::vector<std::uint16_t> programmer::words() const {
  std::lock_guard lock(mutex_);
  return words_;
}

std::vector<std::chrono::steady_clock::time_point> programmer::word_times() const {
  std::lock_guard lock(mutex_);
  return word_times_;
}

std::vector<sent_bytes> programmer::sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

bool programmer::wait_for_words(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return words_.size() >= count; });
}

std::vector<std::uint16_t> programmer::finish() {
  if (thread_.joinable()) {
    const char stop = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_write_, &stop, 1);
    thread_.join();
  }
  return words();
}

void programmer::record(std::uint16_t word) {
  {
    std::lock_guard lock(mutex_);
    words_.push_back(word);
    word_times_.push_back(std::chrono::steady_clock::now());
  }
  arrived_.notify_all();
}

// The words of an answer in one write: they reach the tool together. Then the late words in one
// write after their pause, then each piece in a write of its own, after its pause.
bool programmer::send(const reply& answer) {
  if (!answer.words.empty() && !write_all(bytes_of(answer.words))) return false;
  if (!answer.late.empty()) {
    std::this_thread::sleep_for(answer.late_pause);
    if (!write_all(bytes_of(answer.late))) return false;
  }
  for (const piece& part : answer.pieces) {
    std::this_thread::sleep_for(part.pause);
    if (!write_all(part.bytes)) return false;
  }
  return true;
}

bool programmer::write_all(const std::vector<std::uint8_t>& bytes) {
  const auto at = std::chrono::steady_clock::now();
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(pty_.master(), bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  std::lock_guard lock(mutex_);
  sent_.push_back({at, words_.size(), bytes});
  return true;
}

void programmer::take_in_rest(std::optional<std::uint8_t>& high) {
  std::uint8_t buffer[READ_CHUNK];
  for (;;) {
    pollfd line{pty_.master(), POLLIN, 0};
    if (::poll(&line, 1, QUIET_MS) <= 0) return;
    const ssize_t n = ::read(pty_.master(), buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) {
      if (!high) {
        high = buffer[i];
      } else {
        record(decode_word({*high, buffer[i]}));
        high.reset();
      }
    }
  }
}

void programmer::run() {
  std::vector<std::uint16_t> request;
  std::optional<std::uint8_t> high;
  std::uint8_t buffer[READ_CHUNK];
  for (;;) {
    pollfd fds[2] = {{pty_.master(), POLLIN, 0}, {stop_read_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) {
      take_in_rest(high);
      return;
    }
    const ssize_t n = ::read(pty_.master(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EIO && options_.wait_for_open && words().empty() && !high) {
      std::this_thread::sleep_for(std::chrono::milliseconds{1});  // not open (again) yet
      continue;
    }
    if (n <= 0) return;  // EIO: the tool closed its end of the line
    for (ssize_t i = 0; i < n; ++i) {
      if (!high) {
        high = buffer[i];
        continue;
      }
      const std::uint16_t word = decode_word({*high, buffer[i]});
      high.reset();
      record(word);
      request.push_back(word);
      std::optional<reply> answer = options_.respond(request);
      if (!answer) continue;
      request.clear();
      if (!send(*answer)) return;
      if (answer->hang_up) {
        pty_.close_master();
        return;
      }
    }
  }
}

}  // namespace ttyprog::test
