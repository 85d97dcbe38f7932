#include "hex_files.h"

#include <array>
#include <cstdint>

#include "support/hex_text.h"

namespace ttyprog::bench {

namespace {

using test::hex_record;

constexpr std::size_t RECORD_BYTES = 16;
constexpr std::size_t SEGMENT_BYTES = 0x10000;

// Data records for bytes [0, size) of one segment, words little-endian as the tool reads them.
void append_data(std::string& text, std::size_t first_word, std::size_t size) {
  for (std::size_t offset = 0; offset < size; offset += RECORD_BYTES) {
    std::array<std::uint8_t, RECORD_BYTES> data{};
    for (std::size_t i = 0; i < RECORD_BYTES; i += 2) {
      const std::uint16_t word = program_word(first_word + (offset + i) / 2);
      data[i] = static_cast<std::uint8_t>(word & 0xFF);
      data[i + 1] = static_cast<std::uint8_t>(word >> 8);
    }
    text += hex_record(static_cast<unsigned>(offset), data);
  }
}

// An extended linear address record: the data records after it lie in 64 KiB segment `segment`.
std::string segment_record(std::size_t segment) {
  const std::uint8_t high = static_cast<std::uint8_t>(segment >> 8);
  const std::uint8_t low = static_cast<std::uint8_t>(segment & 0xFF);
  return hex_record(0, {high, low}, 4);
}

void append_end(std::string& text, trailer end, std::size_t address_after_data) {
  if (end == trailer::refused_by_tool) {
    text += hex_record(static_cast<unsigned>(address_after_data), {0x00});
  }
  text += test::HEX_END;
}

}  // namespace

std::uint16_t program_word(std::size_t index) {
  std::uint32_t x = static_cast<std::uint32_t>(index) * 2654435761u;
  x ^= x >> 15;
  return static_cast<std::uint16_t>(x & 0x3FFF);
}

std::string full_program_hex(trailer end) {
  constexpr std::size_t bytes = 8192 * 2;
  std::string text;
  text.reserve(bytes / RECORD_BYTES * 44 + 64);
  append_data(text, 0, bytes);
  append_end(text, end, bytes);
  return text;
}

std::string large_hex(std::size_t data_bytes, trailer end) {
  std::string text;
  text.reserve(data_bytes / RECORD_BYTES * 44 + data_bytes / SEGMENT_BYTES * 16 + 64);
  std::size_t segment = 0;
  for (std::size_t done = 0; done < data_bytes; done += SEGMENT_BYTES, ++segment) {
    text += segment_record(segment);
    const std::size_t size = data_bytes - done < SEGMENT_BYTES ? data_bytes - done : SEGMENT_BYTES;
    append_data(text, done / 2, size);
  }
  // The trailer goes to the first address after the data, in a segment of its own if need be.
  if (end == trailer::refused_by_tool) text += segment_record(data_bytes / SEGMENT_BYTES);
  append_end(text, end, data_bytes % SEGMENT_BYTES);
  return text;
}

}  // namespace ttyprog::bench
