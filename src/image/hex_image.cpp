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

constexpr std::uint8_t TYPE_DATA = 0x00;
constexpr std::uint8_t TYPE_END_OF_FILE = 0x01;
constexpr std::uint8_t TYPE_SEGMENT_ADDRESS = 0x02;  // base = value << 4
constexpr std::uint8_t TYPE_LINEAR_ADDRESS = 0x04;   // base = value << 16

// The length tests every record passes first: the data byte count, or HEX_MALFORMED.
int record_byte_count(const char* text, std::size_t length) {
  if (length < RECORD_MIN_CHARS || length % 2 != 0) {
    return HEX_MALFORMED;
  }
  const std::size_t count = parse_hex_pair(text);
  return length == 2 * count + RECORD_FIXED_CHARS ? static_cast<int>(count) : HEX_MALFORMED;
}

std::uint8_t record_type(const char* text) { return parse_hex_pair(text + 6); }

// The sum of all pairs, the checksum included, is 0 modulo 256.
bool checksum_holds(const char* text, std::size_t length) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < length; i += 2) {
    sum += parse_hex_pair(text + i);
  }
  return (sum & 0xFFu) == 0;
}

// The 16-bit value of the two pairs at `text`, the first the high byte.
std::uint16_t pair_value(const char* text) {
  return static_cast<std::uint16_t>((parse_hex_pair(text) << 8) | parse_hex_pair(text + 2));
}

// True for an end-of-file record of the right length and a correct checksum.
bool is_end_record(const char* text) {
  const std::size_t length = std::strlen(text);
  return record_byte_count(text, length) >= 0 && record_type(text) == TYPE_END_OF_FILE &&
         checksum_holds(text, length);
}

}  // namespace

std::uint8_t parse_hex_pair(const char* text) {
  return static_cast<std::uint8_t>((hex_digit(text[0]) << 4) | hex_digit(text[1]));
}

int parse_hex_record(std::span<std::uint8_t, HEX_RECORD_BYTES> data, std::uint16_t& address,
                     const char* text) {
  const std::size_t length = std::strlen(text);
  const int count = record_byte_count(text, length);
  if (count < 0) {
    return HEX_MALFORMED;
  }
  // Only data records are looked at further; every other type is passed over unchecked.
  if (record_type(text) != TYPE_DATA) {
    return 0;
  }
  if (!checksum_holds(text, length)) {
    return HEX_BAD_CHECKSUM;
  }
  address = pair_value(text + 2);
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    data[i] = parse_hex_pair(text + 8 + 2 * i);
  }
  return count;
}

int parse_hex_address_record(std::uint32_t& base, const char* text) {
  const std::size_t length = std::strlen(text);
  const int count = record_byte_count(text, length);
  if (count < 0) {
    return HEX_MALFORMED;
  }
  const std::uint8_t type = record_type(text);
  if (type != TYPE_SEGMENT_ADDRESS && type != TYPE_LINEAR_ADDRESS) {
    return 0;
  }
  if (count != 2) {
    return HEX_MALFORMED;
  }
  if (!checksum_holds(text, length)) {
    return HEX_BAD_CHECKSUM;
  }
  const std::uint32_t value = pair_value(text + 8);
  base = type == TYPE_SEGMENT_ADDRESS ? value << 4 : value << 16;
  return 1;
}

hex_load_report load_hex_image(program_image& image, text_source source, stop_predicate stop) {
  image.fill(BLANK_WORD);
  hex_load_report report;
  std::size_t word_count = 0;
  std::uint32_t base = 0;
  std::size_t line_number = 0;
  bool at_line_start = true;  // the next piece begins a line
  const auto fault = [&](hex_fault kind) {
    if (report.first_fault == hex_fault::none) {
      report.first_fault = kind;
      report.first_fault_line = line_number;
    }
  };
  std::array<char, HEX_LINE_MAX> line{};
  std::array<std::uint8_t, HEX_RECORD_BYTES> data{};

  text_line_reader reader(source, stop);
  while (const std::size_t length = reader.read(line)) {
    if (at_line_start) {
      ++line_number;
    }
    // A piece holds a newline only as its last character.
    at_line_start = line[length - 1] == '\n';
    if (at_line_start) {
      line[length - 1] = '\0';
    }
    if (line[0] != ':') {
      continue;  // empty lines, comments and the tail pieces of over-long lines
    }
    const char* text = line.data() + 1;
    std::uint16_t address = 0;
    const int bytes = parse_hex_record(data, address, text);
    if (bytes < 0) {
      fault(bytes == HEX_BAD_CHECKSUM ? hex_fault::checksum : hex_fault::length);
      continue;
    }
    if (bytes == 0) {
      report.end_record = report.end_record || is_end_record(text);
      if (parse_hex_address_record(base, text) < 0) {
        fault(hex_fault::bad_address_record);
      }
      continue;
    }
    // A record must hold whole words.
    if (address % 2 != 0) {
      fault(hex_fault::odd_address);
      continue;
    }
    if (bytes % 2 != 0) {
      fault(hex_fault::odd_byte_count);
      continue;
    }
    ++report.data_records;
    // Words at IMAGE_WORDS and beyond lie outside program memory and are dropped.
    const std::uint64_t full_address = std::uint64_t{base} + address;
    if (full_address / 2 >= IMAGE_WORDS) {
      if (report.skipped_records++ == 0) {
        report.first_skipped_address = full_address;
      }
      continue;
    }
    const auto first = static_cast<std::size_t>(full_address / 2);
    const std::size_t words = std::min(static_cast<std::size_t>(bytes) / 2, IMAGE_WORDS - first);
    for (std::size_t k = 0; k < words; ++k) {
      image[first + k] = static_cast<std::uint32_t>(data[2 * k] | (data[2 * k + 1] << 8));
    }
    word_count = std::max(word_count, first + words);
  }
  // A text that failed part way must not pass for a whole file.
  if (reader.status() == text_read::failed) {
    line_number += at_line_start ? 1 : 0;  // the line being read when it failed
    fault(hex_fault::read_error);
  }
  report.stopped = reader.status() == text_read::stopped;
  report.words =
      report.first_fault == hex_fault::none && !report.stopped ? static_cast<int>(word_count) : -1;
  return report;
}

hex_load_report load_hex_image(program_image& image, std::FILE* stream) {
  return load_hex_image(image, stream_source(stream));
}

}  // namespace ttyprog
