// Line reading with the behaviour of a text-mode stream read into a fixed buffer.
//
// HEX files come from many tools and platforms, so their lines may end in LF or in CR LF. A read
// here treats a CR directly followed by LF as one newline, as a text-mode stream does, and keeps a
// lone CR as an ordinary character. A line longer than the buffer arrives in several pieces.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>

namespace ttyprog {

// Reads one piece of a line from `stream` into `buffer` and terminates it with a zero byte: at most
// buffer.size() - 1 characters, ending after the first newline. Returns the number of characters
// stored (a zero byte read from the stream is stored like any other character), or 0 when the
// stream is at its end or reports a read error. `buffer` must hold at least 2 characters.
std::size_t read_text_line(std::FILE* stream, std::span<char> buffer);

}  // namespace ttyprog
