// The entry on Linux: the arguments are bytes, handed over as they are.
#include "platform/entry.h"

int main(int argc, char** argv) { return ttyprog::program_main(argc, argv); }
