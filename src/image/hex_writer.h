// Intel HEX text from program words: the inverse of the loader, so that what is read back from the
// target can be written again. Print-free: it formats text for its caller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ttyprog {

// Words in one data record: 16 bytes.
inline constexpr std::size_t HEX_RECORD_WORDS = 8;

// Room for an extended linear address record and a data record of HEX_RECORD_WORDS words, each
// with its newline, and a terminating zero.
using hex_text_chunk = std::array<char, 64>;

// The end-of-file record, with its newline.
inline constexpr const char* HEX_END_OF_FILE = ":00000001FF\n";

// Formats up to HEX_RECORD_WORDS `words` starting at word address `first_word` as one data record
// (byte address 2 x word, low byte first, upper-case digits, correct checksum). When the byte
// address's upper 16 bits differ from `upper` (the base the text set so far, 0 at its start), an
// extended linear address record setting them comes first and `upper` follows it. The words must
// not straddle a 64 KiB boundary (8-word chunks aligned on 8 never do). Returns the text's length.
std::size_t format_hex_words(hex_text_chunk& out, std::uint16_t& upper, std::uint64_t first_word,
                             std::span<const std::uint16_t> words);

}  // namespace ttyprog
