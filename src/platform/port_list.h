// The serial ports present: those with a stable name (and the device it points to), then those
// without one that have hardware behind them.
//
// Only looks: no device is opened. The ports are handed over one at a time, as many as there are;
// their order is the caller's business.
#pragma once

#include "platform/port_diagnosis.h"

namespace ttyprog {

// Where the system describes its serial ports. On Linux: the tty class directory (one entry per
// tty, with a `device` link when hardware is behind it), the device directory the port names live
// in, and the stable-name directory. Tests point them at a tree of their own. Absolute paths
// without a trailing slash. Windows asks its registry instead and ignores them.
struct port_list_roots {
  const char* tty_class = "/sys/class/tty";
  const char* dev = "/dev";
  const char* by_id = SERIAL_BY_ID_DIR;
};

struct listed_port {
  fixed_text<160> stable_name;  // the stable name's full path; empty when the port has none
  fixed_text<160> device;       // the port's own name, the one that opens it
};

// Called once for each port found.
using port_visitor = void (*)(void* context, const listed_port& port);

// Calls `visit` for every serial port present, however many there are: first each stable name
// that leads to a device (a dead or looping link is left out before anything else), then each
// port without one that has hardware behind it and a device node to open. A port reached by a
// stable name comes once, under that name. The order within each group is the system's.
void for_each_serial_port(const port_list_roots& roots, port_visitor visit, void* context);

}  // namespace ttyprog
