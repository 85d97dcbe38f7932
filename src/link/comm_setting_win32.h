// What the Windows back end asks of a communications device, as plain records: the line setting
// (a DCB for SetCommState) and the port's time-outs (COMMTIMEOUTS for SetCommTimeouts).
// word_link_win32.cpp applies them; tests/wine/windows checks them field by field.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <chrono>

namespace ttyprog {

// The line setting is the DCB of the 32-bit and 64-bit API, 28 bytes long.
static_assert(sizeof(DCB) == 28);

// Software flow control stays off (fOutX and fInX are 0), so the XON and XOFF characters never
// act. They are still the usual DC1 and DC3: SetCommState refuses a DCB whose two are equal.
inline constexpr char LINE_XON_CHAR = 0x11;
inline constexpr char LINE_XOFF_CHAR = 0x13;
// Input flow control stays off too, so the buffer limits never act either. They are small enough
// for any driver's input buffer (a driver refuses a limit beyond its buffer), and the XOFF limit is
// not zero, as the documentation asks.
inline constexpr WORD LINE_XON_LIMIT = 64;
inline constexpr WORD LINE_XOFF_LIMIT = 64;

// 9600 baud, 8 data bits, binary, with the XON/XOFF characters and limits above. Everything else
// stays zero: no parity, one stop bit, no flow control of any kind, DTR and RTS off, no error or
// null character handling.
inline DCB line_setting() {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = CBR_9600;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  dcb.XonChar = LINE_XON_CHAR;
  dcb.XoffChar = LINE_XOFF_CHAR;
  dcb.XonLim = LINE_XON_LIMIT;
  dcb.XoffLim = LINE_XOFF_LIMIT;
  return dcb;
}

// Reads return at once with what is queued (the receive waits on the queue count itself). A write
// waits for room in the output at most the link's bound, and returns short when that has passed;
// the constant is never 0, which would mean no limit at all.
inline COMMTIMEOUTS port_timeouts(std::chrono::milliseconds bound) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant =
      static_cast<DWORD>(std::clamp<long long>(bound.count(), 1, MAXDWORD - 1));
  return timeouts;
}

}  // namespace ttyprog
