// Telling the user that the port would not open, and why.
#pragma once

#include <array>

#include "link/word_link.h"
#include "platform/port_diagnosis.h"

namespace ttyprog {

// What is known about a failed open: the failure itself and, depending on its kind, what the
// system could tell about the devices.
struct port_failure_facts {
  open_failure failure = open_failure::other;
  int system_error = 0;
  const char* listing_dir = nullptr;  // where `devices` were looked for; nullptr: nowhere
  serial_device_list devices;         // for no_such_device
  holder_list holders;                // for busy
  device_access access;               // for permission_denied
};

// Asks the system what it can tell about the failure of opening `port_name`.
port_failure_facts gather_port_failure_facts(const char* port_name, const open_result& opened);

using cause_line = std::array<char, 2048>;

// The one line, without its newline, that says why the port would not open and what may help.
cause_line describe_port_failure(const char* port_name, const port_failure_facts& facts);

// Writes "Opening port %s failed!" to standard error and, where notes go (a person watching
// standard error on a terminal, or TTYPROG_VERBOSE=1), the line that says why.
void report_port_failure(const char* port_name, const open_result& opened);

}  // namespace ttyprog
