// The console behind standard error, asked through the C runtime and the console API.
#include "platform/console.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>

#include "platform/utf16_win32.h"

namespace ttyprog {

namespace {

// Room for the longest line the tool prints to a console (a cause line, a note naming a file); a
// longer one is cut there.
constexpr std::size_t CONSOLE_LINE = 4096;

// The output buffer: the C runtime here treats line buffering as full buffering, and its own
// unbuffered mode writes a formatted line a byte at a time. The writer flushes at each line end.
std::array<char, 16384> output_buffer{};

}  // namespace

// There is no SIGPIPE to ignore.
void prepare_standard_output() {
  std::setvbuf(stdout, output_buffer.data(), _IOFBF, output_buffer.size());
}

void print_text(std::FILE* stream, const char* format, std::va_list args) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (!::GetConsoleMode(handle, &mode)) {
    std::vfprintf(stream, format, args);  // a file or a pipe gets the UTF-8 bytes
    return;
  }
  // A console shows bytes in its own code page, which is neither UTF-8 nor, for the system's
  // texts, the ANSI one: it is given the characters.
  std::array<char, CONSOLE_LINE> text{};
  const int length = std::vsnprintf(text.data(), text.size(), format, args);
  if (length <= 0) return;
  std::array<wchar_t, CONSOLE_LINE> wide{};
  const int bytes = std::min(length, static_cast<int>(text.size()) - 1);
  const int units = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, wide.data(),
                                          static_cast<int>(wide.size()));
  std::fflush(stream);  // what the runtime holds comes first
  DWORD written = 0;
  (void)::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(units), &written, nullptr);
}

bool stdin_is_terminal() { return _isatty(_fileno(stdin)) != 0; }

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

unsigned stderr_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? static_cast<unsigned>(columns) : 0;
}

}  // namespace ttyprog
