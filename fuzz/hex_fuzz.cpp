// Fuzz entry for the HEX record decoder, the line reader and the loader. The input is fed whole to
// the loader as a stream; the line reader's pieces are compared with those of a plain
// character-at-a-time reading of the same text; and the input, cut at its first zero byte, goes to
// the record decoder. Any broken invariant
// aborts, so both libFuzzer and the replay driver report it.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/hex_image.h"
#include "image/text_line.h"

namespace {

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void check_record(const std::vector<char>& text) {
  std::array<std::uint8_t, ttyprog::HEX_RECORD_BYTES> data{};
  std::uint16_t address = 0;
  const int result = ttyprog::parse_hex_record(data, address, text.data());
  require(result >= ttyprog::HEX_BAD_CHECKSUM && result <= 255);
  if (result > 0) {
    require(std::strlen(text.data()) == 2 * static_cast<std::size_t>(result) + 10);
  }
}

void check_load(std::vector<char>& text, std::size_t size) {
  std::FILE* stream = fmemopen(text.data(), size, "r");
  if (stream == nullptr) {
    return;
  }
  ttyprog::program_image image{};
  const int words = ttyprog::load_hex_image(image, stream);
  std::fclose(stream);

  require(words >= -1 && words <= static_cast<int>(ttyprog::IMAGE_WORDS));
  for (std::size_t i = 0; i < ttyprog::IMAGE_WORDS; ++i) {
    require(image[i] <= 0xFFFF);
    if (words >= 0 && i >= static_cast<std::size_t>(words)) {
      require(image[i] == ttyprog::BLANK_WORD);
    }
  }
}

// The pieces a text-mode fgets into a HEX_LINE_MAX buffer hands out, one character at a time: a
// CR directly before LF is part of the line end and takes no room; at most HEX_LINE_MAX - 1
// characters a piece, ending after a newline.
std::vector<std::vector<char>> reference_pieces(const std::vector<char>& text, std::size_t size) {
  std::vector<std::vector<char>> pieces;
  std::vector<char> piece;
  for (std::size_t i = 0; i < size; ++i) {
    char c = text[i];
    if (c == '\r' && i + 1 < size && text[i + 1] == '\n') {
      c = '\n';
      ++i;
    }
    piece.push_back(c);
    if (c == '\n' || piece.size() == ttyprog::HEX_LINE_MAX - 1) {
      pieces.push_back(piece);
      piece.clear();
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}

void check_pieces(std::vector<char>& text, std::size_t size) {
  std::FILE* stream = fmemopen(text.data(), size, "r");
  if (stream == nullptr) {
    return;
  }
  std::vector<std::vector<char>> pieces;
  std::array<char, ttyprog::HEX_LINE_MAX> buffer{};
  ttyprog::text_line_reader reader(stream);
  while (const std::size_t n = reader.read(buffer)) {
    require(buffer[n] == '\0');
    pieces.emplace_back(buffer.data(), buffer.data() + n);
  }
  std::fclose(stream);
  require(pieces == reference_pieces(text, size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  std::vector<char> text(size + 1, '\0');  // writable for fmemopen, zero-terminated for the decoder
  if (size != 0) {
    std::memcpy(text.data(), bytes, size);
  }
  check_load(text, size);
  check_pieces(text, size);
  check_record(text);
  return 0;
}
