// The serial word link: one port to the programmer, moving single 16-bit words.
//
// A word travels as two bytes, high byte first (wire.h). Two back ends keep the same contract:
// word_link_linux.cpp (a terminal device driven with termios) and word_link_win32.cpp (a
// communications device driven with the Win32 serial API). CMake compiles the one that fits.
//
// The contract both back ends keep:
//   - Exclusive use. A port that another program holds is refused (open_failure::busy), and while
//     this run holds the port other programs are refused when they open it. The reach is the
//     system's: on Linux the holder scan sees the processes of this run's PID namespace, and a
//     program running as root can still open a port held in exclusive mode.
//   - The line setting. 9600 baud, 8 data bits, no parity, 1 stop bit, raw binary, no flow control,
//     DTR and RTS off. A device that refuses the setting is refused as a whole: the run never talks
//     through a line whose speed or framing is unknown.
//   - Stale input. Whatever was queued before the open is discarded, and the open returns only once
//     the line has been quiet for QUIET_TIME, so that the first request is not answered by the
//     rest of an earlier run's answer. A line that is not quiet within the bound sends without
//     being asked: the open still returns the port, and line_before_request() says `chatter`.
//     Later, line_before_request() tells the protocol whether bytes arrived that answer nothing.
//   - Answers belong to their request. The bound for an answer counts from the moment the request
//     can have left the line at the line rate (line_clock.h), not from the write. On a port that
//     moves bytes at the line rate (a real serial port, not a pseudo-terminal), a byte that arrives
//     before the request can have been received answers nothing: `unexpected`. await_quiet() proves
//     that nothing else is coming after an answer.
//   - Bounded waits. A word awaited for the bound without a new byte, or a send that makes no
//     progress for as long, ends as timed_out; a hang-up, an unplugged device or an I/O error as
//     lost. Every wait goes back to the system's wait with its deadline, even when bytes that were
//     reported waiting are gone (another reader took them). Nothing waits forever.
//   - Stop requests. While a port is open, the first stop request (SIGINT, SIGTERM, SIGHUP; Ctrl-C,
//     Ctrl-Break or closing the console on Windows) is only noted: stop_request() says so, and the
//     command stops at its next exchange boundary, so the programmer is never left inside a block;
//     the quiet wait at the open ends at once. A second request ends the process at once, unless it
//     comes within STOP_REPEAT of the first: one Ctrl-C that a shell or `timeout` delivers twice is
//     one request. Every other signal whose default action ends the
//     process first gives the port's exclusive mode back (a pseudo-terminal would keep it).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "link/line_clock.h"
#include "platform/port_diagnosis.h"
#include "wire.h"

namespace ttyprog {

// How long a word may take: no new byte for this long while a word is awaited, or no progress
// for this long while a word is being sent, and the programmer counts as not responding.
inline constexpr std::chrono::milliseconds LINK_TIMEOUT{10'000};

// Told from the link's waits that time passes (a front end redraws its progress line). It must not
// print over the line's exchange.
struct wait_ticker {
  void (*tick)(void* context) = nullptr;
  void* context = nullptr;

  void operator()() const {
    if (tick != nullptr) tick(context);
  }
};

// The longest a wait goes without telling its ticker.
inline constexpr std::chrono::milliseconds WAIT_TICK{100};

enum class link_status {
  ok,
  timed_out,   // nothing moved within the bound
  lost,        // hang-up, end of file or an I/O error on the line
  unexpected,  // bytes that answer nothing this run asked: waiting before a request, arrived
               // before the request could have been received, or after the answer was whole
  chatter,     // the line never went quiet at the open: the programmer sends without being asked
};

// An open serial port. Move-only; closing happens when the last owner goes away. What the port
// is made of is known only to the back end (port_backend).
class serial_port {
 public:
  serial_port() = default;
  serial_port(const serial_port&) = delete;
  serial_port& operator=(const serial_port&) = delete;
  serial_port(serial_port&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID)), bound_(other.bound_), line_(other.line_),
        paced_(other.paced_), chatter_(other.chatter_), ticker_(other.ticker_) {}
  serial_port& operator=(serial_port&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, INVALID);
      bound_ = other.bound_;
      line_ = other.line_;
      paced_ = other.paced_;
      chatter_ = other.chatter_;
      ticker_ = other.ticker_;
    }
    return *this;
  }
  ~serial_port() { close(); }

  std::chrono::milliseconds bound() const noexcept { return bound_; }

  // While set, the link's waits call `ticker` at least every WAIT_TICK.
  void set_ticker(wait_ticker ticker) noexcept { ticker_ = ticker; }
  // Bytes of the request being written that can have left the line by now, at the line rate.
  std::size_t bytes_on_line() const { return line_.bytes_gone(std::chrono::steady_clock::now()); }

 private:
  friend struct port_backend;  // defined by the back end only
  using native_handle = std::intptr_t;
  static constexpr native_handle INVALID = -1;

  serial_port(native_handle handle, std::chrono::milliseconds bound) noexcept
      : handle_(handle), bound_(bound) {}
  void close() noexcept;  // the back end's: releases the device and whatever hold it took

  native_handle handle_ = INVALID;
  std::chrono::milliseconds bound_ = LINK_TIMEOUT;
  line_clock line_;       // when the bytes written can have left the line
  bool paced_ = false;    // the device moves bytes at the line rate (a real serial port)
  bool chatter_ = false;  // the line was not quiet within the bound at the open
  wait_ticker ticker_{};  // told while the link waits
};

