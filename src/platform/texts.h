// The words of the front end's texts that differ from one system to the other: which keys end
// typed input, who is likely to hold a port, how a stopped run ends, where more is written. The
// front end prints them; they only say what is true of the system.
#pragma once

namespace ttyprog {

// The keys that end text typed at the terminal: "Ctrl-D".
extern const char* const END_OF_INPUT_KEYS;

// The cause line of a port held by a program the system does not name.
extern const char* const BUSY_UNNAMED_HOLDER;

// How a run that the user stopped ends, as --help says it.
extern const char* const STOPPED_RUN_EXIT;

// Where the user reads more, as --help says it: "man ttyprog, man ttyprog-sim".
extern const char* const FURTHER_READING;

}  // namespace ttyprog
