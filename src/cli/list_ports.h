// `ttyprog --list`: the serial ports present, one a line.
#pragma once

#include <cstdio>

#include "platform/port_list.h"

namespace ttyprog {

// Writes one line per port to `out`: the ones with a stable name first ("NAME -> DEVICE"), then
// the others (DEVICE), each group in name order with numbers by value (ttyS2 before ttyS10), each
// line ending in the programs that hold the device; "no serial ports found" when there are none.
// Every port present is listed, however many there are.
void print_port_list(std::FILE* out, const port_list_roots& roots = {});

}  // namespace ttyprog
