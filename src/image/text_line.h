// Line reading with the behaviour of a text-mode stream read into a fixed buffer.
//
// HEX files come from many tools and platforms, so their lines may end in LF or in CR LF. A read
// here treats a CR directly followed by LF as one newline, as a text-mode stream does, and keeps a
// lone CR as an ordinary character. A line longer than the buffer arrives in several pieces.
// Editors may put a UTF-8 byte order mark (EF BB BF) before the text; at the very start of the
// stream it is not part of the first line. Anywhere else it is kept like any other characters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <span>

namespace ttyprog {

// Reads a stream in large chunks and hands it out a piece of a line at a time. The reader takes
// the stream from its current position to its end (it reads ahead), so it suits a caller that
// reads the whole stream; it never closes it.
class text_line_reader {
 public:
  explicit text_line_reader(std::FILE* stream) : stream_(stream) {}

  // Reads one piece of a line into `buffer` and terminates it with a zero byte: at most
  // buffer.size() - 1 characters, ending after the first newline. Returns the number of
  // characters stored (a zero byte read from the stream is stored like any other character), or
  // 0 when the stream is at its end or reports a read error. `buffer` must hold at least 2
  // characters.
  std::size_t read(std::span<char> buffer);

 private:
  bool refill();  // false at the end of the stream or on a read error

  std::FILE* stream_;
  std::array<char, 16384> chunk_{};
  std::size_t next_ = 0;  // first character of chunk_ not handed out yet
  std::size_t end_ = 0;   // end of the characters read into chunk_
  bool started_ = false;  // the first chunk has been read
};

}  // namespace ttyprog
