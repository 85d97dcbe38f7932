// Intel HEX texts to measure with: a full program memory as a build tool would write it, and a
// large file for the loader's raw rate. The records come from the tests' HEX writer
// (tests/support/hex_text.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ttyprog::bench {

// Word `index` of the program in these files: a fixed, busy-looking sequence of values up to 3fff.
std::uint16_t program_word(std::size_t index);

enum class trailer {
  end_only,  // just the end-of-file record
  // A one-byte data record right after the data, then the end-of-file record. Every HEX reader
  // takes it, but the tool refuses a record with an odd byte count ("invalid hex file!"), after
  // reading the whole file and before sending anything: so the tool's whole process can be timed
  // on the file against another HEX reader without a programmer in the loop.
  refused_by_tool,
};

// 8192 words (16 KiB) of values up to 3fff from word 0, 16 data bytes a record: about 45 KiB of
// text.
std::string full_program_hex(trailer end);

// `data_bytes` of data in 16-byte records, with an extended linear address record before each
// 64 KiB, so that every byte has its own address for readers that honour those records.
std::string large_hex(std::size_t data_bytes, trailer end);

}  // namespace ttyprog::bench
