// The HEX file that writeprogram and verifyprogram read: opening it, and reading it so that the
// user can stop the run while it waits for text. The platform part, since a named pipe, a
// terminal and a device need care that a plain fopen and fread do not take.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <span>

namespace ttyprog {

// Asked while the input is awaited: true when the user asked the run to stop.
using input_stop_check = bool (*)();

// The longest a wait for input goes without asking the stop check.
inline constexpr std::chrono::milliseconds INPUT_STOP_SLICE{50};

// Why a HEX file was not opened.
enum class hex_file_refusal {
  none,
  system,            // the system refused the open; see `error`
  directory,         // a directory is no text to load
  character_device,  // a terminal, a port or /dev/zero never ends or never starts
  no_writer,         // a named pipe that no writer opened in time
  stopped,           // the user asked the run to stop while it waited for a writer
};

struct hex_file {
  std::FILE* file = nullptr;  // the open stream, owned by the caller; nullptr when refused
  hex_file_refusal refusal = hex_file_refusal::none;
  int error = 0;  // the system's error code, for refusal::system
};

// Opens `path` for reading as text. A character device other than the one standard input is (a
// terminal or /dev/zero would hold the run forever) and a directory are refused. A named pipe is
// read like standard input, but only once a writer has come: the open does not wait for one, and
// when no writer has sent a byte or closed the pipe within `writer_wait`, the pipe counts as a
// file that cannot be opened. (A plain open would block until a writer appears, possibly forever,
// with the port held.) `stop`, when given, is asked at least every INPUT_STOP_SLICE of that wait.
hex_file open_hex_file(const char* path, std::chrono::milliseconds writer_wait,
                       input_stop_check stop = nullptr);

// What one read of the HEX input came to.
enum class input_read {
  more,     // `count` characters, and more may follow
  end,      // `count` characters (perhaps none), and the input ends after them
  failed,   // the input could not be read
  stopped,  // `stop` said so before any character came
};

struct input_chunk {
  input_read status = input_read::end;
  std::size_t count = 0;
};

// Reads what the HEX input `file` (an open_hex_file stream, or standard input) has, at most
// into.size() characters, waiting for at least one or for its end. The wait asks `stop` (when
// given) before it starts and at least every INPUT_STOP_SLICE, so a terminal nobody types at, a
// pipe that stays silent or a source that never ends cannot hold a run the user wants to stop.
// Nothing else reads `file` meanwhile: the stream's own buffer is not used.
input_chunk read_hex_input(std::FILE* file, std::span<char> into, input_stop_check stop);

}  // namespace ttyprog
