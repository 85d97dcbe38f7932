// The serial word link: one port to the programmer, moving single 16-bit words.
//
// A word travels as two bytes, high byte first. The port is opened exclusively and put into the
// one fixed line setting the programmer expects (9600 baud, 8 data bits, no parity, 1 stop bit,
// raw binary, no flow control, DTR and RTS off). Every wait is bounded: a programmer that falls
// silent or goes away ends the exchange with a status instead of hanging the run.
//
// Only the platform back end (word_link_posix.cpp) knows what a port is made of.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace ttyprog {

// How long a word may take: no new byte for this long while a word is awaited, or no progress
// for this long while a word is being sent, and the programmer counts as not responding.
inline constexpr std::chrono::milliseconds LINK_TIMEOUT{10'000};

enum class link_status {
  ok,
  timed_out,  // nothing moved within the bound
  lost,       // hang-up, end of file or an I/O error on the line
};

// An open serial port. Move-only; closing happens when the last owner goes away.
class serial_port {
 public:
  using native_handle = std::intptr_t;

  serial_port() = default;
  serial_port(native_handle handle, std::chrono::milliseconds bound) noexcept
      : handle_(handle), bound_(bound) {}
  serial_port(const serial_port&) = delete;
  serial_port& operator=(const serial_port&) = delete;
  serial_port(serial_port&& other) noexcept : handle_(other.handle_), bound_(other.bound_) {
    other.handle_ = INVALID;
  }
  serial_port& operator=(serial_port&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      bound_ = other.bound_;
      other.handle_ = INVALID;
    }
    return *this;
  }
  ~serial_port() { close(); }

  native_handle native() const noexcept { return handle_; }
  std::chrono::milliseconds bound() const noexcept { return bound_; }

 private:
  static constexpr native_handle INVALID = -1;
  void close() noexcept;  // the back end's: releases the device and whatever hold it took

  native_handle handle_ = INVALID;
  std::chrono::milliseconds bound_ = LINK_TIMEOUT;
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
  other,              // anything else the system reported; see system_error
};

struct open_result {
  std::optional<serial_port> port;  // set exactly when the open succeeded
  open_failure failure = open_failure::none;
  int system_error = 0;  // the platform's error code of the failing call, 0 when there was none
};

// Opens the device at `name` exactly as given and configures the line. Fails for a path that does
// not exist, is not a terminal device, or is already held by another program.
open_result open_port(const char* name, std::chrono::milliseconds bound = LINK_TIMEOUT);

// Sends the low 16 bits of `value`, high byte first; returns once both bytes are handed over.
link_status send_word(serial_port& port, unsigned value);

// Waits until both bytes of a word are queued and takes exactly those two; a further byte stays
// queued for the next call.
word_result receive_word(serial_port& port);

}  // namespace ttyprog
