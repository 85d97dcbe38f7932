// The texts of Windows: a console ends typed text at a Ctrl-Z on a line of its own, a COM port is
// commonly held by a terminal program or an IDE's serial monitor, a stopped run exits with the
// code Windows gives any program ended by Ctrl-C, and the README travels beside ttyprog.exe.
#include "platform/texts.h"

namespace ttyprog {

const char* const END_OF_INPUT_KEYS = "Ctrl-Z, then Enter";

const char* const BUSY_UNNAMED_HOLDER =
    "Busy: another program holds the device, perhaps a terminal program, an IDE's serial monitor"
    " or another ttyprog.";

const char* const STOPPED_RUN_EXIT = "A run stopped by Ctrl-C exits with 0xC000013A.";

const char* const FURTHER_READING = "README.md beside ttyprog.exe";

}  // namespace ttyprog
