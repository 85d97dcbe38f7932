// The bound of a wait that counts from the last sign of life: every byte that moves pushes the
// deadline back by the whole bound, so only a line where nothing moves for that long times out.
// Both back ends of the word link measure their waits with it.
#pragma once

#include <algorithm>
#include <chrono>

namespace ttyprog {

class progress_deadline {
 public:
  using clock = std::chrono::steady_clock;

  explicit progress_deadline(std::chrono::milliseconds bound)
      : bound_(bound), at_(clock::now() + bound) {}
  // A bound that starts counting at `from` (in the future: the line is still busy until then).
  progress_deadline(std::chrono::milliseconds bound, clock::time_point from)
      : bound_(bound), at_(std::max(from, clock::now()) + bound) {}

  // Something moved: the bound starts again.
  void progressed() { at_ = clock::now() + bound_; }
  bool passed() const { return clock::now() >= at_; }
  clock::time_point at() const { return at_; }

 private:
  std::chrono::milliseconds bound_;
  clock::time_point at_;
};

}  // namespace ttyprog
