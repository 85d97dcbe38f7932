// readprogram and readhex: program memory from word 0, as a hexadecimal dump eight words to a
// line, or as Intel HEX text that writeprogram takes back after an erase.
#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

#include "cli/blocks.h"
#include "cli/commands.h"
#include "cli/link_failure.h"
#include "cli/output.h"
#include "cli/param_parse.h"
#include "image/hex_image.h"
#include "image/hex_writer.h"
#include "link/protocol.h"

namespace ttyprog {

namespace {

constexpr std::uint32_t DEFAULT_READ_WORDS = 512;
constexpr std::uint32_t DEFAULT_BACKUP_WORDS = 8192;
// Intel HEX addresses bytes with 32 bits: at most 2^31 words.
constexpr std::uint32_t MAX_HEX_WORDS = 0x80000000u;

void print_dump_block(std::span<const std::uint16_t> words) {
  for (std::size_t j = 0; j < words.size(); ++j) {
    out_format("%04x%c", static_cast<unsigned>(words[j]), (j + 1) % 8 == 0 ? '\n' : ' ');
  }
  if (words.size() % 8 != 0) out_format("\n");
}

// A record of blank words is left out: loaded after an erase, the text gives the same memory
// without it, and a restore then writes only up to the last word in use.
void print_hex_block(std::uint16_t& upper, std::uint64_t first,
                     std::span<const std::uint16_t> words) {
  for (std::size_t j = 0; j < words.size(); j += HEX_RECORD_WORDS) {
    const std::span<const std::uint16_t> record =
        words.subspan(j, std::min(HEX_RECORD_WORDS, words.size() - j));
    if (std::all_of(record.begin(), record.end(),
                    [](std::uint16_t word) { return word == BLANK_WORD; }))
      continue;
    hex_text_chunk text{};
    format_hex_words(text, upper, first + j, record);
    out_format("%s", text.data());
  }
}

// The exchange of a read block: whole only when exactly the words asked for came.
auto read_into(serial_port& port, std::array<std::uint16_t, BLOCK_WORDS>& buffer) {
  return [&port, &buffer](std::size_t, std::size_t n, word_observer moved) {
    const block_read got = prog_read_block(port, n, buffer, moved);
    return block_step{got.link == link_status::ok && got.count == n, got.link};
  };
}

}  // namespace

outcome run_read_program(serial_port& port, const char* param) {
  const std::uint32_t count =
      param == nullptr ? DEFAULT_READ_WORDS : parse_word_count(param, DEFAULT_READ_WORDS);
  std::array<std::uint16_t, BLOCK_WORDS> buffer{};
  const blocks_result read =
      for_each_block(port, "reading", count, "the dump is incomplete", read_into(port, buffer),
                     [&](std::size_t, std::size_t n) {
                       print_dump_block(std::span<const std::uint16_t>(buffer).first(n));
                     });
  switch (read.end) {
    case blocks_end::finished: return outcome::done;
    case blocks_end::stopped: return stopped_outcome();
    case blocks_end::failed: break;
  }
  out_line("read size error");
  report_link_failure(read.link);
  return failure_of(read.link);
}

outcome run_read_hex(serial_port& port, const char* param) {
  // A backup holds exactly what was asked for: a count that is not plain decimal is refused.
  const std::optional<std::uint32_t> asked =
      param == nullptr ? DEFAULT_BACKUP_WORDS : parse_decimal_count(param);
  if (!asked) {
    std::fputs("invalid word count!\n", stderr);
    return outcome::bad_input;
  }
  const std::uint32_t count = *asked;
  if (count > MAX_HEX_WORDS) {
    std::fprintf(stderr, "Intel HEX holds at most %u words!\n", MAX_HEX_WORDS);
    return outcome::bad_input;
  }
  std::array<std::uint16_t, BLOCK_WORDS> buffer{};
  std::uint16_t upper = 0;
  const blocks_result read = for_each_block(
      port, "reading", count, "the HEX text is incomplete", read_into(port, buffer),
      [&](std::size_t first, std::size_t n) {
        print_hex_block(upper, first, std::span<const std::uint16_t>(buffer).first(n));
      });
  switch (read.end) {
    case blocks_end::finished: out_format("%s", HEX_END_OF_FILE); return outcome::done;
    case blocks_end::stopped: return stopped_outcome();
    case blocks_end::failed: break;
  }
  // Standard output holds only records: the failure goes to standard error, and without the
  // end-of-file record the text does not pass for a whole backup.
  out_flush();
  std::fputs("read size error\n", stderr);
  report_link_failure(read.link);
  return failure_of(read.link);
}

}  // namespace ttyprog
