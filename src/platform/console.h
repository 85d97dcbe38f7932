// What the tool can learn about the terminal its standard error goes to.
//
// A person watching a terminal gets extra help (a progress line, the reason a port would not
// open); a script reading a pipe or a file gets exactly the fixed messages and nothing else.
#pragma once

namespace ttyprog {

// Standard output as the commands need it: each line goes out as soon as it is complete, also into
// a pipe, and a reader that goes away does not stop the process in the middle of a block on the
// wire (the writes just fail).
void prepare_standard_output();

// True when standard input is an interactive terminal.
bool stdin_is_terminal();

// True when standard error is an interactive terminal.
bool stderr_is_terminal();

// The width of that terminal in columns; 0 when it is not a terminal or does not say.
unsigned stderr_columns();

}  // namespace ttyprog
