#include "cli/help.h"

#include "cli/output.h"

namespace ttyprog {

void print_help() {
  out_format("%s",
             "Usage: ttyprog PORT COMMAND [PARAM]\n"
             "       ttyprog --help (-h) | --version (-V) | --list\n"
             "\n"
             "Drives a device programmer on the serial port PORT (9600 baud, 8N1), one command a run.\n"
             "\n"
             "Commands:\n"
             "  erase                  the programmer's erase\n"
             "  eraseall               the programmer's erase-all operation\n"
             "  writeprogram [FILE]    write program memory from Intel HEX (standard input without FILE)\n"
             "  verifyprogram [FILE]   compare program memory with Intel HEX; counts the differing words\n"
             "  readprogram [N]        print N words (default 512) from word 0, eight to a line\n"
             "  readhex [N]            print N words (default 8192) from word 0 as Intel HEX\n"
             "  writeid ID             write the 32-bit user ID (hexadecimal)\n"
             "  writeconfig WORD       write the configuration word (hexadecimal, up to ffff)\n"
             "  readidandconfig        print the user ID, device ID and configuration word\n"
             "  program [FILE]         read the IDs, erase, write and verify program memory from Intel\n"
             "                         HEX, stopping at the first step that fails\n"
             "\n"
             "Options (alone):\n"
             "  --help (-h)            this text\n"
             "  --version (-V)         the version\n"
             "  --list                 the serial ports present, and who holds them\n"
             "\n"
             "Environment:\n"
             "  TTYPROG_TIMEOUT=SECONDS  how long the programmer may stay silent (default 10)\n"
             "  TTYPROG_STRICT=1         the exit code tells the command's outcome (0 or empty: off)\n"
             "  TTYPROG_VERBOSE=1        say where a problem is also when standard error is no terminal\n"
             "                           (0 or empty: off)\n"
             "  TTYPROG_DEVICE_ID=HEX    program refuses a target with another device ID\n"
             "\n"
             "Exit codes: 1 usage, port or environment value; 8 standard output lost; otherwise 0.\n"
             "With TTYPROG_STRICT=1: 0 done, 2 refused or answered wrongly, 3 not responding or\n"
             "connection lost, 4 verify found differences, 5 input unusable, 6 no data in the HEX text,\n"
             "7 unknown command; 1 and 8 as above. A run stopped by a signal ends by that signal.\n"
             "\n"
             "More: man ttyprog, man ttyprog-sim.\n");
}

void print_version() { out_format("ttyprog %s\n", TTYPROG_VERSION); }

}  // namespace ttyprog
