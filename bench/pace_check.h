// Checks that the simulator's paced line runs at the real 9600-baud byte rate, from the outside:
// a client on the terminal timestamps every byte it gets against when it should have arrived.
#pragma once

#include <string>

#include "wire.h"

namespace ttyprog::bench {

// One byte's line time, in seconds.
inline constexpr double BYTE_TIME_S = std::chrono::duration<double>(BYTE_TIME).count();

struct pace_report {
  // A read of one 512-word block: 4 request bytes out, 1026 answer bytes back.
  double read_interval_us = 0;  // mean spacing of the answer bytes (ideal: 1041.7)
  double read_early_us = 0;     // most any answer byte came before its line time (ideal: <= 0)
  double read_late_us = 0;      // most any answer byte came after its line time
  double read_ratio = 0;        // request out to last byte in, over the line time of 1030 bytes
  // A write of one 512-word block: 1030 bytes out, the 2-byte status back.
  double write_ratio = 0;  // block out to status in, over the line time of 1032 bytes
};

// Runs both checks on the simulator's terminal at `port` (started with --pace --word-time 0).
// Throws std::runtime_error when the terminal cannot be used or an answer does not come.
pace_report check_pacing(const std::string& port);

}  // namespace ttyprog::bench
