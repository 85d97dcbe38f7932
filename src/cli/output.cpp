#include "cli/output.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli/progress.h"

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

}  // namespace

void out_line(const char* text) {
  erase_progress();
  errno = 0;
  check(std::puts(text) >= 0);
}

void out_format(const char* format, ...) {
  erase_progress();
  errno = 0;
  std::va_list args;
  va_start(args, format);
  const int written = std::vprintf(format, args);
  va_end(args);
  check(written >= 0);
}

bool out_flush() {
  errno = 0;
  check(std::fflush(stdout) == 0);
  return !lost;
}

bool output_lost() { return lost; }

}  // namespace ttyprog
