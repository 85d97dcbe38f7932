// Standard output of the commands, checked: every result line goes through here, so a write that
// fails (a full disk, /dev/full, a closed pipe) is never mistaken for a result the user received.
#pragma once

// Format checks of printf-like functions. On Windows the build uses the C runtime's standard
// printf (__USE_MINGW_ANSI_STDIO, see cmake/mingw-w64.cmake), not the older one the compiler
// assumes there by default, so the checks are told the same.
#ifdef _WIN32
#define TTYPROG_PRINTF_FORMAT(format_index, first_argument) \
  [[gnu::format(gnu_printf, format_index, first_argument)]]
#else
#define TTYPROG_PRINTF_FORMAT(format_index, first_argument) \
  [[gnu::format(printf, format_index, first_argument)]]
#endif

namespace ttyprog {

// Writes `text` and a newline.
void out_line(const char* text);

// Writes formatted text.
TTYPROG_PRINTF_FORMAT(1, 2) void out_format(const char* format, ...);

// Writes formatted text to standard error, so that the names and system texts in it read right
// on a console too.
TTYPROG_PRINTF_FORMAT(1, 2) void err_format(const char* format, ...);

// Writes out what is buffered. Returns false when standard output has failed, now or before.
bool out_flush();

// True once a write to standard output has failed. The first failure is told on standard error,
// once: "Writing standard output failed: REASON".
bool output_lost();

}  // namespace ttyprog
