#include "sim_target.h"

#include <algorithm>
#include <utility>

namespace ttyprog::sim {

sim_target::sim_target(target_settings settings, fault_settings faults)
    : faults_(faults), device_id_(settings.device_id), user_id_(settings.user_id),
      config_(settings.config) {
  memory_.fill(MEMORY_BLANK);
}

void sim_target::new_session() {
  state_ = expect::command;
  last_block_ = block_kind::none;
  position_ = 0;
}

answer sim_target::feed(std::uint16_t word) {
  ++words_received_;
  if (faults_.hang_up_after != 0 && words_received_ >= faults_.hang_up_after) {
    answer hang_up;
    hang_up.hang_up = true;
    return hang_up;
  }
  if (silenced_ || (faults_.silent_after != 0 && words_received_ >= faults_.silent_after))
    return {};
  answer reply = take(word);
  if (reply.size > 1) {
    ++long_answers_;
    const bool silent = faults_.cut_answer == long_answers_;
    const bool hang_up = faults_.cut_answer_hang_up == long_answers_;
    if (silent || hang_up) reply.size /= 2;
    silenced_ = silent;
    reply.hang_up = hang_up;
  }
  if (std::exchange(extra_status_due_, false)) reply.push(reply.words[0]);
  if (reply.size > 0 && faults_.hang_up_after_answer == ++answers_) reply.hang_up = true;
  return reply;
}

answer sim_target::take(std::uint16_t word) {
  switch (state_) {
    case expect::command: return start_command(word);

    case expect::write_length:
      block_length_ = word;
      block_filled_ = 0;
      if (block_length_ == 0 || block_length_ > BLOCK_WORDS) {
        state_ = expect::write_skip;
        return {};
      }
      block_fits_ = position_ + block_length_ <= MEMORY_WORDS;
      state_ = expect::write_data;
      return {};

    case expect::write_data: {
      block_[block_filled_++] = word;
      if (block_filled_ == block_length_) state_ = expect::write_end;
      answer early;
      if (std::exchange(early_status_due_, false)) early.push(REPLY_OK);
      return early;
    }

    case expect::write_end:
      if (word != END_OF_BLOCK) {
        state_ = expect::write_skip;
        return {};
      }
      state_ = expect::command;
      if (!block_fits_) return finish_status(STATUS_BAD_REQUEST, 0);
      if (refuse_this_exchange()) return finish_status(faults_.refuse_status, 0);
      store_block();
      return finish_status(REPLY_OK, static_cast<std::uint32_t>(block_length_));

    case expect::write_skip:
      if (word != END_OF_BLOCK) return {};
      state_ = expect::command;
      return finish_status(refuse_this_exchange() ? faults_.refuse_status : STATUS_BAD_REQUEST, 0);

    case expect::id_high:
      id_high_ = word;
      state_ = expect::id_low;
      return {};

    case expect::id_low:
      state_ = expect::command;
      if (refuse_this_exchange()) return finish_status(faults_.refuse_status, 0);
      user_id_ = (static_cast<std::uint32_t>(id_high_) << 16) | word;
      return finish_status(REPLY_OK, 2);

    case expect::config_value:
      state_ = expect::command;
      if (refuse_this_exchange()) return finish_status(faults_.refuse_status, 0);
      config_ = word;
      return finish_status(REPLY_OK, 1);

    case expect::read_length: state_ = expect::command; return read_block(word);
  }
  return {};
}

answer sim_target::start_command(std::uint16_t word) {
  switch (word) {
    case CMD_ERASE:
    case CMD_ERASE_ALL:
      if (refuse_this_exchange()) return finish_status(faults_.refuse_status, 0);
      memory_.fill(MEMORY_BLANK);
      if (word == CMD_ERASE_ALL) {
        user_id_ = USER_ID_BLANK;
        config_ = CONFIG_BLANK;
      }
      return finish_status(REPLY_OK, 0);
    case CMD_WRITE_PROGRAM:
      early_status_due_ = faults_.early_status == ++write_blocks_;
      enter_block(block_kind::write);
      state_ = expect::write_length;
      return {};
    case CMD_WRITE_ID: state_ = expect::id_high; return {};
    case CMD_WRITE_CONFIG: state_ = expect::config_value; return {};
    case CMD_READ_PROGRAM:
      enter_block(block_kind::read);
      state_ = expect::read_length;
      return {};
    case CMD_READ_ID_CONFIG: {
      answer ids;
      ids.push(static_cast<std::uint16_t>(user_id_ >> 16));
      ids.push(static_cast<std::uint16_t>(user_id_ & 0xFFFFu));
      ids.push(device_id_);
      ids.push(config_);
      return ids;
    }
    default:
      // Not a request: say so at once and take the next word as a command word again.
      return finish_status(STATUS_BAD_REQUEST, 0);
  }
}

void sim_target::enter_block(block_kind kind) {
  if (last_block_ != kind) position_ = 0;
  last_block_ = kind;
}

answer sim_target::finish_status(std::uint16_t status, std::uint32_t programmed) {
  answer reply;
  reply.push(status);
  extra_status_due_ = faults_.extra_status == ++status_answers_;
  reply.words_programmed = programmed;
  return reply;
}

// Called once per status-answered exchange, when its last word is in.
bool sim_target::refuse_this_exchange() {
  ++status_exchanges_;
  return faults_.refuse_exchange != 0 && status_exchanges_ == faults_.refuse_exchange;
}

void sim_target::store_block() {
  std::copy_n(block_.begin(), block_length_,
              memory_.begin() + static_cast<std::ptrdiff_t>(position_));
  position_ += block_length_;
}

answer sim_target::read_block(std::size_t requested) {
  ++read_blocks_;
  answer reply;
  if (requested == 0 || requested > BLOCK_WORDS) {
    reply.push(END_OF_BLOCK);
    return reply;
  }
  const std::size_t count = std::min(requested, MEMORY_WORDS - position_);
  for (std::size_t i = 0; i < count; ++i) reply.push(memory_[position_ + i]);

  if (faults_.short_read_block == read_blocks_ && reply.size > 0) --reply.size;
  if (faults_.long_read_block == read_blocks_) {
    const std::size_t next = position_ + count;
    const std::uint16_t extra = next < MEMORY_WORDS ? memory_[next] : MEMORY_BLANK;
    reply.push(extra == END_OF_BLOCK ? MEMORY_BLANK : extra);
  }
  reply.push(END_OF_BLOCK);
  position_ += count;
  return reply;
}

}  // namespace ttyprog::sim
