// UTF-8 to UTF-16 with the system's converter; UTF-16 to UTF-8 character by character, so that a
// text cut short to fit a fixed buffer ends on a whole character.
#include "platform/utf16_win32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>

namespace ttyprog {

bool to_wide_path(const char* prefix, const char* text, wide_path& into) {
  into.units[0] = L'\0';
  const std::size_t prefix_length = std::strlen(prefix);
  if (prefix_length >= into.units.size()) return false;
  for (std::size_t i = 0; i < prefix_length; ++i) into.units[i] = static_cast<wchar_t>(prefix[i]);
  into.units[prefix_length] = L'\0';
  if (*text == '\0') return true;
  // With -1 the count includes the NUL, which is converted too.
  const int room = static_cast<int>(into.units.size() - prefix_length);
  if (::MultiByteToWideChar(CP_UTF8, 0, text, -1, into.units.data() + prefix_length, room) == 0) {
    into.units[0] = L'\0';
    return false;
  }
  return true;
}

std::size_t to_utf8(const wchar_t* text, std::size_t units, std::span<char> into) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < units;) {
    char32_t c = static_cast<char16_t>(text[i]);
    std::size_t taken = 1;
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const bool low_follows = i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (high && low_follows) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(text[i + 1]) - 0xDC00u);
      taken = 2;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    const std::size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (used + length >= into.size()) break;  // the NUL must still fit
    static constexpr unsigned char LEAD[] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};
    for (std::size_t k = length; k > 1; --k) {
      into[used + k - 1] = static_cast<char>(0x80 | (c & 0x3F));
      c >>= 6;
    }
    into[used] = static_cast<char>(LEAD[length] | c);
    used += length;
    i += taken;
  }
  into[used] = '\0';
  return used;
}

}  // namespace ttyprog
