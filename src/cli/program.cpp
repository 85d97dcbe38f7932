// program: the one command that leaves the target holding exactly the HEX text. It loads the text
// first (nothing is sent for a text that cannot be used), reads the IDs, checks the device ID when
// TTYPROG_DEVICE_ID names one, erases, writes and verifies, each step with its own lines, and
// stops at the first step that fails.
#include <cstdio>

#include "cli/blocks.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/settings.h"
#include "cli/steps.h"

namespace ttyprog {

namespace {

// True when a stop request (or lost standard output) ends the command between two steps; a stop
// request is told on standard error by `told`, which says what the steps so far left behind.
bool stopped_after(const char* told) {
  if (output_lost()) return true;
  if (stop_request() == 0) return false;
  erase_progress();
  std::fflush(stdout);
  std::fputs(told, stderr);
  return true;
}

}  // namespace

outcome run_program(serial_port& port, const char* param) {
  program_image image{};
  const loaded_input input = load_input(image, param, port.bound(), "programmed");
  if (!input.usable) return input.failure;
  if (!image_is_writable(image, input.words)) return outcome::bad_input;
  // An empty text would leave the target blank: most likely the wrong file.
  if (input.words == 0) {
    out_line("no data in hex file!");
    return outcome::no_data;
  }

  id_read ids;
  if (const outcome read = read_ids(port, ids); read != outcome::done) return read;
  if (const std::optional<std::uint16_t> expected = run_settings().device_id;
      expected && *expected != ids.device_id) {
    out_format("device ID %04x is not the expected %04x!\n", static_cast<unsigned>(ids.device_id),
               static_cast<unsigned>(*expected));
    return outcome::refused;
  }
  if (stopped_after("Interrupted after reading the IDs: the target is unchanged.\n"))
    return stopped_outcome();

  if (const outcome erased = run_erase(port, param); erased != outcome::done) return erased;
  if (stopped_after("Interrupted after the erase: nothing was written.\n"))
    return stopped_outcome();

  if (const outcome written = write_image(port, image, input.words); written != outcome::done) {
    return written;
  }
  if (stopped_after("Interrupted after the write: nothing was verified.\n"))
    return stopped_outcome();

  return verify_image(port, image, input.words);
}

}  // namespace ttyprog
