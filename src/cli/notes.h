// Lines that say where a problem is: which line of the HEX file is bad, which words differ, which
// block was refused. They go to standard error when a person watches it on a terminal, or always
// with TTYPROG_VERBOSE=1; standard output never changes.
#pragma once

#include "cli/output.h"

namespace ttyprog {

// Decides once, at the start of a run, whether notes are written.
void want_notes(bool verbose);

bool notes_wanted();

// Writes one note, with its newline, when notes are wanted.
TTYPROG_PRINTF_FORMAT(1, 2) void note(const char* format, ...);

}  // namespace ttyprog
