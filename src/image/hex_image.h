// The program image and the Intel HEX loader that fills it.
//
// The image holds the target's program memory as words, word 0 upwards, so it covers byte
// addresses below 0x4000. Only data records carry data; each is placed by its full byte address:
// its own 16-bit address plus the base set by the latest extended address record (type 02: value
// times 16, type 04: value times 65536). The loader prints nothing, makes no system call of its
// own and never closes the text it is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "image/text_line.h"

namespace ttyprog {

inline constexpr std::size_t IMAGE_WORDS = 8192;
inline constexpr std::uint32_t BLANK_WORD = 0x3FFF;
inline constexpr std::size_t HEX_LINE_MAX = 1024;      // one read: at most 1023 characters
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

// Decodes an extended address record (type 02 or 04), `text` as for parse_hex_record. With
// exactly two data bytes and a correct checksum it stores the base the record sets for later data
// records in `base` and returns 1. Returns 0 for a record of any other type, HEX_MALFORMED for a
// wrong length or a data byte count other than two, HEX_BAD_CHECKSUM; `base` is then unchanged.
int parse_hex_address_record(std::uint32_t& base, const char* text);

// The first fault of a load; the load fails on any of them.
enum class hex_fault {
  none,
  length,              // a record's text length is wrong
  checksum,            // a data record's checksum is wrong
  odd_address,         // a data record starts at an odd byte address
  odd_byte_count,      // a data record holds an odd number of bytes
  bad_address_record,  // an extended address record without two data bytes or with a bad checksum
  read_error,          // the stream failed part way
};

// What a load found, for the caller's messages.
struct hex_load_report {
  int words = 0;                     // the word count, or -1 when the load failed
  std::size_t first_fault_line = 0;  // line of the first fault, counted from 1; 0 when none
  hex_fault first_fault = hex_fault::none;
  std::size_t data_records = 0;     // good data records with data, skipped ones included
  std::size_t skipped_records = 0;  // of those, the ones wholly at word IMAGE_WORDS or beyond
  std::uint64_t first_skipped_address = 0;  // full byte address of the first skipped record
  bool end_record = false;                  // a well-formed end-of-file record (type 01) was seen
  bool stopped = false;  // a stop was asked for before the text ended; `words` is then -1
};

// Fills `image` from the HEX text on `stream`, read to its end, and reports what it found. Its
// `words` is the word count (one more than the highest word written, 0 when none was) or -1 when
// any record was bad or the stream could not be read.
hex_load_report load_hex_image(program_image& image, std::FILE* stream);

// The same load from any text source. `stop`, when given, is asked between the source's reads;
// once it says so the load ends with `stopped` set and `words` -1, whatever was read.
hex_load_report load_hex_image(program_image& image, text_source source,
                               stop_predicate stop = nullptr);

}  // namespace ttyprog
