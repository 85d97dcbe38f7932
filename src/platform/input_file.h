// Opening the HEX file that writeprogram and verifyprogram read: the platform part, since a named
// pipe needs care that a plain fopen does not take.
#pragma once

#include <chrono>
#include <cstdio>

namespace ttyprog {

// Opens `path` for reading as text; nullptr when it cannot be opened, is a directory, or is a
// character device other than the one standard input is (a terminal or /dev/zero would hold the
// run forever). A named
// pipe is read like standard input, but only once a writer has come: the open does not wait for
// one, and when no writer has sent a byte or closed the pipe within `writer_wait`, the pipe counts
// as a file that cannot be opened. (A plain open would block until a writer appears, possibly
// forever, with the port held.)
std::FILE* open_hex_file(const char* path, std::chrono::milliseconds writer_wait);

}  // namespace ttyprog
