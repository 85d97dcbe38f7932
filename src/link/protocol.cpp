// The programmer exchanges: each sends its whole request, then takes the answer.
#include "link/protocol.h"

#include <algorithm>
#include <array>

namespace ttyprog {

namespace {

// Every request starts on a quiet line: bytes already waiting answer nothing this run asked (the
// rest of an interrupted run's answer, a surplus status word), and taking them as the answer to
// the new request would report what the target does not hold.
link_status send_request(serial_port& port, std::span<const std::uint16_t> request) {
  if (const link_status status = line_before_request(port); status != link_status::ok)
    return status;
  return send_words(port, request);
}

prog_reply await_status(serial_port& port) {
  const word_result answer = receive_word(port);
  return {answer.status, answer.word};
}

// A request of a few words answered by one status word.
prog_reply status_exchange(serial_port& port, std::span<const std::uint16_t> request) {
  if (const link_status status = send_request(port, request); status != link_status::ok)
    return {status, 0};
  return await_status(port);
}

std::uint16_t low_word(std::uint32_t value) { return static_cast<std::uint16_t>(value & 0xFFFFu); }

}  // namespace

prog_reply prog_erase(serial_port& port) {
  const std::array<std::uint16_t, 1> request{CMD_ERASE};
  return status_exchange(port, request);
}

prog_reply prog_erase_all(serial_port& port) {
  const std::array<std::uint16_t, 1> request{CMD_ERASE_ALL};
  return status_exchange(port, request);
}

prog_reply prog_write_block(serial_port& port, std::span<const std::uint32_t> words,
                            word_observer observer) {
  // The whole block goes out at once: command, length, words, terminator.
  std::array<std::uint16_t, BLOCK_WORDS + 3> request{};
  const std::size_t n = std::min(words.size(), BLOCK_WORDS);
  request[0] = CMD_WRITE_PROGRAM;
  request[1] = static_cast<std::uint16_t>(n);
  std::transform(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(n), request.begin() + 2,
                 low_word);
  request[n + 2] = END_OF_BLOCK;
  if (const link_status status =
          send_request(port, std::span<const std::uint16_t>(request).first(n + 3));
      status != link_status::ok) {
    return {status, 0};
  }
  const prog_reply reply = await_status(port);
  if (reply.ok()) observer(n);
  return reply;
}

prog_reply prog_write_id(serial_port& port, std::uint32_t id) {
  const std::array<std::uint16_t, 3> request{CMD_WRITE_ID, low_word(id >> 16), low_word(id)};
  return status_exchange(port, request);
}

prog_reply prog_write_config(serial_port& port, std::uint32_t value) {
  const std::array<std::uint16_t, 2> request{CMD_WRITE_CONFIG, low_word(value)};
  return status_exchange(port, request);
}

block_read prog_read_block(serial_port& port, std::size_t n, block_buffer buffer,
                           word_observer observer) {
  const std::array<std::uint16_t, 2> request{CMD_READ_PROGRAM,
                                             low_word(static_cast<std::uint32_t>(n))};
  if (const link_status status = send_request(port, request); status != link_status::ok)
    return {status, 0};
  // At most n data words and the terminator: a longer answer already shows the size error.
  std::array<std::uint16_t, BLOCK_WORDS + 1> answer{};
  const std::size_t most = std::min(n, BLOCK_WORDS) + 1;
  block_read result;
  std::size_t taken = 0;
  while (taken < most) {
    const words_result got =
        receive_words(port, std::span<std::uint16_t>(answer).subspan(taken, most - taken));
    if (got.status != link_status::ok) return {got.status, result.count};
    for (std::size_t k = taken; k < taken + got.count; ++k) {
      if (answer[k] == END_OF_BLOCK) {
        // Words after the terminator answer nothing asked.
        return {k + 1 == taken + got.count ? link_status::ok : link_status::unexpected,
                result.count};
      }
      if (result.count < buffer.size()) buffer[result.count] = answer[k];
      ++result.count;
    }
    taken += got.count;
    observer(std::min(result.count, n));
  }
  return result;
}

id_read prog_read_ids(serial_port& port) {
  const std::array<std::uint16_t, 1> request{CMD_READ_ID_CONFIG};
  if (const link_status status = send_request(port, request); status != link_status::ok)
    return {status};
  std::array<std::uint16_t, 4> words{};
  for (std::size_t taken = 0; taken < words.size();) {
    const words_result got = receive_words(port, std::span<std::uint16_t>(words).subspan(taken));
    if (got.status != link_status::ok) return {got.status};
    taken += got.count;
  }
  return {link_status::ok, (std::uint32_t{words[0]} << 16) | words[1], words[2], words[3]};
}

link_status prog_settle(serial_port& port) { return await_quiet(port, SETTLE_TIME); }

link_status prog_block_gap(serial_port& port) { return await_quiet(port, BLOCK_GAP); }

}  // namespace ttyprog
