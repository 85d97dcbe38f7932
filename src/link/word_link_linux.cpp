// The word link on a Linux terminal device, driven with termios.
//
// The descriptor is non-blocking throughout: every wait is a poll() with a deadline, so a silent
// or vanished programmer can never hold the run.
#include "link/word_link.h"

#include "link/deadline.h"
#include "link/queue_status.h"
#include "platform/port_diagnosis.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

namespace ttyprog {

// What a port is made of here: a descriptor.
struct port_backend {
  static serial_port adopt(int fd, std::chrono::milliseconds bound) {
    return serial_port(fd, bound);
  }
  static int fd(const serial_port& port) { return static_cast<int>(port.handle_); }
  static line_clock& line(serial_port& port) { return port.line_; }
  static bool& paced(serial_port& port) { return port.paced_; }
  static bool& chatter(serial_port& port) { return port.chatter_; }
  static void tick(const serial_port& port) { port.ticker_(); }
};

namespace {

using clock = std::chrono::steady_clock;

int fd_of(const serial_port& port) { return port_backend::fd(port); }

// Reads and drops whatever is queued, bytes the kernel is still handing over included (a read
// that finds the queue empty first waits for them), then flushes what came meanwhile. True when
// there was anything.
bool discard_input(int fd) {
  std::array<unsigned char, 256> stale{};
  bool any = false;
  while (::read(fd, stale.data(), stale.size()) > 0) any = true;
  if (any) (void)::tcflush(fd, TCIFLUSH);
  return any;
}

// Raw binary line, 9600 baud, 8N1, no flow control of any kind, receiver on, modem lines ignored.
bool configure_line(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
  tio.c_iflag |= IGNBRK;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  // The descriptor is non-blocking, so VMIN does not hold up any read; but with VTIME 0 the
  // terminal reports it readable only once VMIN bytes are queued, so a wait for a word sleeps
  // until both of its bytes are there (see receive_word).
  tio.c_cc[VMIN] = 2;
  tio.c_cc[VTIME] = 0;
  if (::cfsetispeed(&tio, B9600) != 0 || ::cfsetospeed(&tio, B9600) != 0) return false;
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// DTR and RTS off. A pseudo-terminal has no modem lines and refuses the call: that is fine.
void clear_modem_lines(int fd) {
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)::ioctl(fd, TIOCMBIC, &lines);
}

// Signals while a port is held. The exclusive mode of a pseudo-terminal outlives the descriptor
// that set it, so a run ended by a signal would leave the device refusing every later open: every
// signal whose default action ends the process first gives the mode back. The stop signals are
// only noted the first time (the command stops at its next exchange boundary); the second one
// ends the process at once.
constexpr std::array<int, 3> STOP_SIGNALS{SIGINT, SIGTERM, SIGHUP};
constexpr std::array<int, 18> FATAL_SIGNALS{
    SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGPOLL,
    SIGPWR,  SIGSYS,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGILL,  SIGSEGV, SIGSTKFLT};
volatile std::sig_atomic_t exclusive_fd = -1;  // the port whose exclusive mode a signal gives back
volatile std::sig_atomic_t guarded_fd = -1;    // the port the signals are guarded for
volatile std::sig_atomic_t noted_stop = 0;
std::atomic<long long> noted_stop_at_ns{0};  // monotonic time of the noted stop request
static_assert(std::atomic<long long>::is_always_lock_free);

bool is_stop_signal(int signal_number) {
  return std::find(STOP_SIGNALS.begin(), STOP_SIGNALS.end(), signal_number) != STOP_SIGNALS.end();
}

// The monotonic clock in nanoseconds; clock_gettime may be called from a signal handler.
long long monotonic_ns() {
  timespec now{};
  (void)::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

extern "C" void on_signal(int signal_number) {
  if (is_stop_signal(signal_number)) {
    const long long now = monotonic_ns();
    if (noted_stop == 0) {
      noted_stop_at_ns = now;
      noted_stop = signal_number;
      return;
    }
    // One request delivered twice (to the process, then to its group) is still one request.
    if (now - noted_stop_at_ns < std::chrono::nanoseconds(STOP_REPEAT).count()) return;
  }
  if (exclusive_fd >= 0) (void)::ioctl(static_cast<int>(exclusive_fd), TIOCNXCL);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Calls `apply` with every guarded signal number: the stop signals, the fatal ones and the
// real-time signals (they end the process too).
template <typename F>
void for_each_guarded_signal(F apply) {
  for (int signal_number : STOP_SIGNALS) apply(signal_number);
  for (int signal_number : FATAL_SIGNALS) apply(signal_number);
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number)
    apply(signal_number);
}

void guard_signals(int fd) {
  guarded_fd = fd;
  for_each_guarded_signal([](int signal_number) {
    struct sigaction current {};
    // A signal the caller ignores or handles itself is left to the caller.
    if (::sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
    struct sigaction guard {};
    guard.sa_handler = on_signal;
    // Interrupted reads and writes of the standard streams go on; the link's own waits look at
    // the clock again after every interruption.
    guard.sa_flags = SA_RESTART;
    sigemptyset(&guard.sa_mask);
    (void)::sigaction(signal_number, &guard, nullptr);
  });
}

void unguard_signals() {
  for_each_guarded_signal([](int signal_number) {
    struct sigaction current {};
    if (::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == on_signal) {
      std::signal(signal_number, SIG_DFL);
    }
  });
  exclusive_fd = -1;
  guarded_fd = -1;
}

// Exclusive use, in three steps. The flock stops a second run even for root; it changes nothing
// others see. Then any other program that has the device open, or a live one that a lock file
// names for it, makes the port busy: it would swallow the programmer's answers. Last, TIOCEXCL
// stops programs that do not lock from opening the device while this run holds it. Devices
// without TIOCEXCL (ENOTTY, EINVAL) are still used.
bool lock_device(int fd) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// The programs other than this one that have the device open or lock it: the one scan of an open.
holder_list other_holders(const char* name) {
  const holder_list found = find_device_holders(name);
  holder_list others{};
  others.more = found.more;
  for (std::size_t i = 0; i < found.count; ++i) {
    if (found.holders[i].pid != ::getpid()) others.holders[others.count++] = found.holders[i];
  }
  return others;
}

bool set_exclusive_mode(int fd) {
  if (::ioctl(fd, TIOCEXCL) == 0) {
    exclusive_fd = fd;
  } else if (errno != ENOTTY && errno != EINVAL) {
    return false;
  }
  return true;
}

// The session's own terminal is never a programmer's line: protocol bytes would land on the
// user's screen, and the terminal would be left raw at 9600 baud. tcgetsid() answers only for
// the caller's controlling terminal, whichever path names it (/dev/tty included); a terminal that
// one of the standard streams is on counts too, for a run without a controlling terminal.
bool is_own_terminal(int fd) {
  if (::tcgetsid(fd) != -1) return true;
  struct stat port {};
  if (::fstat(fd, &port) != 0) return false;
  for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    struct stat info {};
    if (::fstat(stream, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == port.st_rdev) {
      return true;
    }
  }
  return false;
}

void pause_for(std::chrono::nanoseconds length) {
  if (length.count() <= 0) return;
  const auto seconds = std::chrono::floor<std::chrono::seconds>(length);
  timespec pause{static_cast<std::time_t>(seconds.count()),
                 static_cast<long>((length - seconds).count())};
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

void pause_one_ms() { pause_for(std::chrono::milliseconds{1}); }

int remaining_ms(clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for `events` on fd for at most `timeout_ms`. Returns the revents, 0 on time-out,
// POLLERR when poll itself fails.
short wait_for(int fd, short events, int timeout_ms) {
  pollfd pfd{fd, events, 0};
  for (;;) {
    int ready = ::poll(&pfd, 1, timeout_ms);
    if (ready > 0) return pfd.revents;
    if (ready == 0) return 0;
    if (errno != EINTR) return POLLERR;
  }
}

constexpr short LINE_DOWN = POLLHUP | POLLERR | POLLNVAL;

// Longest sleep of a word wait before it looks at the queue again (a tenth of the bound when
// that is shorter): how late at most the bound notices a lone first byte.
constexpr std::chrono::milliseconds LOOK_AGAIN_MAX{100};

// Number of bytes waiting in the input queue, or -1 when it cannot be asked.
int queued_bytes(int fd) {
  int queued = 0;
  if (::ioctl(fd, FIONREAD, &queued) != 0) return -1;
  return queued;
}

// Returns true once no byte has arrived for QUIET_TIME; false when bytes kept coming for the
// whole `bound` (the programmer sends without being asked). Whatever was queued before the open,
// and whatever arrives meanwhile, is discarded and starts the quiet time again: the rest of an
// answer to an earlier run can still be on its way when the port opens. The quiet time counts
// from `since` (the open) when nothing has come by then, so the checks made before the line was
// set up are not waited for twice. The line's VMIN of 2 lets poll() wake only for two bytes, so
// the queue is looked at every millisecond as well. A stop request or a dropped line ends the wait
// at once: the first request then finds out.
bool await_quiet_line(int fd, std::chrono::milliseconds bound, clock::time_point since) {
  const auto give_up = clock::now() + bound;
  auto quiet_from = since;
  for (;;) {
    if (discard_input(fd)) quiet_from = clock::now();
    const auto now = clock::now();
    if (now >= quiet_from + std::chrono::ceil<clock::duration>(QUIET_TIME)) return true;
    if (now >= give_up) return false;
    if (noted_stop != 0) return true;
    if (wait_for(fd, POLLIN, 1) & LINE_DOWN) return true;
  }
}

// A real serial port (a UART, a USB adapter) has a device behind it in sysfs and moves bytes at
// the line rate; a pseudo-terminal has neither.
bool moves_at_line_rate(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  std::array<char, 64> path{};
  std::snprintf(path.data(), path.size(), "/sys/dev/char/%u:%u/device", ::major(info.st_rdev),
                ::minor(info.st_rdev));
  return ::access(path.data(), F_OK) == 0;
}

// A descriptor that is closed unless handed on: the port before it is known to be usable.
class open_descriptor {
 public:
  explicit open_descriptor(int fd) noexcept : fd_(fd) {}
  open_descriptor(const open_descriptor&) = delete;
  open_descriptor& operator=(const open_descriptor&) = delete;
  ~open_descriptor() {
    if (fd_ >= 0) (void)::close(fd_);
  }
  int get() const noexcept { return fd_; }
  int release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

void serial_port::close() noexcept {
  if (handle_ == INVALID) return;
  int fd = static_cast<int>(handle_);
  // Give the exclusive mode back, so the next program can open the device.
  (void)::ioctl(fd, TIOCNXCL);
  if (guarded_fd == fd) unguard_signals();
  (void)::close(fd);  // also drops the flock
  handle_ = INVALID;
}

open_result open_port(const char* name, std::chrono::milliseconds bound) {
  auto failed = [name](open_failure failure, int error) {
    open_result result{std::nullopt, failure, error};
    if (failure == open_failure::busy) result.holders = other_holders(name);
    return result;
  };
  auto failed_with_errno = [&](int error) {
    switch (error) {
      case ENOENT:
      case ENOTDIR:
      case ENXIO:
      case ENODEV:
      case ELOOP: return failed(open_failure::no_such_device, error);
      case EACCES:
      case EPERM: return failed(open_failure::permission_denied, error);
      case EBUSY:
      case EWOULDBLOCK: return failed(open_failure::busy, error);
      default: return failed(open_failure::other, error);
    }
  };

  // Only a character device can be a serial port. Checking before the open keeps the tool from
  // opening (and so disturbing) FIFOs or files handed over by mistake.
  struct stat info {};
  if (::stat(name, &info) != 0) return failed_with_errno(errno);
  if (!S_ISCHR(info.st_mode)) return failed(open_failure::not_a_terminal, 0);

  const auto open_time = clock::now();
  int opened;
  do {
    opened = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (opened < 0 && errno == EINTR);
  if (opened < 0) return failed_with_errno(errno);
  // Started with a standard descriptor closed, the port would take its number: result lines
  // would then go to the programmer, or the HEX text be read from the line. Move it above 2.
  int fd = opened;
  if (opened <= STDERR_FILENO) {
    fd = ::fcntl(opened, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    (void)::close(opened);
    if (fd < 0) return failed_with_errno(error);
  }
  open_descriptor device(fd);

  // Nothing is changed on the device before it is known to be a line this run may use.
  if (!::isatty(fd)) return failed(open_failure::not_a_terminal, 0);
  if (is_own_terminal(fd)) return failed(open_failure::own_terminal, 0);
  if (!lock_device(fd)) return failed(open_failure::busy, errno);
  if (holder_list holders = other_holders(name); holders.count != 0 || holders.more) {
    return open_result{std::nullopt, open_failure::busy, EBUSY, holders};
  }

  serial_port port = port_backend::adopt(device.release(), bound);  // closes itself from here on
  if (!set_exclusive_mode(fd)) return failed(open_failure::busy, errno);
  guard_signals(fd);
  if (!configure_line(fd)) return failed(open_failure::refused_setting, errno);
  clear_modem_lines(fd);
  port_backend::paced(port) = moves_at_line_rate(fd);
  port_backend::chatter(port) = !await_quiet_line(fd, bound, open_time);
  return open_result{std::move(port), open_failure::none, 0};
}

link_status send_words(serial_port& port, std::span<const std::uint16_t> words) {
  const int fd = fd_of(port);
  // A whole block goes to the system in one write: its words as bytes, high byte first.
  std::array<std::uint8_t, 2 * (BLOCK_WORDS + 3)> bytes{};
  progress_deadline deadline(port.bound());
  while (!words.empty()) {
    const std::size_t count = std::min(words.size(), bytes.size() / 2);
    encode_words(words.first(count), bytes);
    words = words.subspan(count);
    std::size_t sent = 0;
    while (sent < 2 * count) {
      const auto before = clock::now();
      const ssize_t written = ::write(fd, bytes.data() + sent, 2 * count - sent);
      if (written > 0) {
        sent += static_cast<std::size_t>(written);
        port_backend::line(port).wrote(static_cast<std::size_t>(written), before);
        deadline.progressed();
        continue;
      }
      if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        return link_status::lost;
      }
      const short revents = wait_for(fd, POLLOUT, remaining_ms(deadline.at()));
      if (revents & LINE_DOWN) return link_status::lost;
      if (revents == 0 && deadline.passed()) return link_status::timed_out;
    }
  }
  return link_status::ok;
}

// On a port that moves bytes at the line rate, the programmer cannot answer a request before it
// has received all of it. Waits until the earliest moment an answer can come: `unexpected` when
// anything came before it, `lost` when the line dropped meanwhile (an unplugged adapter is told
// at once, not after the block's line time).
link_status await_earliest_answer(serial_port& port) {
  line_clock& line = port_backend::line(port);
  if (!line.request_open()) return link_status::ok;
  line.answer_awaited();
  if (!port_backend::paced(port)) return link_status::ok;
  const int fd = fd_of(port);
  const auto earliest = line.earliest_answer();
  for (;;) {
    // The queue first, then the clock: bytes count as early only when they were there before the
    // earliest moment, not when this run got the processor back after a right answer came.
    const int queued = queued_bytes(fd);
    if (queued < 0) return link_status::lost;
    const auto now = clock::now();
    if (now >= earliest) return link_status::ok;
    if (queued > 0) return link_status::unexpected;
    port_backend::tick(port);
    // Wakes for a whole word (the line's VMIN) or a dropped line; a lone byte is seen at the end.
    if (wait_for(fd, POLLIN, remaining_ms(std::min(earliest, now + WAIT_TICK))) & LINE_DOWN) {
      return link_status::lost;
    }
  }
}

words_result receive_words(serial_port& port, std::span<std::uint16_t> words) {
  const int fd = fd_of(port);
  const auto bound = port.bound();
  const auto look_again = std::clamp(bound / 10, std::chrono::milliseconds{1}, LOOK_AGAIN_MAX);
  if (const link_status early = await_earliest_answer(port); early != link_status::ok)
    return {early, 0};
  // The bound counts the programmer's silence after the request has left the line.
  progress_deadline deadline(bound, port_backend::line(port).sent_until());
  std::array<std::uint8_t, 2 * (BLOCK_WORDS + 1)> bytes{};
  const std::size_t wanted = 2 * std::min(words.size(), BLOCK_WORDS + 1);
  // The first sleep: the line time of the words one wake-up is for.
  const std::size_t batch = 2 * std::min(words.size(), RECEIVE_BATCH_WORDS);
  std::size_t got = 0;  // bytes taken; whole words are handed over
  int seen = 0;         // bytes queued at the last look; a rise means the programmer is alive
  bool woke_readable = false;
  bool waited_line_time = false;
  for (;;) {
    const int queued = queued_bytes(fd);
    if (queued < 0) return {link_status::lost, 0};
    if (queued > seen) deadline.progressed();
    seen = queued;

    const std::size_t whole =
        std::min(wanted, (got + static_cast<std::size_t>(queued)) & ~std::size_t{1});
    if (whole > got && (whole >= 2)) {
      const ssize_t n = ::read(fd, bytes.data() + got, whole - got);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
        seen = 0;
        if (got % 2 == 0) {
          port_backend::line(port).heard();
          decode_words(std::span(bytes).first(got), words);
          return {link_status::ok, got / 2};
        }
        continue;
      }
      if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
        return {link_status::lost, 0};
      }
      // The bytes reported waiting are gone (another reader took them): wait like any other time.
      seen = 0;
    }
    // A device that wakes readers for every byte keeps half a word "readable": look again after
    // 1 ms instead of spinning.
    if (woke_readable && got + static_cast<std::size_t>(queued) == 1) pause_one_ms();

    if (!waited_line_time) {
      // The bytes still to come cannot be here sooner than the line takes to carry them:
      // sleeping that long first spares the wake-ups for the single words.
      waited_line_time = true;
      const std::size_t have = got + static_cast<std::size_t>(queued);
      if (batch > have) pause_for(BYTE_TIME * static_cast<int>(batch - have));
      continue;
    }
    const auto now = clock::now();
    if (deadline.passed()) return {link_status::timed_out, 0};
    port_backend::tick(port);
    // Sleep until a whole word is queued (the line's VMIN), the line drops, or it is time to look
    // whether a first byte has come in meanwhile: the bound counts from the last byte, and the
    // wake-up for a whole word does not say when its first byte arrived.
    const short revents =
        wait_for(fd, POLLIN, remaining_ms(std::min(deadline.at(), now + look_again)));
    if ((revents & LINE_DOWN) && queued_bytes(fd) + static_cast<int>(got) < 2) {
      return {link_status::lost, 0};
    }
    woke_readable = (revents & POLLIN) != 0;
  }
}

link_status line_before_request(serial_port& port) {
  if (port_backend::chatter(port)) return link_status::chatter;
  return queue_status(queued_bytes(fd_of(port)));
}

link_status await_quiet(serial_port& port, std::chrono::nanoseconds quiet) {
  const int fd = fd_of(port);
  const auto until = clock::now() + std::chrono::ceil<clock::duration>(quiet);
  for (;;) {
    if (const link_status line = queue_status(queued_bytes(fd)); line != link_status::ok)
      return line;
    const auto now = clock::now();
    if (now >= until) return link_status::ok;
    // poll() counts in milliseconds: the last part of the wait is a plain pause.
    const auto left = until - now;
    if (left < std::chrono::milliseconds{1}) {
      pause_for(left);
      continue;
    }
    const short revents = wait_for(
        fd, POLLIN, static_cast<int>(std::chrono::floor<std::chrono::milliseconds>(left).count()));
    if ((revents & LINE_DOWN) && queued_bytes(fd) <= 0) return link_status::lost;
  }
}

int stop_request() noexcept { return noted_stop; }

void end_by_stop_request(int request) {
  std::signal(request, SIG_DFL);
  std::raise(request);
  std::_Exit(128 + request);  // only if the signal is blocked
}

}  // namespace ttyprog
