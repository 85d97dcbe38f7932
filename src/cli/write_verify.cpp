// writeprogram and verifyprogram: a HEX text, loaded whole, written to program memory block by
// block or compared with what the programmer reads back.
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/link_failure.h"
#include "cli/progress.h"
#include "image/hex_image.h"
#include "platform/input_file.h"
#include "link/protocol.h"

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
  if (!input) std::puts("input file open failed!");
  return input;
}

// Loads the whole text before anything goes to the programmer. Returns the word count, or -1
// after telling the user why there is nothing to send.
int load_input(program_image& image, const char* param, std::chrono::milliseconds writer_wait) {
  input_stream input = open_input(param, writer_wait);
  if (!input) return -1;
  int words = load_hex_image(image, input.get());
  if (words < 0) std::puts("invalid hex file!");
  return words;
}

std::size_t block_length(std::size_t total, std::size_t done) {
  return std::min(total - done, BLOCK_WORDS);
}

// The block terminator cannot travel inside a block: the programmer would end the block there
// and take the rest as commands.
bool image_is_writable(const program_image& image, std::size_t words) {
  auto end = image.begin() + static_cast<std::ptrdiff_t>(words);
  auto terminator = std::find(image.begin(), end, std::uint32_t{END_OF_BLOCK});
  if (terminator == end) return true;
  std::printf("word ffff at %04x cannot be written!\n",
              static_cast<unsigned>(terminator - image.begin()));
  return false;
}

}  // namespace

void run_write_program(serial_port& port, const char* param) {
  program_image image{};
  const int loaded = load_input(image, param, port.bound());
  if (loaded < 0) return;
  const auto words = static_cast<std::size_t>(loaded);
  if (!image_is_writable(image, words)) return;

  progress_line progress("writing", words);
  for (std::size_t done = 0; done < words; done += BLOCK_WORDS) {
    const std::size_t n = block_length(words, done);
    prog_reply reply = prog_write_block(port, std::span<const std::uint32_t>(image).subspan(done, n));
    if (!reply.ok()) {
      progress.erase();
      std::puts("Failed...");
      report_link_failure(reply.link);
      return;
    }
    progress.advance(done + n);
  }
  progress.erase();
  std::puts("Done.");
}

void run_verify_program(serial_port& port, const char* param) {
  program_image image{};
  const int loaded = load_input(image, param, port.bound());
  if (loaded < 0) return;
  const auto words = static_cast<std::size_t>(loaded);

  std::array<std::uint16_t, BLOCK_WORDS> buffer{};
  int errors = 0;
  progress_line progress("verifying", words);
  for (std::size_t done = 0; done < words; done += BLOCK_WORDS) {
    const std::size_t n = block_length(words, done);
    block_read got = prog_read_block(port, n, buffer);
    if (got.link != link_status::ok || got.count != n) {
      progress.erase();
      std::puts("read size error");
      report_link_failure(got.link);
      break;
    }
    for (std::size_t j = 0; j < n; ++j) {
      if (buffer[j] != image[done + j]) ++errors;
    }
    progress.advance(done + n);
  }
  progress.erase();
  std::printf("verify done. found %d error(s).\n", errors);
}

}  // namespace ttyprog
