// Text between the UTF-8 that the tool works in (its arguments, the names and system texts it
// prints) and the UTF-16 of the Win32 calls that take any script: CreateFileW, _wfopen,
// FormatMessageW, WriteConsoleW and the wide command line.
#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace ttyprog {

// Room for the longest path Windows takes (32767 UTF-16 units) and its NUL.
inline constexpr std::size_t WIDE_PATH_UNITS = 32768;

struct wide_path {
  std::array<wchar_t, WIDE_PATH_UNITS> units{};
  const wchar_t* c_str() const noexcept { return units.data(); }
};

// `prefix` (ASCII) followed by the UTF-8 text `text`, in UTF-16 with its NUL; false (and an empty
// path) when it does not fit. A byte that is not UTF-8 becomes U+FFFD.
bool to_wide_path(const char* prefix, const char* text, wide_path& into);

// The first `units` UTF-16 units of `text` in UTF-8, with a NUL, as many whole characters as fit
// in `into` (which must hold at least the NUL). A lone surrogate becomes U+FFFD. Returns the bytes
// written before the NUL.
std::size_t to_utf8(const wchar_t* text, std::size_t units, std::span<char> into);

}  // namespace ttyprog
