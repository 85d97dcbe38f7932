#include "image/text_line.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace ttyprog {
namespace {

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

text_chunk read_stream(void* context, std::span<char> into) {
  auto* stream = static_cast<std::FILE*>(context);
  const std::size_t count = std::fread(into.data(), 1, into.size(), stream);
  // fread fills the buffer unless the stream ends or fails first.
  if (std::ferror(stream) != 0) return {text_read::failed, count};
  return {count < into.size() ? text_read::end : text_read::more, count};
}

}  // namespace

text_source stream_source(std::FILE* stream) { return {read_stream, stream}; }

bool text_line_reader::refill() {
  next_ = 0;
  end_ = 0;
  // Once the text ended it is not asked again: a terminal reports its end (Ctrl-D) once, and
  // asking again would wait for a second one.
  while (status_ == text_read::more) {
    if (stop_ != nullptr && stop_()) {
      status_ = text_read::stopped;
      break;
    }
    const text_chunk got = source_.read(source_.context, std::span<char>(chunk_).subspan(end_));
    end_ += got.count;
    status_ = got.status;
    if (!started_ && end_ > 0) {
      // A byte order mark may come in pieces from a pipe: at the start, enough is read to tell.
      const std::string_view read(chunk_.data(), end_);
      const bool part_of_mark = read.size() < UTF8_BOM.size() && UTF8_BOM.starts_with(read);
      if (part_of_mark && status_ == text_read::more) continue;
      started_ = true;
      if (read.starts_with(UTF8_BOM)) next_ = UTF8_BOM.size();
    }
    if (next_ < end_) break;
  }
  return next_ < end_;
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
  // A text that failed or was stopped part way is no text to load.
  if (status_ == text_read::failed || status_ == text_read::stopped) return 0;
  return count;
}

}  // namespace ttyprog
