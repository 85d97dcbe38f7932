// The simulator's command line: target contents, faults, timing, link and trace paths.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "sim_target.h"

namespace ttyprog::sim {

inline constexpr std::uint32_t PACED_WORD_TIME_US = 2000;

// A few bytes given as hexadecimal pairs on the command line.
struct byte_string {
  std::array<std::uint8_t, 32> bytes{};
  std::size_t size = 0;
  std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
};

struct sim_options {
  std::string_view link_path;    // empty: no link
  std::string_view trace_path;   // empty: no trace
  std::string_view device_path;  // empty: make a pseudo-terminal; else serve this terminal device
  std::uint32_t session_gap_ms = 0;  // 0: sessions only by open and close
  target_settings target;
  fault_settings faults;
  std::uint32_t split_pause_ms = 0;  // pause between the two bytes of every answer word
  bool pace = false;                 // move bytes at 9600 baud
  bool chatter = false;              // send REPLY_OK unasked, all session long, at the line rate
  std::uint32_t word_time_us = 0;    // programming time per word written into the target
  bool help = false;
  bool version = false;
  // Bytes left waiting in the terminal's input queue at start-up, as an earlier run could leave.
  byte_string stale;
  // Bytes sent at the line rate once the first session has started: the rest of an earlier
  // answer still on its way when the port was opened.
  byte_string late_stale;
};

struct options_result {
  sim_options options;
  std::string_view error;    // empty when the command line was good
  std::string_view culprit;  // the argument the error is about
};

// Reads the arguments that follow the program name. Both "--name value" and "--name=value" work;
// a name it does not know is "unknown option", whatever follows it.
options_result parse_options(std::span<const char* const> args);

// The full description printed by --help.
std::string_view help_text();

}  // namespace ttyprog::sim
