// readprogram: program memory from word 0 as a hexadecimal dump, eight words to a line.
#include <array>
#include <cstdio>

#include "cli/commands.h"
#include "cli/link_failure.h"
#include "cli/param_parse.h"
#include "cli/progress.h"
#include "link/protocol.h"

namespace ttyprog {

namespace {

constexpr std::uint32_t DEFAULT_READ_WORDS = 512;

void print_dump_block(std::span<const std::uint16_t> words) {
  for (std::size_t j = 0; j < words.size(); ++j) {
    std::printf("%04x%c", static_cast<unsigned>(words[j]), (j + 1) % 8 == 0 ? '\n' : ' ');
  }
  if (words.size() % 8 != 0) std::putchar('\n');
}

}  // namespace

void run_read_program(serial_port& port, const char* param) {
  const std::uint32_t count =
      param == nullptr ? DEFAULT_READ_WORDS : parse_word_count(param, DEFAULT_READ_WORDS);
  std::array<std::uint16_t, BLOCK_WORDS> buffer{};
  std::uint32_t done = 0;
  progress_line progress("reading", count);
  while (done < count) {
    const std::size_t n = std::min<std::size_t>(BLOCK_WORDS, count - done);
    block_read got = prog_read_block(port, n, buffer);
    progress.erase();
    if (got.link != link_status::ok || got.count != n) {
      std::puts("read size error");
      report_link_failure(got.link);
      return;
    }
    print_dump_block(std::span<const std::uint16_t>(buffer).first(n));
    done += static_cast<std::uint32_t>(n);
    progress.advance(done);
  }
}

}  // namespace ttyprog
