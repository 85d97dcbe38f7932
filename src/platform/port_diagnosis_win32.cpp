// Serial device facts on Windows: the system offers no stable-name directory, no view of other
// processes' handles and no device groups to a plain program, so every answer is empty and the
// tool says only what the failed open itself told.
#include "platform/port_diagnosis.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <cwchar>

#include "platform/utf16_win32.h"

namespace ttyprog {

const char* const SERIAL_BY_ID_DIR = nullptr;

serial_device_list list_serial_devices(const char*) { return {}; }

holder_list find_device_holders(const char*) { return {}; }

device_access examine_device_access(const char*) { return {}; }

fixed_text<160> system_error_text(int code) {
  // In the user's language and any script: the wide text, passed on in UTF-8 like every name.
  std::array<wchar_t, 512> wide{};
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(code), 0, wide.data(),
                                        static_cast<DWORD>(wide.size()), nullptr);
  // The system's text ends in a period and a line end; the caller adds its own.
  std::size_t end = length < wide.size() ? length : 0;
  while (end > 0 && std::wcschr(L" .\r\n", wide[end - 1]) != nullptr) --end;
  fixed_text<160> text;
  to_utf8(wide.data(), end, text.chars);
  return text;
}

}  // namespace ttyprog
