// The settings a run takes from the environment, read once by the entry before the port is opened.
//
//   TTYPROG_TIMEOUT=SECONDS   how long the programmer may stay silent (default 10 s)
//   TTYPROG_STRICT=1          the exit code tells the command's outcome (cli/outcome.h)
//   TTYPROG_VERBOSE=1         the lines that say where a problem is, also off a terminal
//   TTYPROG_DEVICE_ID=HEX     program refuses a target whose device ID differs
//
// Unset or empty is the default; 0 is off as well.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "link/word_link.h"

namespace ttyprog {

struct settings {
  std::chrono::milliseconds bound = LINK_TIMEOUT;
  bool strict = false;
  bool verbose = false;
  std::optional<std::uint16_t> device_id;
};

// Reads the settings and keeps them for run_settings(). False after the lines on standard error
// that name the value refused and say which values the setting takes.
bool read_settings();

// The settings read (the defaults before read_settings).
const settings& run_settings();

// TTYPROG_VERBOSE alone, for a run that ends before the settings are read (a usage error): on
// only when it is 1, and no line about a value it does not take.
bool verbose_setting();

}  // namespace ttyprog
