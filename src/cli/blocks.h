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
  bool ok = true;                      // go on with the next block
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

// Moves the progress line as a block's words go: word `first + words` of the whole transfer, as
// the exchange reports them, and while the link waits, as a write's words leave the line (short of
// the block's last word: the block is done when the programmer says so). The line is redrawn at
// every tick, so its clock runs on through the programmer's own time too.
struct block_progress {
  progress_line* line;
  const serial_port* port;
  std::size_t first;
  std::size_t words;         // of this block
  std::size_t reported = 0;  // words the exchange has reported

  static void moved(void* context, std::size_t words) {
    auto* self = static_cast<block_progress*>(context);
    self->reported = words;
    self->line->advance(self->first + words);
  }

  static void tick(void* context) {
    const auto* self = static_cast<const block_progress*>(context);
    // The request's first two words are the command and the length.
    const std::size_t on_line = self->port->bytes_on_line() / 2;
    const std::size_t sent = std::min(on_line > 2 ? on_line - 2 : 0, self->words - 1);
    self->line->advance(self->first + std::max(self->reported, sent));
  }
};

// The ticker of the link's waits, for as long as one block's exchange lasts.
class block_ticker {
 public:
  block_ticker(serial_port& port, block_progress& progress) : port_(port) {
    port_.set_ticker(wait_ticker{block_progress::tick, &progress});
  }
  block_ticker(const block_ticker&) = delete;
  block_ticker& operator=(const block_ticker&) = delete;
  ~block_ticker() { port_.set_ticker({}); }

 private:
  serial_port& port_;
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
    block_progress moving{&progress, &port, result.done, n};
    block_step got{};
    {
      const block_ticker ticking(port, moving);
      got = exchange(result.done, n, word_observer{block_progress::moved, &moving});
    }
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
