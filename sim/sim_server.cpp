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
#include <optional>
#include <span>
#include <thread>

#include "wire.h"

namespace ttyprog::sim {

namespace {

using clock = std::chrono::steady_clock;

// How long an answer may wait for room on the line before it is given up.
constexpr std::chrono::seconds SEND_BOUND{10};

// While idle, the line is looked at again after this long even without an open event.
constexpr int IDLE_RECHECK_MS = 1000;

constexpr short LINE_DOWN = POLLHUP | POLLERR;

// Received bytes into words: two bytes, high byte first, make a word. A byte left over when a
// session ends is dropped.
class word_assembler {
 public:
  std::optional<std::uint16_t> push(std::uint8_t byte) {
    if (!high_) {
      high_ = byte;
      return std::nullopt;
    }
    const std::uint16_t word = decode_word({*high_, byte});
    high_.reset();
    return word;
  }
  void reset() { high_.reset(); }

 private:
  std::optional<std::uint8_t> high_;
};

// A word's time on the line: its two bytes.
constexpr auto WORD_TIME_ON_LINE = 2 * BYTE_TIME;

class server {
 public:
  server(pseudo_terminal& pty, sim_target& target, trace_log& trace, line_timing timing,
         int stop_fd, unique_fd watch, std::span<const std::uint8_t> late_stale)
      : pty_(pty), target_(target), trace_(trace), timing_(timing), stop_fd_(stop_fd),
        watch_(std::move(watch)), late_stale_(late_stale) {}

  serve_end run();

 private:
  short line_state() const;
  void drain_watch();
  void begin_session();
  void end_session();
  bool pause_ended_session(clock::time_point now) const;
  void read_master();
  void take_bytes(std::span<const std::uint8_t> bytes);
  void send(const answer& reply);
  void send_late_stale();
  void send_chatter();
  int chatter_wait_ms() const;
  bool program_gone() const;
  bool write_bytes(std::span<const std::uint8_t> bytes);

  pseudo_terminal& pty_;
  sim_target& target_;
  trace_log& trace_;
  line_timing timing_;
  int stop_fd_;
  unique_fd watch_;
  std::span<const std::uint8_t> late_stale_;  // sent once, at the start of the first session

