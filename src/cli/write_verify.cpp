// writeprogram and verifyprogram: a HEX text, loaded whole, written to program memory block by
// block or compared with what the programmer reads back; the steps program takes of them.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli/blocks.h"
#include "cli/commands.h"
#include "cli/link_failure.h"
#include "cli/notes.h"
#include "cli/output.h"
#include "cli/settings.h"
#include "cli/steps.h"
#include "image/hex_image.h"
#include "link/protocol.h"
#include "platform/console.h"
#include "platform/input_file.h"
#include "platform/texts.h"

namespace ttyprog {

namespace {

struct file_closer {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using input_stream = std::unique_ptr<std::FILE, file_closer>;

const char* refusal_text(const hex_file& opened) {
  switch (opened.refusal) {
    case hex_file_refusal::directory: return "a directory is no HEX file";
    case hex_file_refusal::character_device: return "a device (a terminal, a port) is no HEX file";
    case hex_file_refusal::no_writer: return "no program opened the named pipe for writing in time";
    case hex_file_refusal::system: return std::strerror(opened.error);
    case hex_file_refusal::none:
    case hex_file_refusal::stopped:  // told as an interrupted command instead
      break;
  }
  return "unknown reason";
}

const char* fault_text(hex_fault fault) {
  switch (fault) {
    case hex_fault::length: return "the record's length does not fit its byte count";
    case hex_fault::checksum: return "bad checksum";
    case hex_fault::odd_address: return "odd address (a record must hold whole words)";
    case hex_fault::odd_byte_count: return "odd byte count (a record must hold whole words)";
    case hex_fault::bad_address_record:
      return "bad address record (it must hold two bytes and a correct checksum)";
    case hex_fault::read_error: return "the text could not be read";
    case hex_fault::none: break;
  }
  return "bad record";
}

// Asked while the HEX text is awaited: the user's first stop request ends the wait.
bool stop_asked() { return stop_request() != 0; }

// The platform's reader of the HEX input as the loader's text source (context: the stream).
text_chunk read_input(void* context, std::span<char> into) {
  const input_chunk got = read_hex_input(static_cast<std::FILE*>(context), into, stop_asked);
  switch (got.status) {
    case input_read::more: return {text_read::more, got.count};
    case input_read::end: return {text_read::end, got.count};
    case input_read::stopped: return {text_read::stopped, got.count};
    case input_read::failed: break;
  }
  return {text_read::failed, got.count};
}

// The HEX text comes from the named file, or from standard input when no file is named. The
// stream is closed when the command is done with it, standard input included. Nothing is opened,
// and nothing said, when the user asked to stop while a named pipe waited for its writer.
input_stream open_input(const char* param, std::chrono::milliseconds writer_wait) {
  if (param == nullptr) {
    if (stdin_is_terminal())
      note("Reading the HEX text from the terminal: end it with %s.", END_OF_INPUT_KEYS);
    return input_stream(stdin);
  }
  const hex_file opened = open_hex_file(param, writer_wait, stop_asked);
  if (opened.file == nullptr && opened.refusal != hex_file_refusal::stopped) {
    out_line("input file open failed!");
    note("%s: %s.", param, refusal_text(opened));
  }
  return input_stream(opened.file);
}

// Differing words told one by one; the count covers them all.
constexpr int SHOWN_DIFFERENCES = 8;

// A stop asked for while the text was awaited: told as an interrupted command.
loaded_input stopped_input() {
  stop_here(0, 0, "");
  return {0, false, stopped_outcome()};
}

}  // namespace

loaded_input load_input(program_image& image, const char* param,
                        std::chrono::milliseconds writer_wait, const char* nothing_done) {
  input_stream input = open_input(param, writer_wait);
  if (!input) return stop_asked() ? stopped_input() : loaded_input{};
  const char* source = param != nullptr ? param : "standard input";
  const hex_load_report report =
      load_hex_image(image, text_source{read_input, input.get()}, stop_asked);
  if (report.stopped) return stopped_input();
  if (report.words < 0) {
    out_line("invalid hex file!");
    note("%s: line %zu: %s.", source, report.first_fault_line, fault_text(report.first_fault));
    return {};
  }
  if (report.skipped_records > 0) {
    note("%s: %zu record(s) beyond program memory skipped, the first at byte address %llx.", source,
         report.skipped_records, static_cast<unsigned long long>(report.first_skipped_address));
  }
  // A backup cut short (a stopped or failed readhex, a full disk) lacks its end-of-file record:
  // loaded as it is, unless the exit code is to prove the whole text went out.
  if (report.words > 0 && !report.end_record) {
    if (run_settings().strict) {
      out_line("invalid hex file!");
      note("%s: no end-of-file record: the text may be cut short; TTYPROG_STRICT=1 refuses it.",
           source);
      return {};
    }
    note("%s: no end-of-file record: the text may be cut short.", source);
  }
  if (report.words == 0)
    note("%s holds no data for program memory: nothing was %s.", source, nothing_done);
  return {static_cast<std::size_t>(report.words), true};
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

outcome write_image(serial_port& port, const program_image& image, std::size_t words) {
  prog_reply last{};
  const blocks_result written = for_each_block(
      port, "writing", words, "the target is partly written",
      [&](std::size_t first, std::size_t n, word_observer moved) {
        last =
            prog_write_block(port, std::span<const std::uint32_t>(image).subspan(first, n), moved);
        return block_step{last.ok(), last.link};
      },
      no_block_output);
  switch (written.end) {
    case blocks_end::stopped: return stopped_outcome();
    case blocks_end::failed:
      out_line("Failed...");
      report_link_failure(written.link);
      if (written.link == link_status::ok && !last.ok()) {
        note("The programmer refused the block of words %zu to %zu (status %04x); it had taken"
             " %zu words before it.",
             written.done, written.done + std::min(words - written.done, BLOCK_WORDS) - 1,
             static_cast<unsigned>(last.status), written.done);
      }
      return failure_of(written.link);
    case blocks_end::finished: break;
  }
  out_line("Done.");
  return outcome::done;
}

outcome verify_image(serial_port& port, const program_image& image, std::size_t words) {
  std::array<std::uint16_t, BLOCK_WORDS> buffer{};
  int errors = 0;
  const blocks_result compared = for_each_block(
      port, "verifying", words, "the rest was not compared",
      [&](std::size_t, std::size_t n, word_observer moved) {
        const block_read got = prog_read_block(port, n, buffer, moved);
        return block_step{got.link == link_status::ok && got.count == n, got.link};
      },
      [&](std::size_t first, std::size_t n) {
        for (std::size_t j = 0; j < n; ++j) {
          if (buffer[j] == image[first + j]) continue;
          if (++errors <= SHOWN_DIFFERENCES) {
            note("word %04zx: expected %04x, read %04x", first + j,
                 static_cast<unsigned>(image[first + j]), static_cast<unsigned>(buffer[j]));
          }
        }
      });
  if (compared.end == blocks_end::stopped) return stopped_outcome();
  if (compared.end == blocks_end::failed) {
    out_line("read size error");
    report_link_failure(compared.link);
    note("The read stopped after %zu of %zu words: the rest was not compared.", compared.done,
         words);
  }
  out_format("verify done. found %d error(s).\n", errors);
  if (compared.end == blocks_end::failed) return failure_of(compared.link);
  return errors != 0 ? outcome::differences : outcome::done;
}

outcome run_write_program(serial_port& port, const char* param) {
  program_image image{};
  const loaded_input input = load_input(image, param, port.bound(), "written");
  if (!input.usable) return input.failure;
  if (!image_is_writable(image, input.words)) return outcome::bad_input;
  const outcome written = write_image(port, image, input.words);
  return written == outcome::done && input.words == 0 ? outcome::no_data : written;
}

outcome run_verify_program(serial_port& port, const char* param) {
  program_image image{};
  const loaded_input input = load_input(image, param, port.bound(), "compared");
  if (!input.usable) return input.failure;
  const outcome compared = verify_image(port, image, input.words);
  return compared == outcome::done && input.words == 0 ? outcome::no_data : compared;
}

}  // namespace ttyprog
