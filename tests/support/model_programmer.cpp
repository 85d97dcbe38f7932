#include "support/model_programmer.h"

#include <algorithm>
#include <utility>

namespace ttyprog::test {

namespace {

constexpr std::uint16_t WRITE_BLOCK = 0x8010;
constexpr std::uint16_t READ_BLOCK = 0x8020;
constexpr std::uint16_t STATUS_OK = 0xC000;
constexpr std::uint16_t TERMINATOR = 0xFFFF;

struct model_session {
  model_options options;
  std::size_t position = 0;
  std::uint16_t last_block = 0;
  std::size_t blocks = 0;
  bool silent = false;

  block_fault next_fault() {
    const std::size_t block = blocks++;
    return block < options.faults.size() ? options.faults[block] : block_fault::none;
  }

  void start_block(std::uint16_t kind) {
    if (kind != last_block) position = 0;
    last_block = kind;
  }

  // `request` is 0x8010, n, the data words and the terminator.
  reply write(const std::vector<std::uint16_t>& request) {
    start_block(WRITE_BLOCK);
    const block_fault fault = next_fault();
    if (fault == block_fault::hang_up) return reply{{}, true};
    if (fault == block_fault::silent) {
      silent = true;
      return reply{};
    }
    if (fault == block_fault::refuse) return reply{{MODEL_REFUSED}};
    const std::size_t n = request[1];
    if (request.size() != n + 3 || position + n > MODEL_WORDS) return reply{{MODEL_BAD_BLOCK}};
    std::copy(request.begin() + 2, request.end() - 1,
              options.memory->begin() + static_cast<std::ptrdiff_t>(position));
    position += n;
    return reply{{STATUS_OK}};
  }

  // `request` is 0x8020, n.
  reply read(const std::vector<std::uint16_t>& request) {
    start_block(READ_BLOCK);
    const block_fault fault = next_fault();
    const std::size_t n = request[1];
    const std::size_t from = std::min(position, MODEL_WORDS);
    std::size_t count = std::min(n, MODEL_WORDS - from);
    if (fault == block_fault::one_long) count = std::min(n + 1, MODEL_WORDS - from);
    if (fault == block_fault::one_short && count > 0) --count;
    if (fault == block_fault::hang_up || fault == block_fault::silent) count /= 2;
    position += n;

    reply answer;
    const auto first = options.memory->begin() + static_cast<std::ptrdiff_t>(from);
    answer.words.assign(first, first + static_cast<std::ptrdiff_t>(count));
    if (fault == block_fault::hang_up) {
      answer.hang_up = true;
    } else if (fault == block_fault::silent) {
      silent = true;
    } else {
      answer.words.push_back(TERMINATOR);
    }
    return answer;
  }
};

}  // namespace

responder model_programmer(model_options options) {
  auto session = std::make_shared<model_session>();
  session->options = std::move(options);
  return [session](const std::vector<std::uint16_t>& request) -> std::optional<reply> {
    if (session->silent) return std::nullopt;
    switch (request.front()) {
      case WRITE_BLOCK:
        // The length word cannot end the block, whatever its value.
        if (request.size() < 3 || request.back() != TERMINATOR) return std::nullopt;
        return session->write(request);
      case READ_BLOCK:
        if (request.size() < 2) return std::nullopt;
        return session->read(request);
      default:
        return reply{};
    }
  };
}

std::shared_ptr<model_memory> memory_of(std::uint16_t value) {
  auto memory = std::make_shared<model_memory>();
  memory->fill(value);
  return memory;
}

}  // namespace ttyprog::test
