// The programmer's command protocol: one operation per exchange.
//
// Every exchange is a whole request sent word by word, then the answer. The operations print
// nothing; each tells its caller both what the programmer answered and whether the link held. An
// answer counts only if it could have come from the request just sent: a request starts on a quiet
// line, and a command reports success only after prog_settle has shown that nothing else came.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/word_link.h"
#include "wire.h"

namespace ttyprog {

// The outcome of an exchange answered by one status word.
struct prog_reply {
  link_status link = link_status::ok;
  std::uint16_t status = 0;  // the programmer's status word, valid when link is ok

  bool ok() const noexcept { return link == link_status::ok && status == REPLY_OK; }
};

// The outcome of a block read: the number of words that came before END_OF_BLOCK.
struct block_read {
  link_status link = link_status::ok;
  std::size_t count = 0;
};

struct id_read {
  link_status link = link_status::ok;
  std::uint32_t user_id = 0;
  std::uint16_t device_id = 0;
  std::uint16_t config = 0;
};

using block_buffer = std::span<std::uint16_t, BLOCK_WORDS>;

// Told of a block's progress: a write block's words once the programmer has taken them, a read
// block's words as they come in: `words` of the block so far.
// It must not print over the line's exchange (the front end only redraws its progress line).
struct word_observer {
  void (*moved)(void* context, std::size_t words) = nullptr;
  void* context = nullptr;

  void operator()(std::size_t words) const {
    if (moved != nullptr) moved(context, words);
  }
};

prog_reply prog_erase(serial_port& port);
prog_reply prog_erase_all(serial_port& port);

// Sends one write block of 1 to BLOCK_WORDS words; only the low 16 bits of each word go out.
prog_reply prog_write_block(serial_port& port, std::span<const std::uint32_t> words,
                            word_observer observer = {});

prog_reply prog_write_id(serial_port& port, std::uint32_t id);
prog_reply prog_write_config(serial_port& port, std::uint32_t value);

// Asks for n words (1 to BLOCK_WORDS) and stores what comes before END_OF_BLOCK into `buffer`.
// An answer longer than n is not read beyond its first n + 1 words: the count already shows the
// size error, and a programmer that never ends its block cannot hold the run.
block_read prog_read_block(serial_port& port, std::size_t n, block_buffer buffer,
                           word_observer observer = {});

id_read prog_read_ids(serial_port& port);

// A command's last answer is whole: the line must now stay quiet for SETTLE_TIME before the
// command reports success. A word in that time answers nothing asked (`unexpected`): the answer
// just taken may have been a stray word too.
link_status prog_settle(serial_port& port);

// Between two blocks of one command: the line must stay quiet for BLOCK_GAP after a block's
// answer before the next block goes out.
link_status prog_block_gap(serial_port& port);

}  // namespace ttyprog