struct word_result {
  link_status status = link_status::ok;
  std::uint16_t word = 0;  // valid when status is ok
};

// Why a port could not be opened, in the terms a user can act on.
enum class open_failure {
  none,
  no_such_device,     // nothing exists at that path (or a link points nowhere)
  permission_denied,  // the device exists but this user may not open it
  busy,               // another program holds the device
  not_a_terminal,     // the path exists but is not a serial (terminal) device
  own_terminal,       // the device is this session's own terminal, not a programmer's line
  refused_setting,    // the device would not take the line setting
  other,              // anything else the system reported; see system_error
};

struct open_result {
  std::optional<serial_port> port;  // set exactly when the open succeeded
  open_failure failure = open_failure::none;
  int system_error = 0;  // the platform's error code of the failing call, 0 when there was none
  // When the port is busy: the other programs that hold it, as the one scan of the open found
  // them (empty where the system cannot tell, or when a program that keeps itself hidden holds it).
  holder_list holders{};
};

// How long the line must stay silent after the open before the first request.
inline constexpr std::chrono::nanoseconds QUIET_TIME = 20 * BYTE_TIME;

// How long the line must stay silent after the last answer of a command before the command may
// report success (25 ms). A programmer that sends one word too many sends it right after its
// answer, within 2 byte times; a USB adapter may hold received bytes for its latency timer (16 ms
// by default on common adapters) and deliver the stray word in a later packet. 24 byte times
// covers both, and costs 25 ms once per command.
inline constexpr std::chrono::nanoseconds SETTLE_TIME = 24 * BYTE_TIME;

// How long the line must stay silent after a block's answer before the next block goes out. The
// first byte of a word sent back to back with the answer is on the line one byte time after the
// answer's last byte, and one byte in the queue is enough to see it: 2 byte times leave a byte
// time of margin. Later words are caught by the line-time rule on a real port, and by SETTLE_TIME
// after the last block (each answer is then one word late, so the last one is left over).
inline constexpr std::chrono::nanoseconds BLOCK_GAP = 2 * BYTE_TIME;

// Two stop requests this close together are one: a shell or `timeout` delivers one Ctrl-C twice.
inline constexpr std::chrono::milliseconds STOP_REPEAT{100};

// Opens the device at `name` exactly as given, configures the line and lets it settle (see the
// contract above). Fails for a path that does not exist, is not a terminal device, is this
// session's own terminal, refuses the line setting, or is held by another program.
open_result open_port(const char* name, std::chrono::milliseconds bound = LINK_TIMEOUT);

// Sends `words` in order, each high byte first; returns once every byte is handed over.
link_status send_words(serial_port& port, std::span<const std::uint16_t> words);

// Sends the low 16 bits of `value`.
inline link_status send_word(serial_port& port, unsigned value) {
  const std::uint16_t word = static_cast<std::uint16_t>(value & 0xFFFFu);
  return send_words(port, {&word, 1});
}

// Words arrive one every 2 byte times; waking for each costs more than it tells. A wait for many
// words first sleeps the line time of at most this many, then takes all that came at once.
inline constexpr std::size_t RECEIVE_BATCH_WORDS = 32;

struct words_result {
  link_status status = link_status::ok;
  std::size_t count = 0;  // words stored, at least 1 when status is ok
};

// Waits until at least one whole word is queued and takes every whole word queued, at most
// `words.size()`; a further byte stays queued for the next call. A wait for more than one word
// first sleeps the line time of up to RECEIVE_BATCH_WORDS of them. The first wait after a request
// is `unexpected` when, on a port that moves bytes at the line rate, bytes came before the request
// can have been received.
words_result receive_words(serial_port& port, std::span<std::uint16_t> words);

// Waits for exactly one word.
inline word_result receive_word(serial_port& port) {
  std::uint16_t word = 0;
  const words_result got = receive_words(port, {&word, 1});
  return {got.status, word};
}

// Before a request: ok on a quiet line; `chatter` when the line never went quiet at the open,
// `unexpected` when bytes are waiting, `lost` when the device cannot be asked.
link_status line_before_request(serial_port& port);

// After an answer: ok when nothing arrives for `quiet`; `unexpected` as soon as a byte does,
// `lost` when the line drops.
link_status await_quiet(serial_port& port, std::chrono::nanoseconds quiet);

// The first stop request noted while a port was open: its signal number (on Windows the C
// runtime's number for the console event: SIGINT for Ctrl-C, SIGBREAK, SIGTERM for a close), 0
// when there was none.
int stop_request() noexcept;

// Ends the process the way the noted stop request would have ended it (a POSIX shell sees 128 +
// the signal number; on Windows the exit code is STATUS_CONTROL_C_EXIT). Call after the port is
// closed.
[[noreturn]] void end_by_stop_request(int request);

}  // namespace ttyprog
