// Putting received bytes together into words, session by session.
#pragma once

#include <cstdint>
#include <optional>

namespace ttyprog::sim {

// Two bytes, high byte first, make a word. A byte left over when a session ends is dropped.
class word_assembler {
 public:
  std::optional<std::uint16_t> push(std::uint8_t byte) {
    if (!high_) {
      high_ = byte;
      return std::nullopt;
    }
    auto word = static_cast<std::uint16_t>((*high_ << 8) | byte);
    high_.reset();
    return word;
  }
  void reset() { high_.reset(); }

 private:
  std::optional<std::uint8_t> high_;
};

}  // namespace ttyprog::sim
