#include "support/hex_text.h"

namespace ttyprog::test {

std::string hex_record(unsigned byte_address, std::span<const std::uint8_t> data, unsigned type) {
  static constexpr char DIGITS[] = "0123456789ABCDEF";
  std::string line = ":";
  unsigned sum = 0;
  const auto put = [&](unsigned byte) {
    line += DIGITS[(byte >> 4) & 0xFu];
    line += DIGITS[byte & 0xFu];
    sum += byte & 0xFFu;
  };
  put(static_cast<unsigned>(data.size()));
  put(byte_address >> 8);
  put(byte_address);
  put(type);
  for (const std::uint8_t byte : data) put(byte);
  put(0x100u - (sum & 0xFFu));
  return line + "\n";
}

std::string hex_text(std::span<const std::uint16_t> words, std::optional<std::uint16_t> gap) {
  std::string text;
  std::size_t word = 0;
  while (word < words.size()) {
    if (words[word] == gap) {
      ++word;
      continue;
    }
    std::vector<std::uint8_t> data;
    const std::size_t first = word;
    while (word < words.size() && words[word] != gap && data.size() < 16) {
      data.push_back(static_cast<std::uint8_t>(words[word] & 0xFFu));
      data.push_back(static_cast<std::uint8_t>(words[word] >> 8));
      ++word;
    }
    text += hex_record(static_cast<unsigned>(first * 2), data);
  }
  return text + HEX_END;
}

std::string hex_text(std::size_t count, std::uint16_t value) {
  return hex_text(std::vector<std::uint16_t>(count, value));
}

std::vector<std::uint16_t> program_of(std::size_t count) {
  std::vector<std::uint16_t> words(count);
  for (std::size_t i = 0; i < count; ++i) {
    words[i] = static_cast<std::uint16_t>((i * 0x9E37u + 0x1234u) % 0x3FFFu);
  }
  return words;
}

}  // namespace ttyprog::test
