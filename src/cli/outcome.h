// What a command achieved, and the exit code that tells it.
//
// By default every run that opened the port exits with 0, whatever happened (the lines on standard
// output say it), except when standard output itself was lost. With TTYPROG_STRICT=1 the exit code
// tells the outcome, so a script can test it without reading the lines.
#pragma once

#include "link/word_link.h"

namespace ttyprog {

enum class outcome {
  done,             // the command did what it says
  refused,          // the programmer refused or answered wrongly ("Failed...", "read size error",
                    // unexpected data)
  no_answer,        // not responding, or the connection was lost
  differences,      // verify found differing words
  bad_input,        // the input could not be used (file, HEX text, parameter)
  no_data,          // the HEX text holds no data: nothing was written or compared
  unknown_command,  // no such command
  output_lost,      // standard output could not be written: the result is lost
};

// Exit codes. 1 keeps its meaning in both modes: usage, port, an invalid environment value.
inline constexpr int EXIT_DONE = 0;
inline constexpr int EXIT_USAGE = 1;
inline constexpr int EXIT_REFUSED = 2;
inline constexpr int EXIT_NO_ANSWER = 3;
inline constexpr int EXIT_DIFFERENCES = 4;
inline constexpr int EXIT_BAD_INPUT = 5;
inline constexpr int EXIT_NO_DATA = 6;
inline constexpr int EXIT_UNKNOWN_COMMAND = 7;
inline constexpr int EXIT_OUTPUT_LOST = 8;

// The outcome of an exchange that did not succeed, by what the link saw: the programmer answered
// (wrongly) or the link failed.
outcome failure_of(link_status link);

// The exit code of a run that opened the port.
int exit_code(outcome result, bool strict);

}  // namespace ttyprog
