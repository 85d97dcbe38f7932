#include "support/target_session.h"

#include <algorithm>
#include <stdexcept>

namespace ttyprog::test {

responder target_session(sim::sim_target& target) {
  target.new_session();
  return [&target](const std::vector<std::uint16_t>& request) -> std::optional<reply> {
    const sim::answer answer = target.feed(request.back());
    if (answer.size == 0 && !answer.hang_up) return std::nullopt;
    return reply{{answer.view().begin(), answer.view().end()}, answer.hang_up};
  };
}

void store_program(sim::sim_target& target, std::span<const std::uint16_t> words) {
  target.new_session();
  for (std::size_t from = 0; from < words.size(); from += BLOCK_WORDS) {
    const auto block = words.subspan(from, std::min(BLOCK_WORDS, words.size() - from));
    target.feed(CMD_WRITE_PROGRAM);
    target.feed(static_cast<std::uint16_t>(block.size()));
    for (const std::uint16_t word : block) target.feed(word);
    const sim::answer status = target.feed(END_OF_BLOCK);
    if (status.size != 1 || status.words[0] != REPLY_OK) {
      throw std::runtime_error("the target refused a block of the test's program");
    }
  }
  target.new_session();
}

std::vector<std::uint16_t> program_words(const sim::sim_target& target, std::size_t count) {
  std::vector<std::uint16_t> words(count);
  for (std::size_t i = 0; i < count; ++i) words[i] = target.program_word(i);
  return words;
}

}  // namespace ttyprog::test
