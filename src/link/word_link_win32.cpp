// The word link on a Windows communications device, driven with the Win32 serial API.
//
// The handle uses ordinary blocking I/O with the port's time-outs set (comm_setting_win32.h):
// reads return at once, a write waits for output room at most the bound. A word is read only once
// ClearCommError reports both of its bytes queued; the wait itself is a poll of the input queue
// with a 1 ms pause, bounded by the port's time limit. A ClearCommError that fails means the
// device has gone (unplugged, driver stopped): the exchange ends as lost.
#include "link/word_link.h"

#include "link/comm_setting_win32.h"
#include "link/deadline.h"
#include "link/queue_status.h"
#include "platform/utf16_win32.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>

namespace ttyprog {

// What a port is made of here: a handle.
struct port_backend {
  static serial_port adopt(HANDLE handle, std::chrono::milliseconds bound) {
    return serial_port(reinterpret_cast<serial_port::native_handle>(handle), bound);
  }
  static HANDLE handle(const serial_port& port) { return reinterpret_cast<HANDLE>(port.handle_); }
  static line_clock& line(serial_port& port) { return port.line_; }
  static bool& chatter(serial_port& port) { return port.chatter_; }
  static void tick(const serial_port& port) { port.ticker_(); }
};

namespace {

using clock = std::chrono::steady_clock;

HANDLE handle_of(const serial_port& port) { return port_backend::handle(port); }

open_result failed(open_failure failure, DWORD error) {
  return open_result{std::nullopt, failure, static_cast<int>(error)};
}

open_failure failure_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_NETPATH:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILENAME_EXCED_RANGE: return open_failure::no_such_device;
    // A communications device is opened exclusively: the serial driver refuses the next open of a
    // port that another program holds with "access denied", and other drivers (virtual and USB
    // ports) with a sharing or lock violation or "busy". All of them say "busy" here.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY: return open_failure::busy;
    default: return open_failure::other;
  }
}

// A bare COM name (COM1, com12) opens only up to COM9 as it is: from COM10 on the system takes
// the plain name for a file. The device form \\.\COMn works for every number, so a bare COM name
// is opened in that form; every other name (a device form already, a name from the DOS device
// table such as NUL) is opened as it is given.
bool is_bare_com_name(const char* name) {
  const auto upper = [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  };
  if (upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M') return false;
  const char* digits = name + 3;
  if (*digits == '\0') return false;
  for (; *digits != '\0'; ++digits) {
    if (*digits < '0' || *digits > '9') return false;
  }
  return true;
}

bool is_folder(const wide_path& name) {
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// GetCommState fails in these ways on a device that has no serial functions at all (NUL, a
// console, a printer port): such a name is no serial port. Any other failure comes from a serial
// device that would not tell its setting.
bool is_no_comm_device(DWORD error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_HANDLE ||
         error == ERROR_NOT_SUPPORTED;
}

// Bytes waiting in the input queue, or -1 when the device cannot be asked. Pending line errors
// (framing, overrun, parity) are cleared by the query and not looked at.
long queued_bytes(HANDLE handle) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(handle, &errors, &status)) return -1;
  return static_cast<long>(status.cbInQue);
}

enum class line_quiet { quiet, chatter, gone };

// After the setting: whatever the input queue holds is stale, and so is whatever still arrives
// until the line has been quiet for QUIET_TIME. Waits at most `bound`: a line that never goes
// quiet sends without being asked, which the first request reports. A stop request ends the wait
// at once. `gone` when the device cannot be asked any more.
line_quiet settle_line(HANDLE handle, std::chrono::milliseconds bound,
                       const std::atomic<int>& stop) {
  if (!::PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR)) return line_quiet::gone;
  const auto give_up = clock::now() + bound;
  auto quiet_since = clock::now();
  for (;;) {
    const long queued = queued_bytes(handle);
    if (queued < 0) return line_quiet::gone;
    const auto now = clock::now();
    if (queued > 0) {
      (void)::PurgeComm(handle, PURGE_RXCLEAR);
      quiet_since = now;
    } else if (now - quiet_since >= QUIET_TIME) {
      return line_quiet::quiet;
    }
    if (now >= give_up) return line_quiet::chatter;
    if (stop != 0) return line_quiet::quiet;
    ::Sleep(1);
  }
}

