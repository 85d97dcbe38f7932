#include "cli/output.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli/progress.h"
#include "platform/console.h"

namespace ttyprog {

namespace {

bool lost = false;

// Notes the first failure, with the system's reason for it.
void check(bool written) {
  if (written && std::ferror(stdout) == 0) return;
  if (lost) return;
  lost = true;
  const int error = errno;
  std::fprintf(stderr, "Writing standard output failed: %s\n",
               error != 0 ? std::strerror(error) : "unknown error");
}

// A complete line goes out at once. Where standard output is buffered by line this finds nothing
// left to write; where the C library can only buffer fully, it does the line's write.
void end_line() { check(std::fflush(stdout) == 0); }

}  // namespace

void out_line(const char* text) {
  erase_progress();
  errno = 0;
  check(std::puts(text) >= 0);
  end_line();
}

void out_format(const char* format, ...) {
  erase_progress();
  errno = 0;
  std::va_list args;
  va_start(args, format);
  // Formatted first, to see whether the text ends a line; one too long for that is written as it
  // is formatted, and it ends its line (the help text).
  std::array<char, 256> text{};
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  if (length >= 0 && static_cast<std::size_t>(length) < text.size()) {
    check(std::fputs(text.data(), stdout) >= 0);
    if (std::memchr(text.data(), '\n', static_cast<std::size_t>(length)) != nullptr) end_line();
  } else {
    check(std::vprintf(format, again) >= 0);
    end_line();
  }
  va_end(again);
}

void err_format(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_text(stderr, format, args);
  va_end(args);
}

bool out_flush() {
  errno = 0;
  check(std::fflush(stdout) == 0);
  return !lost;
}

bool output_lost() { return lost; }

}  // namespace ttyprog
