// The program image and the Intel HEX loader that fills it.
//
// The image holds the target's program memory as words, word 0 upwards. Only data records carry
// data; each is placed by its own 16-bit byte address, so the image covers byte addresses below
// 0x4000. The loader prints nothing and never closes the stream it is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace ttyprog {

inline constexpr std::size_t IMAGE_WORDS = 8192;
inline constexpr std::uint32_t BLANK_WORD = 0x3FFF;
inline constexpr std::size_t HEX_LINE_MAX = 1024;    // one read: at most 1023 characters
inline constexpr std::size_t HEX_RECORD_BYTES = 1024;  // room for a record's data bytes

using program_image = std::array<std::uint32_t, IMAGE_WORDS>;

// Results of parse_hex_record besides a data byte count.
inline constexpr int HEX_MALFORMED = -1;
inline constexpr int HEX_BAD_CHECKSUM = -2;

// Decodes the two characters at `text` as one byte, the first being the high digit. A character
// that is not a hexadecimal digit counts as 0.
std::uint8_t parse_hex_pair(const char* text);

// Decodes one record: `text` is the line after its colon, without the line end. Returns the
// number of data bytes of a data record (stored in `data`, the load address in `address`), 0 for
// any other record or an empty data record, HEX_MALFORMED or HEX_BAD_CHECKSUM.
int parse_hex_record(std::span<std::uint8_t, HEX_RECORD_BYTES> data, std::uint16_t& address,
                     const char* text);

// Fills `image` from the HEX text on `stream`, read to its end. Returns the word count (one more
// than the highest word written, 0 when none was) or -1 when any record was bad or the stream
// could not be read.
int load_hex_image(program_image& image, std::FILE* stream);

}  // namespace ttyprog
