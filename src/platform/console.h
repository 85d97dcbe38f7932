// What the tool can learn about the terminal its standard error goes to.
//
// A person watching a terminal gets extra help (a progress line, the reason a port would not
// open); a script reading a pipe or a file gets exactly the fixed messages and nothing else.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace ttyprog {

// Standard output as the commands need it: buffered, so that a line is written at once rather
// than piece by piece, and a reader that goes away does not stop the process in the middle of a
// block on the wire (the writes just fail). Each line goes out as soon as it is complete, also
// into a pipe: where the C library cannot buffer by line, the writer flushes at each line end.
void prepare_standard_output();

// Writes formatted text to `stream` (standard output or error) so that the names and system texts
// in it read right. On Linux they are the bytes the system gave, written as they are. On Windows
// they are UTF-8: a console is given them as characters (it would read bytes in its own code
// page), a file or pipe gets the UTF-8 bytes.
void print_text(std::FILE* stream, const char* format, std::va_list args);

// True when standard input is an interactive terminal.
bool stdin_is_terminal();

// True when standard error is an interactive terminal.
bool stderr_is_terminal();

// The width of that terminal in columns; 0 when it is not a terminal or does not say.
unsigned stderr_columns();

}  // namespace ttyprog
