// The texts of Linux: a terminal's end-of-file key, the programs that take serial ports
// there, the stop signals and the man pages.
#include "platform/texts.h"

namespace ttyprog {

const char* const END_OF_INPUT_KEYS = "Ctrl-D";

const char* const BUSY_UNNAMED_HOLDER =
    "Busy: another program holds the device, perhaps a terminal program, another ttyprog or"
    " ModemManager.";

const char* const STOPPED_RUN_EXIT = "A run stopped by a signal ends by that signal.";

const char* const FURTHER_READING = "man ttyprog, man ttyprog-sim";

}  // namespace ttyprog
