// Fuzz entry for the HEX record decoder and the loader. The input is fed whole to the loader as a
// stream, and once more, cut at its first zero byte, to the record decoder. Any broken invariant
// aborts, so both libFuzzer and the replay driver report it.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/hex_image.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  std::vector<char> text(size + 1, '\0');  // writable for fmemopen, zero-terminated for the decoder
  if (size != 0) {
    std::memcpy(text.data(), bytes, size);
  }
  check_load(text, size);
  check_record(text);
  return 0;
}
