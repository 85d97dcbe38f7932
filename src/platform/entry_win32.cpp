// The entry on Windows (linked with -municode): the arguments as the wide command line holds them
// (with the start-up code's wildcard expansion), turned into UTF-8.
#include <array>
#include <cstddef>
#include <cwchar>

#include "platform/entry.h"
#include "platform/utf16_win32.h"

namespace {

// The command line holds at most 32767 UTF-16 units, each at most 3 bytes of UTF-8, and an
// argument takes at least one unit and a blank: every argument typed fits. Only a wildcard that
// expands to more names than that could overflow: a name that no longer fits is handed over
// empty, and names past the 16384th are left out (the tool reads none beyond its first words).
std::array<char, 3 * 32768 + 16384> argument_text{};
std::array<char*, 16384 + 1> argument_list{};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  static char empty[] = "";
  const std::size_t count = argc > 0 ? static_cast<std::size_t>(argc) : 0;
  const std::size_t kept = count < argument_list.size() ? count : argument_list.size() - 1;
  std::size_t used = 0;
  for (std::size_t i = 0; i < kept; ++i) {
    const std::size_t units = std::wcslen(argv[i]);
    if (argument_text.size() - used < 3 * units + 1) {
      argument_list[i] = empty;
      continue;
    }
    argument_list[i] = argument_text.data() + used;
    used += ttyprog::to_utf8(argv[i], units, std::span<char>(argument_text).subspan(used)) + 1;
  }
  argument_list[kept] = nullptr;
  return ttyprog::program_main(static_cast<int>(kept), argument_list.data());
}
