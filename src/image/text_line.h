// Line reading with the behaviour of a text-mode stream read into a fixed buffer.
//
// HEX files come from many tools and platforms, so their lines may end in LF or in CR LF. A read
// here treats a CR directly followed by LF as one newline, as a text-mode stream does, and keeps a
// lone CR as an ordinary character. A line longer than the buffer arrives in several pieces.
// Editors may put a UTF-8 byte order mark (EF BB BF) before the text; at the very start of the
// stream it is not part of the first line. Anywhere else it is kept like any other characters.
//
// The text comes from a text_source: whatever hands out characters (a standard stream here, the
// platform's reader of the HEX input in the front end). This file makes no system call of its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <span>

namespace ttyprog {

// What one read of a text source came to.
enum class text_read {
  more,     // `count` characters, and more may follow
  end,      // `count` characters (perhaps none), and the text ends after them
  failed,   // the source could not be read
  stopped,  // the user asked the run to stop while the source waited for text
};

struct text_chunk {
  text_read status = text_read::end;
  std::size_t count = 0;  // characters stored
};

// Where a text comes from: `read` stores up to into.size() characters (at least one is asked for)
// and says what the read came to. A source may hand out fewer characters than asked for, as a
// pipe or a terminal does.
struct text_source {
  text_chunk (*read)(void* context, std::span<char> into) = nullptr;
  void* context = nullptr;
};

// A standard stream as a text source, read with fread: a short read is the end of the text.
text_source stream_source(std::FILE* stream);

// Asked between reads of the source: true when the user asked the run to stop.
using stop_predicate = bool (*)();

// Reads a source in large chunks and hands it out a piece of a line at a time. The reader takes
// the source from its current position to its end (it reads ahead), so it suits a caller that
// reads the whole text; it never closes the source.
class text_line_reader {
 public:
  // `stop`, when given, is asked before each read of the source: once it says so, the text ends
  // there with status() stopped.
  explicit text_line_reader(text_source source, stop_predicate stop = nullptr)
      : source_(source), stop_(stop) {}
  explicit text_line_reader(std::FILE* stream) : text_line_reader(stream_source(stream)) {}

  // Reads one piece of a line into `buffer` and terminates it with a zero byte: at most
  // buffer.size() - 1 characters, ending after the first newline. Returns the number of
  // characters stored (a zero byte read from the source is stored like any other character), or
  // 0 when the text is at its end, could not be read or was stopped (status() says which).
  // `buffer` must hold at least 2 characters.
  std::size_t read(std::span<char> buffer);

  // How the text ended: end, failed or stopped; more while it has not ended.
  text_read status() const noexcept { return status_; }

 private:
  bool refill();  // false at the end of the text, on a read error or a stop

  text_source source_;
  stop_predicate stop_;
  std::array<char, 16384> chunk_{};
  std::size_t next_ = 0;                // first character of chunk_ not handed out yet
  std::size_t end_ = 0;                 // end of the characters read into chunk_
  bool started_ = false;                // the first characters have been read
  text_read status_ = text_read::more;  // anything but more: the source is not read again
};

}  // namespace ttyprog
