// The console behind standard error, asked through the C runtime and the console API.
#include "platform/console.h"

#include <io.h>
#include <windows.h>

#include <cstdio>

namespace ttyprog {

// The C runtime here treats line buffering as full buffering, so lines go out unbuffered; there
// is no SIGPIPE to ignore.
void prepare_standard_output() { std::setvbuf(stdout, nullptr, _IONBF, 0); }

bool stdin_is_terminal() { return _isatty(_fileno(stdin)) != 0; }

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

unsigned stderr_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? static_cast<unsigned>(columns) : 0;
}

}  // namespace ttyprog
