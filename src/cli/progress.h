// A one-line progress indicator for the long commands, shown on standard error only when a
// person watches it on a terminal; anywhere else it writes nothing at all.
//
// The line is redrawn in place ("\r") at most a few times a second and erased before the
// command prints anything, so result lines and dump lines always start on a clean line.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace ttyprog {

using progress_text = std::array<char, 128>;

// The indicator's text, e.g. "writing 1536/8192 words  18%  0:03, 0:14 left": the action, words
// done of the total, the whole percent reached, the time elapsed and the time left
// (minutes:seconds). Cut to `columns` - 1 characters so the line never wraps; 0 columns means
// unknown, taken as 80.
progress_text format_progress(const char* action, std::uint64_t done, std::uint64_t total,
                              std::chrono::milliseconds elapsed, std::chrono::milliseconds left,
                              unsigned columns);

// The time left for `total - done` more words: at least their line time (two bytes a word at
// 9600 baud), and more when the run so far went slower (a programmer's own time).
std::chrono::milliseconds time_left(std::uint64_t done, std::uint64_t total,
                                    std::chrono::milliseconds elapsed);

// Shortest time between two redraws.
inline constexpr std::chrono::milliseconds REDRAW_INTERVAL{200};

// Erases the progress line now shown, if any. Standard output's writers call it before every line.
void erase_progress();

class progress_line {
 public:
  // Draws "0 of total" at once, when standard error is a terminal and there is work to show.
  progress_line(const char* action, std::uint64_t total);
  progress_line(const progress_line&) = delete;
  progress_line& operator=(const progress_line&) = delete;
  ~progress_line();

  // Notes that `done` words are finished; redraws when the last drawing is old enough.
  void advance(std::uint64_t done);
  // Removes the line from the terminal; call before printing anything. The next advance that is
  // due draws it again.
  void erase();

 private:
  void draw(std::uint64_t done);

  using clock = std::chrono::steady_clock;
  const char* action_;
  std::uint64_t total_;
  bool enabled_;
  unsigned columns_ = 0;
  clock::time_point start_;
  clock::time_point last_draw_{};
  std::size_t drawn_length_ = 0;  // characters of the line now on the terminal; 0 when erased
};

}  // namespace ttyprog