  word_assembler assembler_;
  bool in_session_ = false;
  bool hang_up_ = false;  // the hang-up fault has fired
  std::uint64_t sessions_ = 0;
  clock::time_point rx_done_{};       // paced: when the last received byte has fully arrived
  clock::time_point tx_free_{};       // paced: when the line is free for the next byte out
  clock::time_point chatter_from_{};  // --chatter: the start of the session's unasked words
  std::int64_t chatter_words_ = 0;    // --chatter: words due so far (sent, or skipped)
  clock::time_point line_moved_{};    // when the last byte in or out has crossed the line
  bool heard_ = false;                // a byte has come in this session
};

serve_end server::run() {
  if (pty_.device) begin_session();  // a device is open for good: one session until a pause
  for (;;) {
    if (!in_session_) {
      const short line = line_state();
      if (line & POLLNVAL) return serve_end::failed;
      // Open (no hang-up), or a program came and went but left words behind.
      if ((line & POLLIN) || !(line & POLLHUP)) begin_session();
    }

    std::array<pollfd, 2> fds{
        {{stop_fd_, POLLIN, 0}, {in_session_ ? pty_.master.get() : watch_.get(), POLLIN, 0}}};
    const int timeout =
        in_session_ ? (timing_.chatter ? chatter_wait_ms() : -1) : (watch_ ? IDLE_RECHECK_MS : 10);
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
    if (timing_.chatter) send_chatter();
    if (hang_up_) {
      pty_.master.reset();  // the program sees the line drop
      return serve_end::hung_up;
    }
    if ((fds[1].revents & LINE_DOWN) && pty_.device) return serve_end::failed;  // it has gone
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
  rx_done_ = tx_free_ = chatter_from_ = clock::now();
  chatter_words_ = 0;
  heard_ = false;
  if (!late_stale_.empty()) send_late_stale();
}

// The session-gap rule: the line has been quiet for the gap since the session's last byte.
bool server::pause_ended_session(clock::time_point now) const {
  return timing_.session_gap.count() > 0 && heard_ && now - line_moved_ >= timing_.session_gap;
}

void server::end_session() {
  read_master();  // words the program sent before it closed belong to this session
  in_session_ = false;
  assembler_.reset();
  (void)discard_unread_answers(pty_.master.get());
  trace_.session_ended(sessions_);
}

// One byte every byte time, from the moment the session starts.
void server::send_late_stale() {
  const auto start = clock::now();
  for (std::size_t i = 0; i < late_stale_.size(); ++i) {
    std::this_thread::sleep_until(start + static_cast<std::int64_t>(i + 1) * BYTE_TIME);
    if (program_gone() || !write_bytes(late_stale_.subspan(i, 1))) break;
  }
  late_stale_ = {};
}

// Chatter: REPLY_OK without being asked, one word every two byte times from the start of the
// session. After a late wake-up at most two due words go out together; words due while the line
// carried an answer are skipped, not sent in a burst. A word the terminal has no room for is
// lost, as on a line whose receiver is not read.
void server::send_chatter() {
  const std::int64_t due = (clock::now() - chatter_from_) / WORD_TIME_ON_LINE;
  if (due <= chatter_words_) return;
  const std::size_t count = due - chatter_words_ > 1 ? 2 : 1;
  chatter_words_ = due;
  if (program_gone()) return;
  std::array<std::uint8_t, 4> bytes{};
  for (std::size_t i = 0; i < count; ++i) {
    const wire_bytes word = encode_word(REPLY_OK);
    bytes[2 * i] = word[0];
    bytes[2 * i + 1] = word[1];
  }
  const ssize_t n = ::write(pty_.master.get(), bytes.data(), 2 * count);
  for (ssize_t word = 0; word < n / 2; ++word) trace_.sent(REPLY_OK);
}

// Milliseconds until the next chatter word is due, rounded up.
int server::chatter_wait_ms() const {
  const auto next = chatter_from_ + (chatter_words_ + 1) * WORD_TIME_ON_LINE;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// The program has closed the terminal: what is still to be sent would reach nobody (a real port
// drops it), or the next program.
bool server::program_gone() const { return (line_state() & POLLHUP) != 0; }

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
  if (pause_ended_session(now)) {
    trace_.session_ended(sessions_);
    begin_session();
  }
  heard_ = true;
  for (std::uint8_t byte : bytes) {
    // A byte read now started no earlier than now (or than the end of the byte before it) and
    // takes a full byte time to cross the line.
    if (timing_.pace) rx_done_ = std::max(now, rx_done_) + BYTE_TIME;
    auto word = assembler_.push(byte);
    if (!word) continue;
    trace_.received(*word);
    answer reply = target_.feed(*word);
    if (reply.size > 0) send(reply);  // a cut answer goes out before the line drops
    if (reply.hang_up) {
      hang_up_ = true;
      return;
    }
  }
  line_moved_ = std::max({clock::now(), rx_done_, tx_free_});
}

// Every answer byte has a due time on a fixed schedule: with pacing the line starts sending once
// the request has fully arrived and the programming time is over, and each byte is handed over
// when its last bit would have arrived, a byte time after the one before; a split pause delays
// every second byte further. Each wake-up hands over all bytes that are due by then in one write,
// so a late wake-up (a loaded machine, timer slack) never shifts the bytes after it: the rate
// stays exact on average and no byte comes before its time.
void server::send(const answer& reply) {
  const auto programming = timing_.word_time * reply.words_programmed;
  const auto byte_time = timing_.pace ? BYTE_TIME : std::chrono::nanoseconds{0};
  const auto start =
      timing_.pace ? std::max(rx_done_ + programming, tx_free_) : clock::now() + programming;
  auto due = [&](std::size_t i) {
    const auto n = static_cast<std::int64_t>(i + 1);
    return start + n * byte_time + (n / 2) * timing_.split_pause;
  };

  std::array<std::uint8_t, 2 * (BLOCK_WORDS + 2)> bytes{};
  const std::size_t size = encode_words(reply.view(), bytes);
  for (std::size_t next = 0; next < size;) {
    std::this_thread::sleep_until(due(next));
    const auto now = clock::now();
    std::size_t upto = next + 1;
    while (upto < size && due(upto) <= now) ++upto;
    if (program_gone()) return;
    // A word is traced as its first byte goes out.
    for (std::size_t i = next + (next % 2); i < upto; i += 2) trace_.sent(reply.words[i / 2]);
    if (!write_bytes({bytes.data() + next, upto - next})) return;  // the program has gone
    next = upto;
  }
  if (timing_.pace) tx_free_ = due(size - 1);
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
                int stop_fd, std::span<const std::uint8_t> late_stale) {
  unique_fd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  // Without the watch the idle loop falls back to looking at the line every 10 ms.
  if (watch && ::inotify_add_watch(watch.get(), pty.slave.c_str(), IN_OPEN) < 0) watch.reset();
  server s(pty, target, trace, timing, stop_fd, std::move(watch), late_stale);
  return s.run();
}

}  // namespace ttyprog::sim
