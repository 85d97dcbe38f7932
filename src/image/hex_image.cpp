#include "image/hex_image.h"

#include <algorithm>
#include <cstring>

#include "image/text_line.h"

namespace ttyprog {
namespace {

// The value of every character as a hexadecimal digit; anything that is not a digit decodes as 0
// and is judged later by the length and checksum tests.
constexpr std::array<std::uint8_t, 256> HEX_DIGIT_VALUES = [] {
  std::array<std::uint8_t, 256> values{};
  for (std::uint8_t v = 0; v < 16; ++v) {
    values[static_cast<unsigned char>("0123456789ABCDEF"[v])] = v;
    values[static_cast<unsigned char>("0123456789abcdef"[v])] = v;
  }
  return values;
}();

std::uint8_t hex_digit(char c) { return HEX_DIGIT_VALUES[static_cast<unsigned char>(c)]; }

constexpr std::size_t RECORD_FIXED_CHARS = 10;  // count, address, type and checksum pairs
constexpr std::size_t RECORD_MIN_CHARS = 8;

}  // namespace

std::uint8_t parse_hex_pair(const char* text) {
  return static_cast<std::uint8_t>((hex_digit(text[0]) << 4) | hex_digit(text[1]));
}

int parse_hex_record(std::span<std::uint8_t, HEX_RECORD_BYTES> data, std::uint16_t& address,
                     const char* text) {
  const std::size_t length = std::strlen(text);
  if (length < RECORD_MIN_CHARS || length % 2 != 0) {
    return HEX_MALFORMED;
  }
  const std::size_t count = parse_hex_pair(text);
  if (length != 2 * count + RECORD_FIXED_CHARS) {
    return HEX_MALFORMED;
  }
  // Only data records are looked at further; every other type is passed over unchecked.
  if (parse_hex_pair(text + 6) != 0) {
    return 0;
  }
  unsigned sum = 0;
  for (std::size_t i = 0; i < length; i += 2) {
    sum += parse_hex_pair(text + i);
  }
  if ((sum & 0xFFu) != 0) {
    return HEX_BAD_CHECKSUM;
  }
  address = static_cast<std::uint16_t>((parse_hex_pair(text + 2) << 8) | parse_hex_pair(text + 4));
  for (std::size_t i = 0; i < count; ++i) {
    data[i] = parse_hex_pair(text + 8 + 2 * i);
  }
  return static_cast<int>(count);
}

int load_hex_image(program_image& image, std::FILE* stream) {
  image.fill(BLANK_WORD);
  bool bad = false;
  std::size_t word_count = 0;
  std::array<char, HEX_LINE_MAX> line{};
  std::array<std::uint8_t, HEX_RECORD_BYTES> data{};

  text_line_reader reader(stream);
  while (const std::size_t length = reader.read(line)) {
    // A piece holds a newline only as its last character.
    if (line[length - 1] == '\n') {
      line[length - 1] = '\0';
    }
    if (line[0] != ':') {
      continue;  // empty lines, comments and the tail pieces of over-long lines
    }
    std::uint16_t address = 0;
    const int bytes = parse_hex_record(data, address, line.data() + 1);
    if (bytes < 0) {
      bad = true;
      continue;
    }
    if (bytes == 0) {
      continue;
    }
    if (address % 2 != 0 || bytes % 2 != 0) {
      bad = true;  // a record must hold whole words
      continue;
    }
    // Words at IMAGE_WORDS and beyond lie outside program memory and are dropped.
    const std::size_t first = address / 2u;
    const std::size_t words = static_cast<std::size_t>(bytes) / 2;
    for (std::size_t k = 0; k < words && first + k < IMAGE_WORDS; ++k) {
      image[first + k] = static_cast<std::uint32_t>(data[2 * k] | (data[2 * k + 1] << 8));
      word_count = std::max(word_count, first + k + 1);
    }
  }
  // A stream that failed part way must not pass for a whole file.
  if (bad || std::ferror(stream) != 0) {
    return -1;
  }
  return static_cast<int>(word_count);
}

}  // namespace ttyprog
