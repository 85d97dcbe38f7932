// Fuzz entry for the HEX record decoders, the line reader and the loader. The input is fed whole to
// the loader as a stream; the line reader's pieces are compared with those of a plain
// character-at-a-time reading of the same text; and the input, cut at its first zero byte, goes to
// the record decoders. Any broken invariant
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
  std::uint32_t base = 1;
  const int address_result = ttyprog::parse_hex_address_record(base, text.data());
  require(address_result >= ttyprog::HEX_BAD_CHECKSUM && address_result <= 1);
  require(address_result > 0 ? std::strlen(text.data()) == 14 && base % 16 == 0 : base == 1);
  require(address_result <= 0 || result == 0);  // never both a data and an address record
}

void check_load(std::vector<char>& text, std::size_t size) {
  std::FILE* stream = fmemopen(text.data(), size, "r");
  if (stream == nullptr) {
    return;
  }
  ttyprog::program_image image{};
  const ttyprog::hex_load_report report = ttyprog::load_hex_image(image, stream);
  std::fclose(stream);

  const int words = report.words;
  require(words >= -1 && words <= static_cast<int>(ttyprog::IMAGE_WORDS));
  require((words == -1) == (report.first_fault != ttyprog::hex_fault::none));
  require((report.first_fault_line == 0) == (report.first_fault == ttyprog::hex_fault::none));
  require(report.first_fault_line <= size + 1);
  require(report.skipped_records <= report.data_records);
  require(report.skipped_records == 0 ? report.first_skipped_address == 0
                                      : report.first_skipped_address >= 2 * ttyprog::IMAGE_WORDS);
  for (std::size_t i = 0; i < ttyprog::IMAGE_WORDS; ++i) {
    require(image[i] <= 0xFFFF);
    if (words >= 0 && i >= static_cast<std::size_t>(words)) {
      require(image[i] == ttyprog::BLANK_WORD);
    }
  }
}

// The pieces a text-mode fgets into a HEX_LINE_MAX buffer hands out, one character at a time: a
// UTF-8 byte order mark at the very start is not part of the text; a CR directly before LF is part
// of the line end and takes no room; at most HEX_LINE_MAX - 1 characters a piece, ending after a
// newline.
std::vector<std::vector<char>> reference_pieces(const std::vector<char>& text, std::size_t size) {
  std::vector<std::vector<char>> pieces;
  std::vector<char> piece;
  const bool bom = size >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0;
  for (std::size_t i = bom ? 3 : 0; i < size; ++i) {
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
