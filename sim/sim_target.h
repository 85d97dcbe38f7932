// The simulated target behind the programmer: program memory, user ID, device ID and
// configuration word, driven by the programmer's command words.
//
// The model is pure: it takes the words that arrive from the tool one at a time and says which
// words go back. It knows nothing of bytes, ports or time, so every rule can be tested directly.
//
// Rules where the command protocol leaves the programmer free:
//   - CMD_ERASE blanks program memory (every word 0x3FFF). CMD_ERASE_ALL blanks program memory,
//     sets the user ID to 0xFFFFFFFF and the configuration word to 0x3FFF.
//   - The block position is word 0 at the start of every session, and again whenever the block
//     commands switch between writing and reading. A good write block stores its words at the
//     position and advances it; a read block answers from the position and advances it by the
//     words it answered.
//   - A read block asking for 0 or more than BLOCK_WORDS words is answered by END_OF_BLOCK alone.
//     One that reaches past the last word answers only the words that exist (possibly none), so
//     the tool sees a short block.
//   - A write block is taken in full before anything is stored: its length, exactly that many
//     data words (0xFFFF included) and END_OF_BLOCK. It is refused with STATUS_BAD_REQUEST, and
//     stores nothing, when its length is 0 or above BLOCK_WORDS, when it would reach past the last
//     word, or when the word after its data is not END_OF_BLOCK. To find the next request again
//     after a bad length or a missing END_OF_BLOCK, the model drops words up to and including the
//     next END_OF_BLOCK and then gives the one status word.
//   - A word that is not a command word where a command is expected is answered at once with
//     STATUS_BAD_REQUEST; the next word is again taken as a command word.
//   - A request cut off by the end of a session is dropped without an answer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "wire.h"

namespace ttyprog::sim {

inline constexpr std::size_t MEMORY_WORDS = 8192;
inline constexpr std::uint16_t MEMORY_BLANK = 0x3FFF;
inline constexpr std::uint32_t USER_ID_BLANK = 0xFFFFFFFF;
inline constexpr std::uint16_t CONFIG_BLANK = 0x3FFF;
inline constexpr std::uint16_t STATUS_BAD_REQUEST = 0xC002;
inline constexpr std::uint16_t STATUS_REFUSED_DEFAULT = 0xC001;

// What the target holds when the simulator starts.
struct target_settings {
  std::uint16_t device_id = 0x0F42;
  std::uint32_t user_id = USER_ID_BLANK;
  std::uint16_t config = CONFIG_BLANK;
};

// Faults to play. Every count starts at 1 and runs over the simulator's whole life, across
// sessions; 0 means the fault is off.
struct fault_settings {
  // The Nth exchange answered by a status word (erase, erase all, write block, write ID, write
  // configuration; well-formed or not) gets refuse_status instead and changes nothing.
  std::uint64_t refuse_exchange = 0;
  std::uint16_t refuse_status = STATUS_REFUSED_DEFAULT;
  // From the Nth received word on, nothing is answered and no word has any effect.
  std::uint64_t silent_after = 0;
  // On the Nth received word the line is hung up; that word has no effect.
  std::uint64_t hang_up_after = 0;
  // The Nth read block (counting every CMD_READ_PROGRAM) loses its last data word, or gains one
  // more (the next word of memory, or 0x3FFF past the end). The position moves as without fault.
  std::uint64_t short_read_block = 0;
  std::uint64_t long_read_block = 0;
  // The Nth answer of more than one word (a read block or the IDs) stops after half its words;
  // then the programmer falls silent for good, or hangs up the line.
  std::uint64_t cut_answer = 0;
  std::uint64_t cut_answer_hang_up = 0;
  // The Nth answer (every answer of one word or more counts) goes out in full, then the line is
  // hung up: the tool has its answer, but the line drops before it could prove it quiet.
  std::uint64_t hang_up_after_answer = 0;
  // The Nth status answer (every status word counts) is sent twice: the second one answers
  // nothing the tool asked.
  std::uint64_t extra_status = 0;
  // The Nth write block (counting every CMD_WRITE_PROGRAM) is answered REPLY_OK as soon as its
  // first data word is in, before the rest has arrived; once complete it is answered as usual.
  // The early word is no status answer: it counts for neither --refuse nor --extra-status.
  std::uint64_t early_status = 0;
};

// The words to send back after one received word, in order.
struct answer {
  std::array<std::uint16_t, BLOCK_WORDS + 2> words{};
  std::size_t size = 0;
  bool hang_up = false;                // the line is to be hung up now
  std::uint32_t words_programmed = 0;  // words the request wrote into the target (for timing)

  std::span<const std::uint16_t> view() const { return {words.data(), size}; }
  void push(std::uint16_t word) { words[size++] = word; }
};

class sim_target {
 public:
  explicit sim_target(target_settings settings = {}, fault_settings faults = {});

  // Takes one word from the tool and returns the answer it brings about (often none).
  answer feed(std::uint16_t word);

  // The tool opened the port again: drop a request in progress, block position back to word 0.
  void new_session();

  std::uint16_t program_word(std::size_t address) const { return memory_.at(address); }
  std::uint32_t user_id() const { return user_id_; }
  std::uint16_t config() const { return config_; }
  std::size_t block_position() const { return position_; }

 private:
  enum class expect {
    command,
    write_length,
    write_data,
    write_end,
    write_skip,  // a bad write block: drop words up to END_OF_BLOCK
    id_high,
    id_low,
    config_value,
    read_length,
  };
  enum class block_kind { none, write, read };

  answer take(std::uint16_t word);
  answer start_command(std::uint16_t word);
  void enter_block(block_kind kind);
  answer finish_status(std::uint16_t status, std::uint32_t programmed);
  bool refuse_this_exchange();
  answer read_block(std::size_t requested);
  void store_block();

  fault_settings faults_;
  std::uint16_t device_id_;
  std::uint32_t user_id_;
  std::uint16_t config_;
  std::array<std::uint16_t, MEMORY_WORDS> memory_{};

  expect state_ = expect::command;
  block_kind last_block_ = block_kind::none;
  std::size_t position_ = 0;

  // The request being taken in.
  std::uint16_t id_high_ = 0;
  std::array<std::uint16_t, BLOCK_WORDS> block_{};
  std::size_t block_length_ = 0;
  std::size_t block_filled_ = 0;
  bool block_fits_ = true;

  std::uint64_t words_received_ = 0;
  std::uint64_t status_exchanges_ = 0;
  std::uint64_t status_answers_ = 0;
  bool extra_status_due_ = false;  // the status answer being made is the one sent twice
  std::uint64_t read_blocks_ = 0;
  std::uint64_t write_blocks_ = 0;
  bool early_status_due_ = false;  // the write block being taken in is answered early
  std::uint64_t long_answers_ = 0;
  std::uint64_t answers_ = 0;
  bool silenced_ = false;  // a cut answer has made the programmer fall silent
};

}  // namespace ttyprog::sim
