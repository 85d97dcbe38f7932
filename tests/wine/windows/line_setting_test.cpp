// The line setting and time-outs the Windows back end applies, field by field: the DCB is the
// cleared record with 9600 baud, binary and 8 data bits (so no parity, one stop bit, no flow
// control, DTR and RTS off), plus what SetCommState needs to accept it.
#include "link/comm_setting_win32.h"
#include "link/word_link.h"

#include <cstdio>

namespace {

int failures = 0;

void expect(const char* field, long long got, long long wanted) {
  if (got == wanted) return;
  std::printf("FAIL: %s is %lld, expected %lld\n", field, got, wanted);
  ++failures;
}

#define EXPECT_FIELD(record, field, wanted) \
  expect(#field, static_cast<long long>((record).field), static_cast<long long>(wanted))

void check_line_setting() {
  const DCB dcb = ttyprog::line_setting();
  EXPECT_FIELD(dcb, DCBlength, 28);
  EXPECT_FIELD(dcb, BaudRate, 9600);
  EXPECT_FIELD(dcb, fBinary, 1);
  EXPECT_FIELD(dcb, fParity, 0);
  EXPECT_FIELD(dcb, fOutxCtsFlow, 0);
  EXPECT_FIELD(dcb, fOutxDsrFlow, 0);
  EXPECT_FIELD(dcb, fDtrControl, DTR_CONTROL_DISABLE);
  EXPECT_FIELD(dcb, fDsrSensitivity, 0);
  EXPECT_FIELD(dcb, fTXContinueOnXoff, 0);
  EXPECT_FIELD(dcb, fOutX, 0);
  EXPECT_FIELD(dcb, fInX, 0);
  EXPECT_FIELD(dcb, fErrorChar, 0);
  EXPECT_FIELD(dcb, fNull, 0);
  EXPECT_FIELD(dcb, fRtsControl, RTS_CONTROL_DISABLE);
  EXPECT_FIELD(dcb, fAbortOnError, 0);
  EXPECT_FIELD(dcb, fDummy2, 0);
  EXPECT_FIELD(dcb, wReserved, 0);
  EXPECT_FIELD(dcb, ByteSize, 8);
  EXPECT_FIELD(dcb, Parity, NOPARITY);
  EXPECT_FIELD(dcb, StopBits, ONESTOPBIT);
  EXPECT_FIELD(dcb, ErrorChar, 0);
  EXPECT_FIELD(dcb, EofChar, 0);
  EXPECT_FIELD(dcb, EvtChar, 0);
  EXPECT_FIELD(dcb, wReserved1, 0);
  // SetCommState refuses equal XON and XOFF characters: DC1 and DC3, inert with fOutX/fInX 0.
  EXPECT_FIELD(dcb, XonChar, 0x11);
  EXPECT_FIELD(dcb, XoffChar, 0x13);
  // The limits fit any input buffer of 256 bytes or more with room between them, and the XOFF
  // limit is not zero.
  if (dcb.XoffLim == 0 || dcb.XonLim + dcb.XoffLim >= 256) {
    std::printf("FAIL: XonLim %u and XoffLim %u\n", dcb.XonLim, dcb.XoffLim);
    ++failures;
  }
}

void check_timeouts() {
  // Reads return at once; a write waits the bound and no longer.
  const COMMTIMEOUTS t = ttyprog::port_timeouts(ttyprog::LINK_TIMEOUT);
  EXPECT_FIELD(t, ReadIntervalTimeout, MAXDWORD);
  EXPECT_FIELD(t, ReadTotalTimeoutMultiplier, 0);
  EXPECT_FIELD(t, ReadTotalTimeoutConstant, 0);
  EXPECT_FIELD(t, WriteTotalTimeoutMultiplier, 0);
  EXPECT_FIELD(t, WriteTotalTimeoutConstant, 10000);
  // A write constant of 0 would mean no limit at all.
  const COMMTIMEOUTS none = ttyprog::port_timeouts(std::chrono::milliseconds{0});
  EXPECT_FIELD(none, WriteTotalTimeoutConstant, 1);
}

}  // namespace

int main() {
  check_line_setting();
  check_timeouts();
  if (failures != 0) return 1;
  std::printf("line setting and time-outs as expected\n");
  return 0;
}
