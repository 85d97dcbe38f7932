#include "cli/notes.h"

#include <cstdarg>
#include <cstdio>

#include "cli/progress.h"
#include "platform/console.h"

namespace ttyprog {

namespace {

bool wanted = false;

}  // namespace

void want_notes(bool verbose) { wanted = verbose || stderr_is_terminal(); }

bool notes_wanted() { return wanted; }

void note(const char* format, ...) {
  if (!wanted) return;
  erase_progress();
  std::fflush(stdout);  // the note follows the lines it is about
  std::va_list args;
  va_start(args, format);
  print_text(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

}  // namespace ttyprog
