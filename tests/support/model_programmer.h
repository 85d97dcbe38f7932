// A model programmer for the program-memory commands: 8192 words of program memory and the block
// position, answering write and read blocks as a programmer that keeps to the command protocol,
// with a fault played on chosen blocks. Plugs into `programmer_options::respond`.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/programmer.h"

namespace ttyprog::test {

inline constexpr std::size_t MODEL_WORDS = 8192;
inline constexpr std::uint16_t MODEL_REFUSED = 0xC001;    // status for a refused write block
inline constexpr std::uint16_t MODEL_BAD_BLOCK = 0xC002;  // status for a malformed write block

using model_memory = std::array<std::uint16_t, MODEL_WORDS>;

enum class block_fault {
  none,
  refuse,     // write block: status MODEL_REFUSED, nothing stored
  one_short,  // read block: the last word left out
  one_long,   // read block: one word more than asked
  hang_up,    // write block: the line drops instead of the status; read block: after half the words
  silent,     // write block: no status; read block: half the words, then nothing more
};

struct model_options {
  std::shared_ptr<model_memory> memory;  // read and written by the blocks; survives the run
  // The fault of each block of the run, by block number from 0 (write and read blocks counted
  // together); blocks past the end of the list have none.
  std::vector<block_fault> faults;
};

// One session of the model: the block position starts at word 0, and again whenever the block
// commands switch between writing and reading. A read past the last word answers only the words
// that exist. A write block is stored only when it holds exactly the words its length announced.
// Any other command word is answered with nothing. Make a new responder for every run.
responder model_programmer(model_options options);

// A memory filled with `value`.
std::shared_ptr<model_memory> memory_of(std::uint16_t value);

}  // namespace ttyprog::test
