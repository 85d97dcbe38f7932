// writeprogram and verifyprogram: a HEX text, loaded whole, written to program memory block by
// block or compared with what the programmer reads back.
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "cli/blocks.h"
#include "cli/commands.h"
#include "cli/link_failure.h"
#include "cli/output.h"
#include "image/hex_image.h"
#include "link/protocol.h"
#include "platform/input_file.h"

namespace ttyprog {

namespace {

struct file_closer {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using input_stream = std::unique_ptr<std::FILE, file_closer>;

// The HEX text comes from the named file, or from standard input when no file is named. The
// stream is closed when the command is done with it, standard input included.
input_stream open_input(const char* param, std::chrono::milliseconds writer_wait) {
  if (param == nullptr) return input_stream(stdin);
  input_stream input(open_hex_file(param, writer_wait));
  if (!input) out_line("input file open failed!");
  return input;
}

// The word count of a loaded HEX text, or the outcome that ends the command after the line that
// told the user why there is nothing to send.
struct loaded_input {
  std::size_t words = 0;
  bool usable = false;
};

loaded_input load_input(program_image& image, const char* param, std::chrono::milliseconds writer_wait) {
  input_stream input = open_input(param, writer_wait);
  if (!input) return {};
  const int words = load_hex_image(image, input.get());
  if (words < 0) {
    out_line("invalid hex file!");
    return {};
  }
  return {static_cast<std::size_t>(words), true};
}

// The block terminator cannot travel inside a block: the programmer would end the block there
// and take the rest as commands.
bool image_is_writable(const program_image& image, std::size_t words) {
  auto end = image.begin() + static_cast<std::ptrdiff_t>(words);
  auto terminator = std::find(image.begin(), end, std::uint32_t{END_OF_BLOCK});
  if (terminator == end) return true;
  out_format("word ffff at %04x cannot be written!\n",
             static_cast<unsigned>(terminator - image.begin()));
  return false;
}

}  // namespace

outcome run_write_program(serial_port& port, const char* param) {
  program_image image{};
  const loaded_input input = load_input(image, param, port.bound());
  if (!input.usable) return outcome::bad_input;
  if (!image_is_writable(image, input.words)) return outcome::bad_input;

  const blocks_result written = for_each_block(
      "writing", input.words, "the target is partly written", [&](std::size_t first, std::size_t n) {
        const prog_reply reply =
            prog_write_block(port, std::span<const std::uint32_t>(image).subspan(first, n));
        return block_step{reply.ok(), reply.link};
      });
  switch (written.end) {
    case blocks_end::stopped:
      return stopped_outcome();
    case blocks_end::failed:
      out_line("Failed...");
      report_link_failure(written.link);
      return failure_of(written.link);
    case blocks_end::finished:
      break;
  }
  out_line("Done.");
  return input.words == 0 ? outcome::no_data : outcome::done;
}

outcome run_verify_program(serial_port& port, const char* param) {
  program_image image{};
  const loaded_input input = load_input(image, param, port.bound());
  if (!input.usable) return outcome::bad_input;

  std::array<std::uint16_t, BLOCK_WORDS> buffer{};
  int errors = 0;
  const blocks_result compared = for_each_block(
      "verifying", input.words, "the rest was not compared", [&](std::size_t first, std::size_t n) {
        const block_read got = prog_read_block(port, n, buffer);
        if (got.link != link_status::ok || got.count != n) return block_step{false, got.link};
        for (std::size_t j = 0; j < n; ++j) {
          if (buffer[j] != image[first + j]) ++errors;
        }
        return block_step{};
      });
  if (compared.end == blocks_end::stopped) return stopped_outcome();
  if (compared.end == blocks_end::failed) {
    out_line("read size error");
    report_link_failure(compared.link);
  }
  out_format("verify done. found %d error(s).\n", errors);
  if (compared.end == blocks_end::failed) return failure_of(compared.link);
  if (errors != 0) return outcome::differences;
  return input.words == 0 ? outcome::no_data : outcome::done;
}

}  // namespace ttyprog
