// Reading the commands' parameters.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace ttyprog {

// A parameter that is wholly one hexadecimal number: an optional 0x or 0X prefix and at least one
// digit, no sign, no blanks, no trailing characters, and a value of at most `max`.
std::optional<std::uint32_t> parse_hex_param(const char* text, std::uint32_t max);

// The word count of readprogram: read as an unsigned decimal the lenient way of "%u" (leading
// blanks and a sign accepted, a minus sign wrapping around, trailing characters ignored);
// `fallback` when the text does not begin with a number.
std::uint32_t parse_word_count(const char* text, std::uint32_t fallback);

// The word count of readhex: plain decimal digits only, at least one, of a value that fits 32
// bits; no sign, no blanks, no prefix, no trailing characters. A backup must hold what was asked.
std::optional<std::uint32_t> parse_decimal_count(const char* text);

// The link's time bound from TTYPROG_TIMEOUT: seconds, a whole or decimal number (up to three
// places, "0.25"), more than 0 and at most MAX_TIMEOUT; nothing else.
inline constexpr std::chrono::seconds MAX_TIMEOUT{3600};
std::optional<std::chrono::milliseconds> parse_timeout(const char* text);

}  // namespace ttyprog
