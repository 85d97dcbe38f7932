#include "sim_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <string>

namespace ttyprog::sim {

bool trace_log::open(std::string_view path) {
  const std::string name(path);
  fd_.reset(::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  return static_cast<bool>(fd_);
}

void trace_log::session_line(std::uint64_t number, bool ended) {
  std::array<char, 48> text{'#', ' ', 's', 'e', 's', 's', 'i', 'o', 'n', ' '};
  auto [end, ec] = std::to_chars(text.data() + 10, text.data() + 31, number);
  (void)ec;  // 20 digits always fit
  for (const char c : std::string_view(ended ? " ended\n" : "\n")) *end++ = c;
  line({text.data(), static_cast<std::size_t>(end - text.data())});
}

void trace_log::word_line(char direction, std::uint16_t word) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  const std::array<char, 7> text{direction,
                                 ' ',
                                 DIGITS[(word >> 12) & 0xF],
                                 DIGITS[(word >> 8) & 0xF],
                                 DIGITS[(word >> 4) & 0xF],
                                 DIGITS[word & 0xF],
                                 '\n'};
  line({text.data(), text.size()});
}

// One write per line: with O_APPEND a line is never torn, and nothing waits in a buffer.
void trace_log::line(std::string_view text) {
  if (!fd_) return;
  while (!text.empty()) {
    ssize_t n = ::write(fd_.get(), text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a trace that cannot be written is not worth stopping the line for
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace ttyprog::sim
