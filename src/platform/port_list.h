// The serial ports present: those with a stable name (and the device it points to), then those
// without one that have hardware behind them.
//
// Only looks: no device is opened. The order of the list is the caller's business.
#pragma once

#include <array>
#include <cstddef>

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

inline constexpr std::size_t MAX_LISTED_PORTS = 64;

struct serial_port_list {
  std::array<listed_port, MAX_LISTED_PORTS> ports{};  // those with a stable name first
  std::size_t count = 0;
  bool more = false;  // further ports exist than `ports` holds
};

// The serial ports present. A port reached by a stable name is listed once, under that name; a
// stable name whose device is gone is left out, and so is a port with no device node to open.
serial_port_list list_serial_ports(const port_list_roots& roots = {});

}  // namespace ttyprog
