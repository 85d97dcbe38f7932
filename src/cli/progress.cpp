#include "cli/progress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "wire.h"

#include "platform/console.h"

namespace ttyprog {

namespace {

constexpr unsigned DEFAULT_COLUMNS = 80;

progress_line* shown = nullptr;  // the line on the terminal; one at a time

// Writes `text` over the line now shown, blanking what an older, longer line leaves behind:
// "\r" text, then for a shorter text the spaces and "\r" text again. One write, so the terminal
// never shows half a line; an empty text erases the line and leaves the cursor at its start.
void overwrite(const char* text, std::size_t length, std::size_t old_length) {
  std::array<char, sizeof(progress_text) * 3 + 2> out{};
  std::size_t used = 0;
  out[used++] = '\r';
  std::memcpy(out.data() + used, text, length);
  used += length;
  if (old_length > length) {
    std::memset(out.data() + used, ' ', old_length - length);
    used += old_length - length;
    // Back to the end of the new text (the start of the line when it is empty).
    out[used++] = '\r';
    std::memcpy(out.data() + used, text, length);
    used += length;
  }
  std::fwrite(out.data(), 1, used, stderr);
  std::fflush(stderr);
}

}  // namespace

progress_text format_progress(const char* action, std::uint64_t done, std::uint64_t total,
                              std::chrono::milliseconds elapsed, std::chrono::milliseconds left,
                              unsigned columns) {
  progress_text text{};
  const std::uint64_t percent = total == 0 ? 100 : done * 100 / total;
  const auto seconds = static_cast<unsigned long long>(elapsed.count() / 1000);
  // Rounded up: a line that says 0:00 left is done.
  const auto left_seconds = static_cast<unsigned long long>((left.count() + 999) / 1000);
  std::snprintf(text.data(), text.size(),
                "%s %llu/%llu words %3llu%%  %llu:%02llu, %llu:%02llu left", action,
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(percent), seconds / 60, seconds % 60,
                left_seconds / 60, left_seconds % 60);
  const std::size_t fits = (columns == 0 ? DEFAULT_COLUMNS : columns) - 1;
  if (fits < text.size()) text[fits] = '\0';
  return text;
}

std::chrono::milliseconds time_left(std::uint64_t done, std::uint64_t total,
                                    std::chrono::milliseconds elapsed) {
  const std::uint64_t remaining = total > done ? total - done : 0;
  const auto line_time = std::chrono::duration_cast<std::chrono::milliseconds>(
      BYTE_TIME * 2 * static_cast<std::int64_t>(std::min<std::uint64_t>(remaining, 1ULL << 40)));
  if (done == 0) return line_time;
  const auto measured = std::chrono::milliseconds(
      static_cast<std::int64_t>(static_cast<double>(elapsed.count()) / static_cast<double>(done) *
                                static_cast<double>(remaining)));
  return std::max(line_time, measured);
}

progress_line::progress_line(const char* action, std::uint64_t total)
    : action_(action), total_(total), enabled_(total > 0 && stderr_is_terminal()),
      start_(clock::now()) {
  if (!enabled_) return;
  shown = this;
  columns_ = stderr_columns();
  draw(0);
}

progress_line::~progress_line() {
  erase();
  if (shown == this) shown = nullptr;
}

void erase_progress() {
  if (shown != nullptr) shown->erase();
}

void progress_line::advance(std::uint64_t done) {
  if (!enabled_ || done >= total_) return;  // a finished line is erased right away anyway
  if (clock::now() - last_draw_ < REDRAW_INTERVAL) return;
  draw(done);
}

void progress_line::draw(std::uint64_t done) {
  const auto now = clock::now();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_);
  const progress_text text =
      format_progress(action_, done, total_, elapsed, time_left(done, total_, elapsed), columns_);
  // Lines the command already printed go out first, so the indicator always sits below them.
  std::fflush(stdout);
  const std::size_t length = std::strlen(text.data());
  overwrite(text.data(), length, drawn_length_);
  drawn_length_ = length;
  last_draw_ = now;
}

void progress_line::erase() {
  if (drawn_length_ == 0) return;
  overwrite("", 0, drawn_length_);
  drawn_length_ = 0;
}

}  // namespace ttyprog
