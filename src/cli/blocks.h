// The one block loop of the commands that move program memory (writeprogram, verifyprogram,
// readprogram, readhex): blocks of at most BLOCK_WORDS words from word 0, the progress line, and
// the stop at a block boundary when the user asked to stop or standard output was lost.
#pragma once

#include <algorithm>
#include <cstddef>

#include "cli/outcome.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "link/protocol.h"

namespace ttyprog {

// What one block's exchange came to.
struct block_step {
  bool ok = true;                       // go on with the next block
  link_status link = link_status::ok;  // when not ok: what the link saw
};

enum class blocks_end {
  finished,  // every block went through
  failed,    // a block failed; the command prints its failure line
  stopped,   // a stop request or lost standard output ended the loop between two blocks
};

struct blocks_result {
  blocks_end end = blocks_end::finished;
  std::size_t done = 0;                // words of the blocks that went through
  link_status link = link_status::ok;  // for failed: what the link saw
};

// True when the command must not start another exchange. A stop request is told on standard
// error, once: "Interrupted after D of T words: " and `left_behind` (what that leaves, e.g. "the
// target is partly written"), or "Interrupted: nothing was sent." before the first exchange.
bool stop_here(std::size_t done, std::size_t total, const char* left_behind);

// What a command stopped between two exchanges achieved.
inline outcome stopped_outcome() { return output_lost() ? outcome::output_lost : outcome::refused; }

// Moves the progress line as a block's words go: word `first + words` of the whole transfer.
struct block_progress {
  progress_line* line;
  std::size_t first;

  static void moved(void* context, std::size_t words) {
    const auto* self = static_cast<const block_progress*>(context);
    self->line->advance(self->first + words);
  }
};

// Runs `exchange(first, n, observer)` for each block of `total` words, in order, until one fails
// or a stop is due; the exchange hands `observer` to the protocol so the progress line moves word
// by word. After a block's answer the line must stay quiet: BLOCK_GAP before the next block, the
// settle time after the last one. Only then does `output(first, n)` take the block (print it,
// compare it), so the last line a command prints is backed by a line that went quiet. `action`
// names the work on the progress line ("writing").
template <typename Exchange, typename Output>
blocks_result for_each_block(serial_port& port, const char* action, std::size_t total,
                             const char* left_behind, Exchange exchange, Output output) {
  progress_line progress(action, total);
  blocks_result result;
  while (result.done < total) {
    if (stop_here(result.done, total, left_behind)) {
      result.end = blocks_end::stopped;
      return result;
    }
    const std::size_t n = std::min(total - result.done, BLOCK_WORDS);
    block_progress moving{&progress, result.done};
    block_step got = exchange(result.done, n, word_observer{block_progress::moved, &moving});
    if (got.ok) {
      const link_status quiet = result.done + n == total ? prog_settle(port) : prog_block_gap(port);
      if (quiet != link_status::ok) got = block_step{false, quiet};
    }
    if (!got.ok) {
      result.end = blocks_end::failed;
      result.link = got.link;
      return result;
    }
    output(result.done, n);
    result.done += n;
    progress.advance(result.done);
  }
  return result;
}

// For commands whose blocks leave nothing to print.
inline void no_block_output(std::size_t, std::size_t) {}

}  // namespace ttyprog
