// The judge of the answer campaign: from the case, the plan and what the programmer really sent
// (with the times of its writes), what a link that is right on a pseudo-terminal must make of the
// run; then whether ttyprog's output, exit code, time and words on the wire agree with it.
//
// The rules, in the order they are applied (the first that fits decides):
//   1. A programmer that sends unasked all the time, never pausing for more than 15 ms: the run
//      must fail (a longer pause, on a loaded machine, may pass for a quiet line: either outcome).
//   2. The bytes are read as the tool reads them: a status word, four ID words, or words up to the
//      block terminator (at most n + 1). A byte counts for an exchange only if it was sent by then,
//      i.e. after a request word the tool has sent before it waits for that exchange. A status
//      other than c000 is a refusal, a read block of another length a size error, a missing or
//      not yet sent byte a silence or a lost line: the run must fail. So must it when a byte an
//      exchange takes was on the line before its request began: sent in one write with an earlier
//      answer, or at least 10 ms before the request's first word arrived.
//   3. A pause before a byte the run needs that is longer than the bound plus 250 ms (plus the
//      request's own line time at 9600 baud, for the first byte of an answer): the run must fail.
//   4. More bytes than the right answers hold: if the first byte beyond them came within 15 ms of
//      the last byte the run needs (the link waits 25 ms for a quiet line), the run must fail; a
//      later one cannot be told from the next run's business on a pseudo-terminal, so either
//      outcome is right.
//   5. Either outcome is right as well when the line hung up after the last answer, when a byte the
//      run needs came after a pause between 180 ms and the limit of rule 3, or when an answer was
//      sent before its request was complete (a pseudo-terminal has no line time to tell).
//   6. Otherwise the run must succeed, with the values as sent.
// Whatever the outcome, every value printed is a word the programmer sent, at the place the tool
// reads it (a wrong data word is printed as sent: no link can know it), a verify count is the true
// number of differences in the blocks compared, and no request goes out after the exchange that
// failed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/answer_mutation.h"
#include "support/process.h"
#include "support/programmer.h"

namespace ttyprog::test::campaign {

enum class must { succeed, fail, either };

// An exchange as the tool reads the bytes the programmer sends.
struct framed_exchange {
  enum class result { ok, refused, size_error, incomplete } got = result::ok;
  std::vector<std::uint16_t> words;  // the status, the four ID words, or a block's data words
  bool early = false;                // took a byte sent before the request was complete
};

struct verdict {
  must outcome = must::succeed;
  std::string why;                      // the rule that decided, in words
  std::vector<framed_exchange> framed;  // up to and including the first that failed
};

// What the programmer did during the run.
struct line_record {
  std::vector<std::uint16_t> wire;  // the words the tool sent
  std::vector<std::chrono::steady_clock::time_point> word_times;
  std::vector<sent_bytes> sent;                // one entry per planned piece that went out
  std::chrono::microseconds chatter_pause{0};  // the longest pause of a programmer sending unasked
};

verdict judge(const campaign_case& c, const answer_plan& plan, const line_record& line);

// The longest a run may take: both waits of the bound, the line time of every word a right run
// moves, the planned pauses, and a margin for a loaded machine.
std::chrono::milliseconds run_limit(const campaign_case& c, const answer_plan& plan);

// What is wrong with the run, one line per fault (empty: the run agrees with the verdict).
std::vector<std::string> check_run(const campaign_case& c, const answer_plan& plan,
                                   const verdict& v, const run_result& run,
                                   const line_record& line);

}  // namespace ttyprog::test::campaign
