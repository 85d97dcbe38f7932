// The cases of the answer campaign (tests/answer_campaign.cpp): from one seed, a command with its
// parameter, what the target holds, the exchanges the command makes with the answers the
// simulator's target model gives, and the mutations of those answers; then the plan the in-test
// programmer plays: which bytes go out after which received word, after what pause.
//
// Everything follows from the seed alone (a generator of its own, the same on every machine), so
// a seed names a case for good.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim_target.h"
#include "support/programmer.h"

namespace ttyprog::test::campaign {

// The link's bound in every run of the campaign (TTYPROG_TIMEOUT): short, so that a silence costs
// little, and well above the pauses that must pass.
inline constexpr std::chrono::milliseconds BOUND{300};
inline constexpr const char* BOUND_TEXT = "0.3";

enum class command {
  erase,
  erase_all,
  write_id,
  write_config,
  read_ids,
  read_program,
  read_hex,
  write_program,
  verify_program,
};

enum class answer_kind { status, ids, block };

// One exchange as a right programmer makes it.
struct exchange {
  std::vector<std::uint16_t> request;
  std::vector<std::uint16_t> answer;  // what the target model answers
  answer_kind kind = answer_kind::status;
  std::size_t block_words = 0;  // n of a read block
};

enum class mutation_kind {
  wrong,        // an answer word replaced by another value
  missing,      // an answer word left out
  surplus,      // a word after the answer, after a pause
  early_extra,  // a word sent before the request is complete; the answer follows as usual
  early_moved,  // the whole answer sent before the request is complete, none afterwards
  split,        // a pause between the two bytes of an answer word
  delayed,      // a pause before an answer word
  junk,         // bytes inserted before an answer word (or after the answer)
  hang_up,      // the line hung up after some bytes of an answer
  silence,      // nothing more after some bytes of an answer
};

struct mutation {
  mutation_kind kind = mutation_kind::wrong;
  std::size_t exchange = 0;            // which exchange's answer
  std::size_t word = 0;                // the answer word it acts on (junk: inserted before it)
  std::uint16_t value = 0;             // wrong, surplus and early words
  std::chrono::microseconds pause{0};  // surplus, split, delayed
  std::vector<std::uint8_t> bytes;     // junk
  std::size_t request_word = 0;        // early: after this many words of the request
  std::size_t byte = 0;                // hang_up, silence: after this many bytes of the answer
};

struct campaign_case {
  std::uint64_t seed = 0;
  command what = command::erase;
  std::vector<std::string> args;          // the command and its parameter
  std::vector<std::uint16_t> file_words;  // writeprogram, verifyprogram: the HEX file's words
  std::string hex_file;                   // ... as HEX text
  sim::target_settings target;
  std::vector<std::uint16_t> memory;  // program memory from word 0 (the rest blank)
  std::vector<exchange> exchanges;
  std::vector<mutation> mutations;
  std::vector<std::uint8_t> stale;  // bytes queued on the line before the run
  bool chatter = false;             // the programmer sends unasked, all the time
};

campaign_case make_case(std::uint64_t seed);

// A write of the programmer: after received word `trigger` (counting from 1), a pause, the bytes.
struct planned_piece {
  std::size_t trigger = 0;
  std::chrono::microseconds pause{0};
  std::vector<std::uint8_t> bytes;
  bool first_of_reply = false;  // the first write after its trigger
};

struct answer_plan {
  std::vector<planned_piece> pieces;      // in the order they go out
  std::size_t hang_up_trigger = 0;        // hang up after the pieces of this trigger (0: never)
  std::vector<std::size_t> request_ends;  // received words when each request is complete
  std::size_t proper_bytes = 0;           // the right answers' length: what a right run reads
};

answer_plan plan_answers(const campaign_case& c);

// The in-test programmer's responder that plays `plan` (which must outlive it).
responder plan_responder(const answer_plan& plan);

// How long the line takes for `words` words at 9600 baud.
std::chrono::microseconds line_time(std::size_t words);

// The case in words: command, parameter, and each mutation.
std::string describe(const campaign_case& c);
// "the status of block 2 of 3 (88 words)", "the IDs", ...
std::string exchange_name(const campaign_case& c, std::size_t k);

}  // namespace ttyprog::test::campaign
