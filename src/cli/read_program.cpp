// readprogram: program memory from word 0 as a hexadecimal dump, eight words to a line.
#include <array>

#include "cli/blocks.h"
#include "cli/commands.h"
#include "cli/link_failure.h"
#include "cli/output.h"
#include "cli/param_parse.h"
#include "link/protocol.h"

namespace ttyprog {

namespace {

constexpr std::uint32_t DEFAULT_READ_WORDS = 512;

void print_dump_block(std::span<const std::uint16_t> words) {
  for (std::size_t j = 0; j < words.size(); ++j) {
    out_format("%04x%c", static_cast<unsigned>(words[j]), (j + 1) % 8 == 0 ? '\n' : ' ');
  }
  if (words.size() % 8 != 0) out_format("\n");
}

}  // namespace

outcome run_read_program(serial_port& port, const char* param) {
  const std::uint32_t count =
      param == nullptr ? DEFAULT_READ_WORDS : parse_word_count(param, DEFAULT_READ_WORDS);
  std::array<std::uint16_t, BLOCK_WORDS> buffer{};
  const blocks_result read = for_each_block(
      "reading", count, "the dump is incomplete", [&](std::size_t, std::size_t n) {
        const block_read got = prog_read_block(port, n, buffer);
        if (got.link != link_status::ok || got.count != n) return block_step{false, got.link};
        print_dump_block(std::span<const std::uint16_t>(buffer).first(n));
        return block_step{};
      });
  switch (read.end) {
    case blocks_end::finished:
      return outcome::done;
    case blocks_end::stopped:
      return stopped_outcome();
    case blocks_end::failed:
      break;
  }
  out_line("read size error");
  report_link_failure(read.link);
  return failure_of(read.link);
}

}  // namespace ttyprog
