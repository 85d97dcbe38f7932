#include "image/text_line.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace ttyprog {
namespace {

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

}  // namespace

bool text_line_reader::refill() {
  next_ = 0;
  end_ = std::fread(chunk_.data(), 1, chunk_.size(), stream_);
  // fread fills the chunk unless the stream ends first, so a mark at the start is whole in it.
  if (!started_) {
    started_ = true;
    if (std::string_view(chunk_.data(), end_).starts_with(UTF8_BOM)) {
      next_ = UTF8_BOM.size();
    }
  }
  return end_ > 0;
}

std::size_t text_line_reader::read(std::span<char> buffer) {
  const std::size_t limit = buffer.size() - 1;
  std::size_t count = 0;
  while (count < limit) {
    if (next_ == end_ && !refill()) break;
    // Ordinary characters go over in one copy, up to the next CR or LF.
    const char* from = chunk_.data() + next_;
    const std::size_t span = std::min(end_ - next_, limit - count);
    std::size_t plain = 0;
    while (plain < span && from[plain] != '\n' && from[plain] != '\r') ++plain;
    std::memcpy(buffer.data() + count, from, plain);
    count += plain;
    next_ += plain;
    if (plain == span) continue;  // the piece is full, or the chunk is used up

    const char c = chunk_[next_++];
    if (c == '\r') {
      // CR LF is one line end and takes no room in the buffer; a CR before anything else stays.
      if (next_ == end_) refill();
      if (next_ < end_ && chunk_[next_] == '\n') {
        ++next_;
        buffer[count++] = '\n';
        break;
      }
      buffer[count++] = '\r';
      continue;
    }
    buffer[count++] = '\n';
    break;
  }
  buffer[count] = '\0';
  if (std::ferror(stream_) != 0) return 0;
  return count;
}

}  // namespace ttyprog
