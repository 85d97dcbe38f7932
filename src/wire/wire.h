// What travels on the line between the tool and the programmer: the command words, the status
// and terminator words, the block size, how a word becomes two bytes, and how long a byte takes.
//
// The tool's link, the simulator, the benchmark and the tests all take these facts from here; the
// simulator and the benchmark see nothing else of the tool.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ttyprog {

inline constexpr std::uint16_t CMD_ERASE = 0x8000;
inline constexpr std::uint16_t CMD_ERASE_ALL = 0x8001;
inline constexpr std::uint16_t CMD_WRITE_PROGRAM = 0x8010;
inline constexpr std::uint16_t CMD_WRITE_ID = 0x8011;
inline constexpr std::uint16_t CMD_WRITE_CONFIG = 0x8012;
inline constexpr std::uint16_t CMD_READ_PROGRAM = 0x8020;
inline constexpr std::uint16_t CMD_READ_ID_CONFIG = 0x8021;
inline constexpr std::uint16_t REPLY_OK = 0xC000;
inline constexpr std::uint16_t END_OF_BLOCK = 0xFFFF;
inline constexpr std::size_t BLOCK_WORDS = 512;

// The line runs at 9600 baud, 8 data bits, no parity, 1 stop bit: a byte is 10 bit times.
inline constexpr unsigned LINE_BAUD = 9600;
inline constexpr std::chrono::nanoseconds BYTE_TIME{10 * 1'000'000'000LL / LINE_BAUD};

// A word on the line: two bytes, the high byte first. Only the low 16 bits of `value` go out.
using wire_bytes = std::array<std::uint8_t, 2>;

constexpr wire_bytes encode_word(unsigned value) {
  return {static_cast<std::uint8_t>((value >> 8) & 0xFFu),
          static_cast<std::uint8_t>(value & 0xFFu)};
}

constexpr std::uint16_t decode_word(wire_bytes bytes) {
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

// Words as they go on the line, in order, into `bytes` (which holds two for each word). Returns
// the number of bytes.
constexpr std::size_t encode_words(std::span<const std::uint16_t> words,
                                   std::span<std::uint8_t> bytes) {
  for (std::size_t k = 0; k < words.size(); ++k) {
    const wire_bytes pair = encode_word(words[k]);
    bytes[2 * k] = pair[0];
    bytes[2 * k + 1] = pair[1];
  }
  return 2 * words.size();
}

// The whole words in `bytes`, in order, into `words` (which holds half as many).
constexpr void decode_words(std::span<const std::uint8_t> bytes, std::span<std::uint16_t> words) {
  for (std::size_t k = 0; k < bytes.size() / 2; ++k) {
    words[k] = decode_word({bytes[2 * k], bytes[2 * k + 1]});
  }
}

}  // namespace ttyprog
