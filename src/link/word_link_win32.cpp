// The word link on a Windows communications device, driven with the Win32 serial API.
//
// The handle uses ordinary blocking I/O. A word is read only once ClearCommError reports both of
// its bytes queued, so ReadFile never waits; the wait itself is a poll of the input queue with a
// 1 ms pause, bounded by the port's time limit. A ClearCommError that fails means the device has
// gone (unplugged, driver stopped): the exchange ends as lost.
#include "link/word_link.h"

#include "link/deadline.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <array>

namespace ttyprog {

// What a port is made of here: a handle.
struct port_backend {
  static serial_port adopt(HANDLE handle, std::chrono::milliseconds bound) {
    return serial_port(reinterpret_cast<serial_port::native_handle>(handle), bound);
  }
  static HANDLE handle(const serial_port& port) { return reinterpret_cast<HANDLE>(port.handle_); }
};

namespace {


// The line setting is the DCB of the 32-bit and 64-bit API, 28 bytes long.
static_assert(sizeof(DCB) == 28);

HANDLE handle_of(const serial_port& port) { return port_backend::handle(port); }

// 9600 baud, 8 data bits, binary. Everything else stays zero: no parity, one stop bit, no flow
// control of any kind, DTR and RTS off, no error or null character handling.
DCB line_setting() {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = CBR_9600;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  return dcb;
}

open_failure failure_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_NETPATH:
    case ERROR_DEV_NOT_EXIST:
      return open_failure::no_such_device;
    // A communications device is opened exclusively; one held by another program refuses the
    // next open with "access denied", so that code says "busy" here.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return open_failure::busy;
    default:
      return open_failure::other;
  }
}

// Bytes waiting in the input queue, or -1 when the device cannot be asked. Pending line errors
// are cleared by the query and not looked at.
long queued_bytes(HANDLE handle) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(handle, &errors, &status)) return -1;
  return static_cast<long>(status.cbInQue);
}

}  // namespace

void serial_port::close() noexcept {
  if (handle_ == INVALID) return;
  (void)::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = INVALID;
}

open_result open_port(const char* name, std::chrono::milliseconds bound) {
  // Read and write, shared with nobody, only a device that exists, plain blocking I/O.
  HANDLE handle = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return open_result{std::nullopt, failure_of(error), static_cast<int>(error)};
  }
  serial_port port = port_backend::adopt(handle, bound);  // from here the port closes itself on every path

  // A file, pipe, console or NUL opens just as well, but only a communications device has a line
  // state to read: anything else is refused before a word could go astray into it.
  DCB current{};
  current.DCBlength = sizeof(DCB);
  if (::GetFileType(handle) != FILE_TYPE_CHAR || !::GetCommState(handle, &current)) {
    return open_result{std::nullopt, open_failure::not_a_terminal, 0};
  }

  // A device that refuses the setting is still used as it is.
  DCB dcb = line_setting();
  (void)::SetCommState(handle, &dcb);
  return open_result{std::move(port), open_failure::none, 0};
}

link_status send_word(serial_port& port, unsigned value) {
  const HANDLE handle = handle_of(port);
  const wire_bytes bytes = encode_word(value);
  DWORD sent = 0;
  progress_deadline deadline(port.bound());
  while (sent < bytes.size()) {
    DWORD written = 0;
    const BOOL done = ::WriteFile(handle, bytes.data() + sent, static_cast<DWORD>(bytes.size()) - sent,
                                  &written, nullptr);
    if (done && written > 0) {
      sent += written;
      deadline.progressed();
      continue;
    }
    // A failed or empty write is tried again for the bytes still unsent, unless the device has
    // gone, or nothing has moved for the whole bound.
    if (!done && queued_bytes(handle) < 0) return link_status::lost;
    if (deadline.passed()) return link_status::timed_out;
    ::Sleep(1);
  }
  return link_status::ok;
}

word_result receive_word(serial_port& port) {
  const HANDLE handle = handle_of(port);
  progress_deadline deadline(port.bound());
  long seen = 0;  // bytes queued at the last look; a rise means the programmer is alive
  for (;;) {
    const long queued = queued_bytes(handle);
    if (queued < 0) return {link_status::lost, 0};
    if (queued > seen) deadline.progressed();
    seen = queued;

    if (queued >= 2) {
      // Both bytes are queued, so the read finds them waiting. A read that fails or takes nothing
      // gets one more try; a second such read means the device no longer delivers what it
      // reported. A short read is continued for the byte still missing.
      wire_bytes bytes{};
      DWORD got = 0;
      int fruitless = 0;
      while (got < bytes.size()) {
        DWORD n = 0;
        if (::ReadFile(handle, bytes.data() + got, static_cast<DWORD>(bytes.size()) - got, &n,
                       nullptr) &&
            n > 0) {
          got += n;
        } else if (++fruitless > 1) {
          return {link_status::lost, 0};
        }
      }
      return {link_status::ok, decode_word(bytes)};
    }

    if (deadline.passed()) return {link_status::timed_out, 0};
    ::Sleep(1);
  }
}

bool input_pending(serial_port& port) { return queued_bytes(handle_of(port)) != 0; }

int stop_request() noexcept { return 0; }

void end_by_stop_request(int request) { ::ExitProcess(static_cast<UINT>(128 + request)); }

}  // namespace ttyprog
