#include "image/text_line.h"

namespace ttyprog {

std::size_t read_text_line(std::FILE* stream, std::span<char> buffer) {
  const std::size_t limit = buffer.size() - 1;
  std::size_t count = 0;
  while (count < limit) {
    int c = std::getc(stream);
    if (c == EOF) {
      break;
    }
    if (c == '\r') {
      // CR LF is one line end; a CR before anything else stays in the line. The CR of a CR LF
      // takes no room in the buffer.
      const int next = std::getc(stream);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, stream);
      }
    }
    buffer[count++] = static_cast<char>(c);
    if (c == '\n') {
      break;
    }
  }
  buffer[count] = '\0';
  if (std::ferror(stream) != 0) {
    return 0;
  }
  return count;
}

}  // namespace ttyprog
