// The wire trace: one line per word, appended and flushed as it happens, so a reader sees every
// word as soon as it has moved.
//
//   # session 3         a program opened the terminal
//   < 8010              a word from the tool
//   > c000              a word to the tool
//   # session 3 ended   the program closed it; answers it left unread are discarded
#pragma once

#include <cstdint>
#include <string_view>

#include "sim_fd.h"

namespace ttyprog::sim {

class trace_log {
 public:
  trace_log() = default;  // traces nothing

  // Opens `path` for appending (created if missing). False when it cannot be opened.
  bool open(std::string_view path);

  void received(std::uint16_t word) { word_line('<', word); }
  void sent(std::uint16_t word) { word_line('>', word); }
  void session(std::uint64_t number) { session_line(number, false); }
  void session_ended(std::uint64_t number) { session_line(number, true); }

 private:
  void session_line(std::uint64_t number, bool ended);
  void word_line(char direction, std::uint16_t word);
  void line(std::string_view text);

  unique_fd fd_;
};

}  // namespace ttyprog::sim
