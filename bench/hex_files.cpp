#include "hex_files.h"

#include <array>
#include <cstdint>
#include <span>

namespace ttyprog::bench {

namespace {

constexpr std::size_t RECORD_BYTES = 16;
constexpr std::size_t SEGMENT_BYTES = 0x10000;

void append_record(std::string& text, std::uint8_t type, std::uint16_t address,
                   std::span<const std::uint8_t> data) {
  static constexpr char DIGITS[] = "0123456789ABCDEF";
  unsigned sum = 0;
  auto put = [&](std::uint8_t byte) {
    text += DIGITS[byte >> 4];
    text += DIGITS[byte & 0xF];
    sum += byte;
  };
  text += ':';
  put(static_cast<std::uint8_t>(data.size()));
  put(static_cast<std::uint8_t>(address >> 8));
  put(static_cast<std::uint8_t>(address & 0xFF));
  put(type);
  for (std::uint8_t byte : data) put(byte);
  put(static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF));
  text += '\n';
}

// Data records for bytes [0, size) of one segment, words little-endian as the tool reads them.
void append_data(std::string& text, std::size_t first_word, std::size_t size) {
  for (std::size_t offset = 0; offset < size; offset += RECORD_BYTES) {
    std::array<std::uint8_t, RECORD_BYTES> data{};
    for (std::size_t i = 0; i < RECORD_BYTES; i += 2) {
      const std::uint16_t word = program_word(first_word + (offset + i) / 2);
      data[i] = static_cast<std::uint8_t>(word & 0xFF);
      data[i + 1] = static_cast<std::uint8_t>(word >> 8);
    }
    append_record(text, 0x00, static_cast<std::uint16_t>(offset), data);
  }
}

void append_end(std::string& text, trailer end, std::uint16_t address_after_data) {
  if (end == trailer::refused_by_tool) {
    const std::array<std::uint8_t, 1> one{0x00};
    append_record(text, 0x00, address_after_data, one);
  }
  append_record(text, 0x01, 0, {});
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
  append_end(text, end, static_cast<std::uint16_t>(bytes));
  return text;
}

std::string large_hex(std::size_t data_bytes, trailer end) {
  std::string text;
  text.reserve(data_bytes / RECORD_BYTES * 44 + data_bytes / SEGMENT_BYTES * 16 + 64);
  std::size_t segment = 0;
  for (std::size_t done = 0; done < data_bytes; done += SEGMENT_BYTES, ++segment) {
    const std::array<std::uint8_t, 2> base{static_cast<std::uint8_t>(segment >> 8),
                                           static_cast<std::uint8_t>(segment & 0xFF)};
    append_record(text, 0x04, 0, base);
    const std::size_t size = data_bytes - done < SEGMENT_BYTES ? data_bytes - done : SEGMENT_BYTES;
    append_data(text, done / 2, size);
  }
  // The trailer goes to the first address after the data, in a segment of its own if need be.
  const std::array<std::uint8_t, 2> base{static_cast<std::uint8_t>((data_bytes / SEGMENT_BYTES) >> 8),
                                         static_cast<std::uint8_t>((data_bytes / SEGMENT_BYTES) & 0xFF)};
  if (end == trailer::refused_by_tool) append_record(text, 0x04, 0, base);
  append_end(text, end, static_cast<std::uint16_t>(data_bytes % SEGMENT_BYTES));
  return text;
}

}  // namespace ttyprog::bench
