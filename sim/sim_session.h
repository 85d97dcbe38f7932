// Putting received bytes together into words, session by session.
#pragma once

#include <cstdint>
#include <optional>

#include "wire.h"

namespace ttyprog::sim {

// Two bytes, high byte first, make a word. A byte left over when a session ends is dropped.
class word_assembler {
 public:
  std::optional<std::uint16_t> push(std::uint8_t byte) {
    if (!high_) {
      high_ = byte;
      return std::nullopt;
    }
    const std::uint16_t word = decode_word({*high_, byte});
    high_.reset();
    return word;
  }
  void reset() { high_.reset(); }

 private:
  std::optional<std::uint8_t> high_;
};

}  // namespace ttyprog::sim
