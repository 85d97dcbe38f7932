// What the link knows of the line's timing, the same on every back end: when the bytes written so
// far can have left the line at the earliest, and how long the programmer may stay silent.
//
// A write returns once the bytes are in the system's buffer, long before they have crossed a
// 9600-baud line (a 512-word block takes 1.07 s). The programmer cannot answer before it has
// received the whole request, so
//   - the bound for its answer counts only from the moment the request can have left the line;
//   - on a port that really moves bytes at the line rate, a byte that arrives clearly before that
//     moment answers nothing this run asked.
// tcdrain and the output queue cannot tell the moment (a pseudo-terminal or a USB adapter reports
// the bytes gone long before they are), so it is counted from the line rate, which holds on every
// port.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "wire.h"

namespace ttyprog {

class line_clock {
 public:
  using clock = std::chrono::steady_clock;

  // `bytes` were handed to the system by a write that started at `now`. The moment is taken before
  // the write: a run held up between the write and a later look at the clock would otherwise put
  // the earliest answer too late and take a right answer for an early one.
  void wrote(std::size_t bytes, clock::time_point now) {
    if (!request_open_) {
      request_open_ = true;
      request_from_ = std::max(now, sent_until_);
      request_bytes_ = 0;
    }
    request_bytes_ += bytes;
    sent_until_ = std::max(now, sent_until_) + static_cast<std::int64_t>(bytes) * BYTE_TIME;
  }

  // The moment the request written so far can have left the line.
  clock::time_point sent_until() const { return sent_until_; }

  // Before this moment no byte can be the answer to the request being written: its line time
  // less a margin for clocks that run a little fast (4 byte times, and 1/32 of the request's line
  // time for the baud rate tolerance of the two ends). The clock point lies in the past for short
  // requests.
  clock::time_point earliest_answer() const {
    const auto line_time = sent_until_ - request_from_;
    return sent_until_ - (4 * BYTE_TIME + line_time / 32);
  }

  // An answer came: the programmer had the whole request, so what was written has left the line,
  // whatever the line rate said (a pseudo-terminal moves bytes faster). Without this the clock
  // would run ahead by the line time of every request answered faster than the line could carry
  // it, and the bound with it.
  void heard() { sent_until_ = std::min(sent_until_, clock::now()); }

  // Bytes of the latest request that can have left the line by `now`.
  std::size_t bytes_gone(clock::time_point now) const {
    if (now <= request_from_) return 0;
    return std::min(request_bytes_, static_cast<std::size_t>((now - request_from_) / BYTE_TIME));
  }

  // True until the first word of the request's answer has been awaited.
  bool request_open() const { return request_open_; }
  void answer_awaited() { request_open_ = false; }

 private:
  clock::time_point sent_until_{};
  clock::time_point request_from_{};
  std::size_t request_bytes_ = 0;
  bool request_open_ = false;
};

}  // namespace ttyprog
