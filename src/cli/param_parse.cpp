#include "cli/param_parse.h"

#include <cstdio>

namespace ttyprog {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::uint32_t> parse_hex_param(const char* text, std::uint32_t max) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  if (*text == '\0') return std::nullopt;
  std::uint64_t value = 0;
  for (; *text != '\0'; ++text) {
    int digit = hex_digit(*text);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint64_t>(digit);
    if (value > max) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::uint32_t parse_word_count(const char* text, std::uint32_t fallback) {
  unsigned count = fallback;
  if (std::sscanf(text, "%u", &count) != 1) return fallback;
  return count;
}

std::optional<std::uint32_t> parse_decimal_count(const char* text) {
  if (*text == '\0') return std::nullopt;
  std::uint64_t value = 0;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(*text - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::chrono::milliseconds> parse_timeout(const char* text) {
  std::int64_t ms = 0;
  int whole_digits = 0;
  for (; *text >= '0' && *text <= '9'; ++text, ++whole_digits) {
    ms = ms * 10 + (*text - '0');
    if (ms > MAX_TIMEOUT.count()) return std::nullopt;
  }
  ms *= 1000;
  int places = 0;
  if (*text == '.') {
    for (++text; *text >= '0' && *text <= '9'; ++text, ++places) {
      if (places == 3) return std::nullopt;
      static constexpr int PLACE_MS[] = {100, 10, 1};
      ms += (*text - '0') * PLACE_MS[places];
    }
    if (places == 0) return std::nullopt;
  }
  if (*text != '\0' || (whole_digits == 0 && places == 0)) return std::nullopt;
  if (ms <= 0 || ms > std::chrono::milliseconds(MAX_TIMEOUT).count()) return std::nullopt;
  return std::chrono::milliseconds(ms);
}

}  // namespace ttyprog
