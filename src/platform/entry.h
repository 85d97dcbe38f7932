// The program's entry. The system starts the program at its own entry: `main` on Linux,
// `wmain` on Windows, where only the wide command line holds names in any script (the narrow one
// turns what the ANSI code page lacks into '?'). That entry hands the arguments over in UTF-8 on
// Windows, as they are elsewhere, to program_main, which the program defines.
#pragma once

namespace ttyprog {

int program_main(int argc, char** argv);

}  // namespace ttyprog
