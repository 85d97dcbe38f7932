// The programmer exchanges: each sends its whole request, then takes the answer.
#include "link/protocol.h"

#include <array>
#include <initializer_list>

namespace ttyprog {

namespace {

// Every request starts on a quiet line: bytes already waiting answer nothing this run asked (the
// rest of an interrupted run's answer, a surplus status word), and taking them as the answer to
// the new request would report what the target does not hold.
link_status start_request(serial_port& port) { return line_before_request(port); }

link_status send_words(serial_port& port, std::initializer_list<unsigned> words) {
  for (unsigned word : words) {
    if (link_status status = send_word(port, word); status != link_status::ok) return status;
  }
  return link_status::ok;
}

prog_reply await_status(serial_port& port) {
  word_result answer = receive_word(port);
  return {answer.status, answer.word};
}

// A request of a few words answered by one status word.
prog_reply status_exchange(serial_port& port, std::initializer_list<unsigned> request) {
  if (link_status status = start_request(port); status != link_status::ok) return {status, 0};
  if (link_status status = send_words(port, request); status != link_status::ok) return {status, 0};
  return await_status(port);
}

}  // namespace

prog_reply prog_erase(serial_port& port) { return status_exchange(port, {CMD_ERASE}); }

prog_reply prog_erase_all(serial_port& port) { return status_exchange(port, {CMD_ERASE_ALL}); }

prog_reply prog_write_block(serial_port& port, std::span<const std::uint32_t> words,
                            word_observer observer) {
  if (link_status status = start_request(port); status != link_status::ok) return {status, 0};
  if (link_status status = send_words(port, {CMD_WRITE_PROGRAM, static_cast<unsigned>(words.size())});
      status != link_status::ok) {
    return {status, 0};
  }
  for (std::size_t k = 0; k < words.size(); ++k) {
    if (link_status status = send_word(port, words[k]); status != link_status::ok) return {status, 0};
    observer(k + 1);
  }
  if (link_status status = send_word(port, END_OF_BLOCK); status != link_status::ok) return {status, 0};
  return await_status(port);
}

prog_reply prog_write_id(serial_port& port, std::uint32_t id) {
  return status_exchange(port, {CMD_WRITE_ID, id >> 16, id & 0xFFFFu});
}

prog_reply prog_write_config(serial_port& port, std::uint32_t value) {
  return status_exchange(port, {CMD_WRITE_CONFIG, value & 0xFFFFu});
}

block_read prog_read_block(serial_port& port, std::size_t n, block_buffer buffer,
                           word_observer observer) {
  if (link_status status = start_request(port); status != link_status::ok) return {status, 0};
  if (link_status status = send_words(port, {CMD_READ_PROGRAM, static_cast<unsigned>(n)});
      status != link_status::ok) {
    return {status, 0};
  }
  block_read result;
  while (result.count <= n) {
    word_result answer = receive_word(port);
    if (answer.status != link_status::ok) return {answer.status, result.count};
    if (answer.word == END_OF_BLOCK) break;
    if (result.count < buffer.size()) buffer[result.count] = answer.word;
    ++result.count;
    if (result.count <= n) observer(result.count);
  }
  return result;
}

link_status prog_settle(serial_port& port) { return await_quiet(port, SETTLE_TIME); }

link_status prog_block_gap(serial_port& port) { return await_quiet(port, BLOCK_GAP); }

id_read prog_read_ids(serial_port& port) {
  if (link_status status = start_request(port); status != link_status::ok) return {status};
  if (link_status status = send_word(port, CMD_READ_ID_CONFIG); status != link_status::ok) {
    return {status};
  }
  std::array<std::uint16_t, 4> words{};
  for (std::uint16_t& word : words) {
    word_result answer = receive_word(port);
    if (answer.status != link_status::ok) return {answer.status};
    word = answer.word;
  }
  return {link_status::ok, (std::uint32_t{words[0]} << 16) | words[1], words[2], words[3]};
}

}  // namespace ttyprog