// Console events while a port is open. The first Ctrl-C, Ctrl-Break or console close is only
// noted (the command stops at its next exchange boundary); a second one ends the process at once,
// as the system's own handler would. The noted value is the C runtime's signal number for the
// event: SIGINT for Ctrl-C, SIGBREAK for Ctrl-Break, SIGTERM for the close.
std::atomic<int> noted_stop{0};
std::atomic<long long> noted_stop_at_ms{0};
std::atomic<bool> closing_console{false};
bool handler_installed = false;  // changed by the main thread only

int stop_number(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    case CTRL_CLOSE_EVENT: return SIGTERM;
    default: return 0;  // log-off and shut-down: the system's own handling
  }
}

BOOL WINAPI on_console_event(DWORD event) {
  const int request = stop_number(event);
  if (request == 0) return FALSE;
  // Set before the request is noted, so that the close of the port cannot miss it.
  if (event == CTRL_CLOSE_EVENT) closing_console = true;
  const auto now_ms = static_cast<long long>(::GetTickCount64());
  int none = 0;
  if (noted_stop.compare_exchange_strong(none, request)) {
    noted_stop_at_ms = now_ms;
  } else if (now_ms - noted_stop_at_ms >= STOP_REPEAT.count()) {
    ::ExitProcess(STATUS_CONTROL_C_EXIT);
  } else {
    return TRUE;  // the same request, delivered twice
  }
  // The system ends the process as soon as this handler returns from a close, or a few seconds
  // later at the latest: waiting here gives the command that time to reach its boundary and end
  // the process itself.
  if (event == CTRL_CLOSE_EVENT) ::Sleep(INFINITE);
  return TRUE;
}

void guard_console() {
  if (!handler_installed) handler_installed = ::SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
}

void unguard_console() {
  // While a close event waits in the handler, the system holds the handler list: removing the
  // handler then would wait for the end of the process.
  if (handler_installed && !closing_console) (void)::SetConsoleCtrlHandler(on_console_event, FALSE);
  handler_installed = false;
}

}  // namespace

void serial_port::close() noexcept {
  if (handle_ == INVALID) return;
  (void)::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = INVALID;
  unguard_console();
}

open_result open_port(const char* name, std::chrono::milliseconds bound) {
  // The name in any script, by its wide form.
  static wide_path device;  // 64 KiB: kept off the stack
  if (!to_wide_path(is_bare_com_name(name) ? "\\\\.\\" : "", name, device)) {
    return failed(open_failure::no_such_device, ERROR_FILENAME_EXCED_RANGE);
  }
  // Read and write, shared with nobody, only a device that exists, plain blocking I/O.
  HANDLE handle = ::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A folder refuses to be opened as a file with "access denied" too: that is no port.
    if (error == ERROR_ACCESS_DENIED && is_folder(device))
      return failed(open_failure::not_a_terminal, 0);
    return failed(failure_of(error), error);
  }
  serial_port port =
      port_backend::adopt(handle, bound);  // from here the port closes itself on every path

  // A file, pipe, console or NUL opens just as well, but only a communications device has a line
  // state to read: anything else is refused before a word could go astray into it. The handle's
  // file type does not tell: USB and virtual serial drivers report a disk or an unknown type.
  DCB current{};
  current.DCBlength = sizeof(DCB);
  if (!::GetCommState(handle, &current)) {
    const DWORD error = ::GetLastError();
    if (is_no_comm_device(error)) return failed(open_failure::not_a_terminal, 0);
    return failed(open_failure::refused_setting, error);
  }
  guard_console();

  // The run never talks through a line whose setting or time-outs it could not make its own.
  DCB dcb = line_setting();
  if (!::SetCommState(handle, &dcb)) return failed(open_failure::refused_setting, ::GetLastError());
  COMMTIMEOUTS timeouts = port_timeouts(bound);
  if (!::SetCommTimeouts(handle, &timeouts)) {
    return failed(open_failure::refused_setting, ::GetLastError());
  }
  const line_quiet quiet = settle_line(handle, bound, noted_stop);
  if (quiet == line_quiet::gone) return failed(open_failure::other, ::GetLastError());
  port_backend::chatter(port) = quiet == line_quiet::chatter;
  return open_result{std::move(port), open_failure::none, 0};
}

