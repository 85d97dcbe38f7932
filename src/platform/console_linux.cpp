// The terminal behind standard error, asked through the descriptor.
#include "platform/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace ttyprog {

void prepare_standard_output() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::signal(SIGPIPE, SIG_IGN);
}

void print_text(std::FILE* stream, const char* format, std::va_list args) {
  std::vfprintf(stream, format, args);
}

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

unsigned stderr_columns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace ttyprog
