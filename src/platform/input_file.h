// Opening the HEX file that writeprogram and verifyprogram read: the platform part, since a named
// pipe and a device need care that a plain fopen does not take.
#pragma once

#include <chrono>
#include <cstdio>

namespace ttyprog {

// Why a HEX file was not opened.
enum class hex_file_refusal {
  none,
  system,            // the system refused the open; see `error`
  directory,         // a directory is no text to load
  character_device,  // a terminal, a port or /dev/zero never ends or never starts
  no_writer,         // a named pipe that no writer opened in time
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
// with the port held.)
hex_file open_hex_file(const char* path, std::chrono::milliseconds writer_wait);

}  // namespace ttyprog