link_status send_words(serial_port& port, std::span<const std::uint16_t> words) {
  const HANDLE handle = handle_of(port);
  // A whole block goes to the driver in one write: its words as bytes, high byte first.
  std::array<std::uint8_t, 2 * (BLOCK_WORDS + 3)> bytes{};
  progress_deadline deadline(port.bound());
  while (!words.empty()) {
    const std::size_t count = std::min(words.size(), bytes.size() / 2);
    encode_words(words.first(count), bytes);
    words = words.subspan(count);
    const DWORD size = static_cast<DWORD>(2 * count);
    DWORD sent = 0;
    while (sent < size) {
      DWORD written = 0;
      const auto before = clock::now();
      const BOOL done = ::WriteFile(handle, bytes.data() + sent, size - sent, &written, nullptr);
      if (done && written > 0) {
        sent += written;
        port_backend::line(port).wrote(written, before);
        deadline.progressed();
        continue;
      }
      // A write that took nothing ran into its own time-out: the output was held for the bound.
      if (done) return link_status::timed_out;
      // A failed write is tried again for the bytes still unsent, unless the device has gone, or
      // nothing has moved for the whole bound.
      if (queued_bytes(handle) < 0) return link_status::lost;
      if (deadline.passed()) return link_status::timed_out;
      ::Sleep(1);
    }
  }
  return link_status::ok;
}

words_result receive_words(serial_port& port, std::span<std::uint16_t> words) {
  const HANDLE handle = handle_of(port);
  // Whether a port here moves bytes at the line rate cannot be told from its handle, so only the
  // answer clock applies: the bound counts from the moment the request can have left the line.
  line_clock& line = port_backend::line(port);
  line.answer_awaited();
  progress_deadline deadline(port.bound(), line.sent_until());
  const std::size_t wanted = 2 * std::min(words.size(), BLOCK_WORDS + 1);
  // The first sleep: the line time of the words one wake-up is for.
  const auto batch = BYTE_TIME * static_cast<int>(2 * std::min(words.size(), RECEIVE_BATCH_WORDS));
  ::Sleep(static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(batch).count()));
  long seen = 0;  // bytes queued at the last look; a rise means the programmer is alive
  for (;;) {
    const long queued = queued_bytes(handle);
    if (queued < 0) return {link_status::lost, 0};
    if (queued > seen) deadline.progressed();
    seen = queued;

    if (queued >= 2) {
      // Whole words are queued, so the read finds them waiting. A read that fails or takes
      // nothing gets one more try, after the line's error state is cleared (a framing or overrun
      // error can hold reads until then); a second such read means the device no longer delivers
      // what it reported. A short read is continued for the bytes still missing.
      std::array<std::uint8_t, 2 * (BLOCK_WORDS + 1)> bytes{};
      const DWORD size =
          static_cast<DWORD>(std::min(wanted, static_cast<std::size_t>(queued) & ~std::size_t{1}));
      DWORD got = 0;
      int fruitless = 0;
      while (got < size) {
        DWORD n = 0;
        if (::ReadFile(handle, bytes.data() + got, size - got, &n, nullptr) && n > 0) {
          got += n;
        } else if (++fruitless > 1 || queued_bytes(handle) < 0) {
          return {link_status::lost, 0};
        }
      }
      line.heard();
      decode_words(std::span(bytes).first(size), words);
      return {link_status::ok, size / 2};
    }

    if (deadline.passed()) return {link_status::timed_out, 0};
    port_backend::tick(port);
    ::Sleep(1);
  }
}

link_status line_before_request(serial_port& port) {
  if (port_backend::chatter(port)) return link_status::chatter;
  return queue_status(queued_bytes(handle_of(port)));
}

link_status await_quiet(serial_port& port, std::chrono::nanoseconds quiet) {
  const HANDLE handle = handle_of(port);
  const auto until = clock::now() + std::chrono::ceil<clock::duration>(quiet);
  for (;;) {
    if (const link_status line = queue_status(queued_bytes(handle)); line != link_status::ok)
      return line;
    if (clock::now() >= until) return link_status::ok;
    ::Sleep(1);
  }
}

int stop_request() noexcept { return noted_stop; }

// The system's own handler ends a process on Ctrl-C, Ctrl-Break and a console close with
// STATUS_CONTROL_C_EXIT; a run stopped at its boundary ends the same way.
void end_by_stop_request(int) { ::ExitProcess(STATUS_CONTROL_C_EXIT); }

}  // namespace ttyprog
