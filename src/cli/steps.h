// The steps that more than one command takes: the HEX text loaded and checked, the image written
// or compared, the IDs read. Each prints its own lines, as the command that has it alone does, and
// `program` chains them.
#pragma once

#include <cstddef>

#include "cli/outcome.h"
#include "image/hex_image.h"
#include "link/protocol.h"

namespace ttyprog {

// The word count of a loaded HEX text; when not usable, the line that told the user why there is
// nothing to send has gone out and `failure` is what the command achieved.
struct loaded_input {
  std::size_t words = 0;
  bool usable = false;
  outcome failure = outcome::bad_input;
};

// Loads the HEX text of `param` (standard input when nullptr) into `image`. `nothing_done`
// completes the note "nothing was ..." when the text holds no data: "written", "compared".
loaded_input load_input(program_image& image, const char* param,
                        std::chrono::milliseconds writer_wait, const char* nothing_done);

// False, after the line that says so, when the image holds the block terminator.
bool image_is_writable(const program_image& image, std::size_t words);

// Writes words 0 to `words` - 1 in blocks: "Done." or "Failed...".
outcome write_image(serial_port& port, const program_image& image, std::size_t words);

// Reads words 0 to `words` - 1 back and counts those that differ: the verify line.
outcome verify_image(serial_port& port, const program_image& image, std::size_t words);

// readidandconfig's lines; `ids` holds what was read when the result is done.
outcome read_ids(serial_port& port, id_read& ids);

}  // namespace ttyprog
