#include "sim_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <span>
#include <thread>

#include "sim_session.h"

namespace ttyprog::sim {

namespace {

using clock = std::chrono::steady_clock;

// How long an answer may wait for room on the line before it is given up.
constexpr std::chrono::seconds SEND_BOUND{10};

// While idle, the line is looked at again after this long even without an open event.
constexpr int IDLE_RECHECK_MS = 1000;

constexpr short LINE_DOWN = POLLHUP | POLLERR;

class server {
 public:
  server(pseudo_terminal& pty, sim_target& target, trace_log& trace, line_timing timing,
         int stop_fd, unique_fd watch)
      : pty_(pty),
        target_(target),
        trace_(trace),
        timing_(timing),
        stop_fd_(stop_fd),
        watch_(std::move(watch)) {}

  serve_end run();

 private:
  short line_state() const;
  void drain_watch();
  void begin_session();
  void end_session();
  void read_master();
  void take_bytes(std::span<const std::uint8_t> bytes);
  void send(const answer& reply);
  bool write_bytes(std::span<const std::uint8_t> bytes);

  pseudo_terminal& pty_;
  sim_target& target_;
  trace_log& trace_;
  line_timing timing_;
  int stop_fd_;
  unique_fd watch_;

  word_assembler assembler_;
  bool in_session_ = false;
  bool hang_up_ = false;  // the hang-up fault has fired
  std::uint64_t sessions_ = 0;
  clock::time_point rx_done_{};  // paced: when the last received byte has fully arrived
  clock::time_point tx_free_{};  // paced: when the line is free for the next byte out
};

serve_end server::run() {
  for (;;) {
    if (!in_session_) {
      const short line = line_state();
      if (line & POLLNVAL) return serve_end::failed;
      // Open (no hang-up), or a program came and went but left words behind.
      if ((line & POLLIN) || !(line & POLLHUP)) begin_session();
    }

    std::array<pollfd, 2> fds{
        {{stop_fd_, POLLIN, 0}, {in_session_ ? pty_.master.get() : watch_.get(), POLLIN, 0}}};
    const int timeout = in_session_ ? -1 : (watch_ ? IDLE_RECHECK_MS : 10);
    if (!in_session_ && !watch_) fds[1].fd = -1;
    if (::poll(fds.data(), fds.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      return serve_end::failed;
    }
    if (fds[0].revents != 0) return serve_end::stopped;
    if (!in_session_) {
      drain_watch();
      continue;
    }
    if (fds[1].revents & POLLNVAL) return serve_end::failed;
    if (fds[1].revents & POLLIN) read_master();
    if (hang_up_) {
      pty_.master.reset();  // the program sees the line drop
      return serve_end::hung_up;
    }
    if ((fds[1].revents & LINE_DOWN) && !(fds[1].revents & POLLIN)) end_session();
  }
}

short server::line_state() const {
  pollfd line{pty_.master.get(), POLLIN, 0};
  if (::poll(&line, 1, 0) < 0) return 0;
  return line.revents;
}

void server::drain_watch() {
  if (!watch_) return;
  alignas(inotify_event) std::array<char, 4096> buffer{};
  while (::read(watch_.get(), buffer.data(), buffer.size()) > 0) {
  }
}

void server::begin_session() {
  in_session_ = true;
  trace_.session(++sessions_);
  target_.new_session();
  assembler_.reset();
  rx_done_ = tx_free_ = clock::now();
}

void server::end_session() {
  read_master();  // words the program sent before it closed belong to this session
  in_session_ = false;
  assembler_.reset();
  flush_unread_answers(pty_.slave);
  drain_watch();  // our own open; the line itself tells whether somebody else came meanwhile
}

void server::read_master() {
  std::array<std::uint8_t, 1024> bytes{};
  while (!hang_up_) {
    ssize_t n = ::read(pty_.master.get(), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // EAGAIN, or EIO once the slave is closed and drained
    take_bytes({bytes.data(), static_cast<std::size_t>(n)});
  }
}

void server::take_bytes(std::span<const std::uint8_t> bytes) {
  const auto now = clock::now();
  for (std::uint8_t byte : bytes) {
    if (timing_.pace) rx_done_ = std::max(now, rx_done_ + BYTE_TIME);
    auto word = assembler_.push(byte);
    if (!word) continue;
    trace_.received(*word);
    answer reply = target_.feed(*word);
    if (reply.hang_up) {
      hang_up_ = true;
      return;
    }
    if (reply.size > 0) send(reply);
  }
}

void server::send(const answer& reply) {
  if (timing_.pace) std::this_thread::sleep_until(rx_done_);
  if (reply.words_programmed > 0 && timing_.word_time.count() > 0) {
    std::this_thread::sleep_for(timing_.word_time * reply.words_programmed);
  }
  const bool bytewise = timing_.pace || timing_.split_pause.count() > 0;
  if (!bytewise) {
    std::array<std::uint8_t, 2 * (BLOCK_WORDS + 2)> bytes{};
    std::size_t size = 0;
    for (std::uint16_t word : reply.view()) {
      trace_.sent(word);
      bytes[size++] = static_cast<std::uint8_t>(word >> 8);
      bytes[size++] = static_cast<std::uint8_t>(word & 0xFFu);
    }
    (void)write_bytes({bytes.data(), size});
    return;
  }
  tx_free_ = std::max(tx_free_, clock::now());
  for (std::uint16_t word : reply.view()) {
    trace_.sent(word);
    const std::array<std::uint8_t, 2> pair{static_cast<std::uint8_t>(word >> 8),
                                           static_cast<std::uint8_t>(word & 0xFFu)};
    for (std::size_t i = 0; i < pair.size(); ++i) {
      if (i == 1 && timing_.split_pause.count() > 0)
        std::this_thread::sleep_for(timing_.split_pause);
      if (timing_.pace) {
        std::this_thread::sleep_until(tx_free_);
        tx_free_ = std::max(tx_free_, clock::now()) + BYTE_TIME;
      }
      if (!write_bytes({&pair[i], 1})) return;  // the program has gone
    }
  }
}

bool server::write_bytes(std::span<const std::uint8_t> bytes) {
  const auto deadline = clock::now() + SEND_BOUND;
  while (!bytes.empty()) {
    ssize_t n = ::write(pty_.master.get(), bytes.data(), bytes.size());
    if (n > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd out{pty_.master.get(), POLLOUT, 0};
    if (::poll(&out, 1, 50) > 0 && (out.revents & (POLLHUP | POLLERR))) return false;
    if (clock::now() >= deadline) return false;
  }
  return true;
}

}  // namespace

unique_fd watch_stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return {};
  return unique_fd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

serve_end serve(pseudo_terminal& pty, sim_target& target, trace_log& trace, line_timing timing,
                int stop_fd) {
  unique_fd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  // Without the watch the idle loop falls back to looking at the line every 10 ms.
  if (watch && ::inotify_add_watch(watch.get(), pty.slave.c_str(), IN_OPEN) < 0) watch.reset();
  server s(pty, target, trace, timing, stop_fd, std::move(watch));
  return s.run();
}

}  // namespace ttyprog::sim
