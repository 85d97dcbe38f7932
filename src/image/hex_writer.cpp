#include "image/hex_writer.h"

#include <cassert>

namespace ttyprog {

namespace {

constexpr char DIGITS[] = "0123456789ABCDEF";

// Appends one record: ":", count, address, type, data, checksum, newline.
std::size_t append_record(char* at, std::uint16_t address, std::uint8_t type,
                          std::span<const std::uint8_t> data) {
  std::size_t used = 0;
  unsigned sum = 0;
  auto pair = [&](std::uint8_t byte) {
    at[used++] = DIGITS[byte >> 4];
    at[used++] = DIGITS[byte & 0x0F];
    sum += byte;
  };
  at[used++] = ':';
  pair(static_cast<std::uint8_t>(data.size()));
  pair(static_cast<std::uint8_t>(address >> 8));
  pair(static_cast<std::uint8_t>(address & 0xFF));
  pair(type);
  for (std::uint8_t byte : data) pair(byte);
  pair(static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF));
  at[used++] = '\n';
  return used;
}

}  // namespace

std::size_t format_hex_words(hex_text_chunk& out, std::uint16_t& upper, std::uint64_t first_word,
                             std::span<const std::uint16_t> words) {
  assert(words.size() <= HEX_RECORD_WORDS);
  const std::uint64_t byte_address = 2 * first_word;
  std::size_t used = 0;
  if (const auto wanted = static_cast<std::uint16_t>(byte_address >> 16); wanted != upper) {
    const std::array<std::uint8_t, 2> base{static_cast<std::uint8_t>(wanted >> 8),
                                           static_cast<std::uint8_t>(wanted & 0xFF)};
    used += append_record(out.data() + used, 0, 0x04, base);
    upper = wanted;
  }
  std::array<std::uint8_t, 2 * HEX_RECORD_WORDS> data{};
  for (std::size_t k = 0; k < words.size(); ++k) {
    data[2 * k] = static_cast<std::uint8_t>(words[k] & 0xFF);
    data[2 * k + 1] = static_cast<std::uint8_t>(words[k] >> 8);
  }
  used += append_record(out.data() + used, static_cast<std::uint16_t>(byte_address & 0xFFFF), 0x00,
                        std::span<const std::uint8_t>(data).first(2 * words.size()));
  out[used] = '\0';
  return used;
}

}  // namespace ttyprog
