// Intel HEX text for tests and benchmarks: single records, and whole files for a list of words.
// Nothing here depends on the test framework, so the benchmarks build it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ttyprog::test {

inline const std::string HEX_END = ":00000001FF\n";

// One record line: upper-case digits, its checksum worked out, "\n" at the end.
std::string hex_record(unsigned byte_address, std::span<const std::uint8_t> data,
                       unsigned type = 0);
inline std::string hex_record(unsigned byte_address, std::initializer_list<std::uint8_t> data,
                              unsigned type = 0) {
  return hex_record(byte_address, std::span(data.begin(), data.size()), type);
}

// Data records for `words` from word 0 (index = word address), at most eight words a record, each
// word low byte first, then the end-of-file record. Words equal to `gap` get no record: a file
// with gaps, which the loader fills with blank words.
std::string hex_text(std::span<const std::uint16_t> words, std::optional<std::uint16_t> gap = {});
// The same for `count` words of `value`.
std::string hex_text(std::size_t count, std::uint16_t value);

// `count` words of program that differ from their neighbours and from their addresses, none of
// them 3fff (blank) or ffff (the block terminator): each one is told apart on the wire.
std::vector<std::uint16_t> program_of(std::size_t count);

}  // namespace ttyprog::test
