// Intel HEX loader: record decoding, line pieces, and whole loads on in-memory streams.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "image/hex_image.h"
#include "image/text_line.h"

namespace ttyprog {
namespace {

using namespace std::string_literals;  // "..."s keeps embedded zero bytes

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// A read-only stream over `text`, which must outlive it.
file_ptr memory_stream(std::string& text) {
  return file_ptr(fmemopen(text.data(), text.size(), "r"));
}

using word_list = std::vector<std::pair<std::size_t, std::uint32_t>>;

program_image image_with(const word_list& words) {
  program_image image{};
  image.fill(BLANK_WORD);
  for (const auto& [address, value] : words) {
    image[address] = value;
  }
  return image;
}

// Word addresses whose value differs from the expected image, for readable failures.
std::vector<std::size_t> differing_words(const program_image& actual,
                                         const program_image& expected) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < IMAGE_WORDS; ++i) {
    if (actual[i] != expected[i]) {
      out.push_back(i);
    }
  }
  return out;
}

const std::string RECORD = ":0400100001020304E2";  // words 8 and 9: 0x0201, 0x0403
const word_list RECORD_WORDS = {{8, 0x0201}, {9, 0x0403}};
const std::string RECORD_100 = ":0200C8003412F0";  // word 100: 0x1234
const std::string BOM = "\xEF\xBB\xBF";
// Words 0 to 7, then a base of 0x10000 and a word for byte 0x1000E: beyond program memory.
const std::string ELA_HEX =
    ":1000000089278B2972015020AF02863E9A16193A31\n:020000040001F9\n:02000E00723F3F\n:00000001FF\n";
const word_list ELA_WORDS = {{0, 0x2789}, {1, 0x298B}, {2, 0x0172}, {3, 0x2050},
                             {4, 0x02AF}, {5, 0x3E86}, {6, 0x169A}, {7, 0x3A19}};

TEST(ParseHexPair, DecodesDigitsAndCountsOtherCharactersAsZero) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"00", 0x00}, {"09", 0x09}, {"A5", 0xA5}, {"ff", 0xFF}, {"Fa", 0xFA},
      {"G1", 0x01}, {"1G", 0x10}, {" 7", 0x07}, {"7 ", 0x70}, {"::", 0x00},
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(parse_hex_pair(text), value) << text;
  }
}

struct record_case {
  const char* text;
  int result;
  std::uint16_t address;           // checked when result > 0
  std::vector<std::uint8_t> data;  // checked when result > 0
};

TEST(ParseHexRecord, ResultsInTheOrderOfItsTests) {
  const std::vector<record_case> cases = {
      {"0400100001020304E2", 4, 0x0010, {1, 2, 3, 4}},
      {"0400100001020304e2", 4, 0x0010, {1, 2, 3, 4}},
      {"02FFFE003412BB", 2, 0xFFFE, {0x34, 0x12}},
      {"0400100001020304E3", HEX_BAD_CHECKSUM, 0, {}},
      {"040010000102030462", HEX_BAD_CHECKSUM, 0, {}},  // the checksum's top bit flipped
      {"00001000F0", 0, 0, {}},                         // empty data record, good checksum
      {"00001000F1", HEX_BAD_CHECKSUM, 0, {}},          // empty data record, bad checksum
      {"00000001FE", 0, 0, {}},                         // other types: checksum not tested
      {"0400000500000000FF", 0, 0, {}},
      {"0000000400FA", HEX_MALFORMED, 0, {}},           // length is tested before the type
      {"0000000", HEX_MALFORMED, 0, {}},                // shorter than 8
      {"040010000", HEX_MALFORMED, 0, {}},              // odd
      {"0500100001020304E1", HEX_MALFORMED, 0, {}},     // count says 5, 4 bytes follow
      {"0G00100001020304E2", HEX_MALFORMED, 0, {}},     // G counts as 0 in the count
      {"0400100G01020304E2", 4, 0x0010, {1, 2, 3, 4}},  // type 0G decodes as 00
      {"04001000 1020304E2", 4, 0x0010, {1, 2, 3, 4}},  // blank decodes as 0
      {"0400100001020304E2 ", HEX_MALFORMED, 0, {}},    // nothing is stripped
      {"", HEX_MALFORMED, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::array<std::uint8_t, HEX_RECORD_BYTES> data{};
    std::uint16_t address = 0xAAAA;
    ASSERT_EQ(parse_hex_record(data, address, c.text), c.result);
    if (c.result > 0) {
      EXPECT_EQ(address, c.address);
      EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), data.begin()));
    }
  }
}

TEST(ParseHexAddressRecord, TwoDataBytesAndAGoodChecksumSetTheBase) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"020000040001F9", 1},
      {"020000021000EC", 1},  // both give 0x10000
      {"0400100001020304E2", 0},
      {"00000001FF", 0},  // other types
      {"020000040001FA", HEX_BAD_CHECKSUM},
      {"03000004000100F8", HEX_MALFORMED},  // three data bytes
      {"0100000200FD", HEX_MALFORMED},      // one
      {"0200000400", HEX_MALFORMED},        // length does not match the count
  };
  for (const auto& [text, result] : cases) {
    SCOPED_TRACE(text);
    std::uint32_t base = 0xAAAA;
    ASSERT_EQ(parse_hex_address_record(base, text), result);
    EXPECT_EQ(base, result > 0 ? 0x10000u : 0xAAAAu);
  }
}

TEST(ParseHexRecord, TakesAFullRecordOf255Bytes) {
  std::string text = "FF000000" + std::string(2 * 255, '0');
  text += "01";  // 0xFF + checksum 0x01 sums to 0 modulo 256
  std::array<std::uint8_t, HEX_RECORD_BYTES> data{};
  data.fill(0x55);
  std::uint16_t address = 1;
  EXPECT_EQ(parse_hex_record(data, address, text.c_str()), 255);
  EXPECT_EQ(address, 0);
  EXPECT_EQ(data[254], 0);
  EXPECT_EQ(data[255], 0x55);
}

struct pieces_case {
  const char* name;
  std::string input;
  std::vector<std::string> pieces;
};

std::vector<std::string> pieces_of(text_line_reader& reader) {
  std::vector<std::string> pieces;
  std::array<char, HEX_LINE_MAX> buffer{};
  while (const std::size_t n = reader.read(buffer)) {
    pieces.emplace_back(buffer.data(), n);
    EXPECT_EQ(buffer[n], '\0');
  }
  return pieces;
}

std::vector<std::string> read_pieces(std::string input) {
  const file_ptr stream = memory_stream(input);
  text_line_reader reader(stream.get());
  return pieces_of(reader);
}

// A source that hands out one character a read, as a pipe written byte by byte does; `stop_at`
// reads in, it says the user asked to stop.
struct trickle {
  std::string text;
  std::size_t next = 0;
  std::size_t stop_at = std::string::npos;

  static text_chunk read(void* context, std::span<char> into) {
    auto* self = static_cast<trickle*>(context);
    if (self->next == self->stop_at) return {text_read::stopped, 0};
    if (self->next == self->text.size()) return {text_read::end, 0};
    into[0] = self->text[self->next++];
    return {text_read::more, 1};
  }
  text_source source() { return {read, this}; }
};

std::vector<std::string> trickled_pieces(std::string input) {
  trickle source{std::move(input)};
  text_line_reader reader(source.source());
  std::vector<std::string> pieces = pieces_of(reader);
  EXPECT_EQ(reader.status(), text_read::end);
  return pieces;
}

TEST(ReadTextLine, LineEndsAndPieceBoundaries) {
  const std::string x1021(1021, 'x');
  const std::string x1022(1022, 'x');
  const std::string x1023(1023, 'x');
  const std::vector<pieces_case> cases = {
      {"empty", "", {}},
      {"lf", "ab\ncd\n", {"ab\n", "cd\n"}},
      {"crlf", "ab\r\ncd\r\n", {"ab\n", "cd\n"}},
      {"lone cr stays", "a\rb\n", {"a\rb\n"}},
      {"cr cr lf", "a\r\r\n", {"a\r\n"}},
      {"cr at end of stream", "a\r", {"a\r"}},
      {"no final newline", "abc", {"abc"}},
      {"empty lines", "\n\r\n\n", {"\n", "\n", "\n"}},
      {"zero byte kept", "a\0b\n"s, {"a\0b\n"s}},
      {"1022 and lf whole", x1022 + "\nz", {x1022 + "\n", "z"}},
      {"1022 and crlf whole", x1022 + "\r\nz", {x1022 + "\n", "z"}},
      {"1023 splits", x1023 + "\n", {x1023, "\n"}},
      {"1023 and crlf splits", x1023 + "\r\n", {x1023, "\n"}},
      {"lone cr as 1023rd keeps the next", x1022 + "\ry\n", {x1022 + "\r", "y\n"}},
      {"cr cr lf at the boundary", x1021 + "\r\r\n", {x1021 + "\r\n"}},
      {"long line in three pieces",
       std::string(2100, 'y') + "\n",
       {std::string(1023, 'y'), std::string(1023, 'y'), std::string(54, 'y') + "\n"}},
      {"bom at the start is not in the line", BOM + x1022 + "\nz", {x1022 + "\n", "z"}},
      {"bom alone", BOM, {}},
      {"bom elsewhere stays", "a\n" + BOM + "b\n", {"a\n", BOM + "b\n"}},
      {"part of a bom stays",
       "\xEF\xBB"
       "a\n",
       {"\xEF\xBB"
        "a\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_pieces(c.input), c.pieces);
    // The same pieces when the text comes one character at a time: a mark or a CR LF split
    // between reads is still whole.
    EXPECT_EQ(trickled_pieces(c.input), c.pieces);
  }
}

// The reader takes the stream in 16 KiB chunks: a CR LF split between two chunks is still one
// line end, and a lone CR as the last byte of a chunk still stays in the line.
TEST(ReadTextLine, LineEndsAcrossTheReadersChunks) {
  constexpr std::size_t CHUNK = 16384;
  std::string lines;
  std::vector<std::string> line_pieces;
  while (lines.size() + 100 <= CHUNK - 1) {
    lines += std::string(99, 'x') + "\n";
    line_pieces.push_back(std::string(99, 'x') + "\n");
  }
  const std::string tail(CHUNK - 1 - lines.size(), 'y');  // the CR is the chunk's last byte
  struct chunk_case {
    const char* name;
    std::string after_cr;
    std::vector<std::string> last_pieces;
  };
  const chunk_case cases[] = {
      {"crlf split", "\nz\n", {tail + "\n", "z\n"}},
      {"lone cr at the end of a chunk", "q\n", {tail + "\rq\n"}},
      {"cr at the end of the stream", "", {tail + "\r"}},
  };
  for (const chunk_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> expected = line_pieces;
    expected.insert(expected.end(), c.last_pieces.begin(), c.last_pieces.end());
    EXPECT_EQ(read_pieces(lines + tail + "\r" + c.after_cr), expected);
  }
}

struct load_case {
  const char* name;
  std::string text;
  int result;
  word_list words;  // every other word must be blank
};

void PrintTo(const load_case& c, std::ostream* out) { *out << c.name; }

class LoadHexImage : public ::testing::TestWithParam<load_case> {};

TEST_P(LoadHexImage, ResultAndImage) {
  load_case c = GetParam();
  const file_ptr stream = memory_stream(c.text);
  ASSERT_NE(stream, nullptr);
  program_image image{};
  image.fill(0x1111);  // the loader must reset every word
  EXPECT_EQ(load_hex_image(image, stream.get()).words, c.result);
  EXPECT_EQ(differing_words(image, image_with(c.words)), std::vector<std::size_t>{});
}

const std::string X1022(1022, 'x');
const std::string X1023(1023, 'x');

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Records, LoadHexImage,
    ::testing::Values(
        load_case{"empty_stream", "", 0, {}},
        load_case{"one_record", RECORD + "\n", 10, RECORD_WORDS},
        load_case{"lower_case_digits", ":0400100001020304e2\n", 10, RECORD_WORDS},
        load_case{"no_final_newline", RECORD, 10, RECORD_WORDS},
        load_case{"one_word_at_100", RECORD_100 + "\n", 101, {{100, 0x1234}}},
        load_case{"bad_checksum", ":0400100001020304E3\n", -1, {}},
        load_case{"odd_address", ":0400110001020304E1\n", -1, {}},
        load_case{"odd_byte_count", ":03001000010203E7\n", -1, {}},
        load_case{"record_of_9_characters", ":040010000\n", -1, {}},
        load_case{"count_longer_than_record", ":0500100001020304E1\n", -1, {}},
        load_case{"trailing_blank", RECORD + " \n", -1, {}},
        load_case{"crlf", RECORD + "\r\n", 10, RECORD_WORDS},
        load_case{"cr_blank_lf", RECORD + "\r \n", -1, {}},
        load_case{"empty_data_record", ":00001000F0\n", 0, {}},
        load_case{"empty_data_record_bad_checksum", ":00001000F1\n", -1, {}},
        load_case{"end_record_with_bad_checksum_after_data", RECORD + "\n:00000001FE\n", 10,
                  RECORD_WORDS},
        load_case{"data_after_end_record", ":00000001FF\n" + RECORD + "\n", 10, RECORD_WORDS},
        load_case{"linear_base_puts_data_beyond_memory", ELA_HEX, 8, ELA_WORDS},
        load_case{"segment_base_moves_data", ":020000020001FB\n:0400000001020304F2\n", 10,
                  RECORD_WORDS},
        load_case{"base_0_as_without", ":020000040000FA\n:020000020000FC\n" + RECORD + "\n", 10,
                  RECORD_WORDS},
        load_case{"latest_address_record_counts",
                  ":020000040001F9\n:020000020000FC\n" + RECORD + "\n", 10, RECORD_WORDS},
        load_case{"base_record_crossing_the_end", ":0200000203FFFA\n:08000C00112233445566778888\n",
                  8192, {{8190, 0x2211}, {8191, 0x4433}}},
        load_case{"address_record_of_three_bytes", ":03000004000100F8\n" + RECORD + "\n", -1,
                  RECORD_WORDS},
        load_case{"address_record_of_one_byte", ":0100000200FD\n" + RECORD + "\n", -1,
                  RECORD_WORDS},
        load_case{"address_record_bad_checksum", ":020000040001FA\n" + RECORD + "\n", -1,
                  RECORD_WORDS},
        load_case{"bom_at_start", BOM + RECORD + "\n", 10, RECORD_WORDS},
        load_case{"bom_on_a_later_line", "\n" + BOM + RECORD + "\n", 0, {}},
        load_case{"other_type_malformed_length", ":0000000400FA\n" + RECORD + "\n", -1,
                  RECORD_WORDS},
        load_case{"end_of_memory", ":083FFC00112233445566778859\n", 8192,
                  {{8190, 0x2211}, {8191, 0x4433}}},
        load_case{"beyond_memory", ":02400000341278\n", 0, {}},
        load_case{"beyond_memory_top_address", ":02FFFE003412BB\n" + RECORD + "\n", 10,
                  RECORD_WORDS},
        load_case{"full_16_bit_word", ":02000000FFFF00\n", 1, {{0, 0xFFFF}}},
        load_case{"text_and_blank_lines", "; from the assembler\n\n" + RECORD + "\n\n\r\n" +
                                              RECORD_100 + "\n",
                  101, {{8, 0x0201}, {9, 0x0403}, {100, 0x1234}}},
        load_case{"blank_before_colon", " " + RECORD + "\n", 0, {}},
        load_case{"blank_in_place_of_zero", ":04001000 1020304E2\n", 10, RECORD_WORDS},
        load_case{"type_0G_is_data", ":0400100G01020304E2\n", 10, RECORD_WORDS},
        load_case{"later_record_overwrites", RECORD + "\n:02001000AABB89\n", 10,
                  {{8, 0xBBAA}, {9, 0x0403}}},
        load_case{"count_is_highest_not_last", RECORD_100 + "\n" + RECORD + "\n", 101,
                  {{8, 0x0201}, {9, 0x0403}, {100, 0x1234}}},
        load_case{"bad_record_then_good", ":0400100001020304E3\n" + RECORD_100 + "\n", -1,
                  {{100, 0x1234}}},
        load_case{"good_record_then_bad", RECORD_100 + "\n:0400110001020304E1\n", -1,
                  {{100, 0x1234}}},
        load_case{"zero_byte_ends_record", RECORD + "\0junk\n"s, 10, RECORD_WORDS},
        load_case{"zero_byte_inside_record", ":0400\0" "100001020304E2\n"s, -1, {}},
        load_case{"record_in_second_piece", X1023 + RECORD + "\n", 10, RECORD_WORDS},
        load_case{"colon_as_1023rd_character_is_cut_off", X1022 + RECORD + "\n", 0, {}},
        load_case{"long_line_with_colon_fails_length", ":" + std::string(1100, '0') + "\n", -1,
                  {}}),
    [](const ::testing::TestParamInfo<load_case>& param) { return std::string(param.param.name); });
// clang-format on

struct report_case {
  const char* name;
  std::string text;
  hex_load_report report;
};

TEST(LoadHexImageReport, FirstFaultAndSkippedRecords) {
  using enum hex_fault;
  const report_case cases[] = {
      {"clean", RECORD + "\n" + RECORD_100 + "\n", {101, 0, none, 2, 0, 0}},
      {"length", "; text\n" + RECORD + "\n:040010000\n", {-1, 3, length, 1, 0, 0}},
      {"checksum", "\r\n:0400100001020304E3\r\n", {-1, 2, checksum, 0, 0, 0}},
      {"odd_address", ":0400110001020304E1\n", {-1, 1, odd_address, 0, 0, 0}},
      {"odd_byte_count", RECORD + "\n:03001000010203E7\n", {-1, 2, odd_byte_count, 1, 0, 0}},
      {"bad_address_record",
       ELA_HEX + ":020000040001FA\n",
       {-1, 5, bad_address_record, 2, 1, 0x1000E}},
      {"first_fault_wins",
       ":0400100001020304E3\n:0400110001020304E1\n",
       {-1, 1, checksum, 0, 0, 0}},
      {"long_line_counts_once", X1023 + "xx\n:0400100001020304E3\n", {-1, 2, checksum, 0, 0, 0}},
      {"bom_is_no_line", BOM + "\n:0400100001020304E3\n", {-1, 2, checksum, 0, 0, 0}},
      {"skipped", ELA_HEX + ":02400000341278\n", {8, 0, none, 3, 2, 0x1000E}},
      {"top_of_the_address_space",
       ":02000004FFFFFC\n:02FFFE003412BB\n",
       {0, 0, none, 1, 1, 0xFFFFFFFE}},
  };
  for (const report_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = c.text;
    const file_ptr stream = memory_stream(text);
    program_image image{};
    const hex_load_report got = load_hex_image(image, stream.get());
    EXPECT_EQ(got.words, c.report.words);
    EXPECT_EQ(got.first_fault, c.report.first_fault);
    EXPECT_EQ(got.first_fault_line, c.report.first_fault_line);
    EXPECT_EQ(got.data_records, c.report.data_records);
    EXPECT_EQ(got.skipped_records, c.report.skipped_records);
    EXPECT_EQ(got.first_skipped_address, c.report.first_skipped_address);
  }
}

TEST(LoadHexImageReport, SaysWhetherAWellFormedEndOfFileRecordCame) {
  const std::pair<std::string, bool> cases[] = {
      {RECORD + "\n:00000001FF\n", true},
      {RECORD + "\r\n:00000001ff\r\n", true},
      {":00000001FF\n" + RECORD + "\n", true},  // data after it is still loaded
      {RECORD + "\n", false},
      {"", false},
      {RECORD + "\n:00000001FE\n", false},  // bad checksum
      {RECORD + "\n:00000001\n", false},    // cut short
      {RECORD + "\n; :00000001FF\n", false},
  };
  for (const auto& [text, end_record] : cases) {
    SCOPED_TRACE(text);
    std::string copy = text;
    const file_ptr stream = memory_stream(copy);
    program_image image{};
    EXPECT_EQ(load_hex_image(image, stream.get()).end_record, end_record);
  }
}

// The stop predicate of the load, asked before each read of the source.
int reads_before_stop = 0;
bool stop_after_reads() { return reads_before_stop-- <= 0; }

TEST(LoadHexImageReport, AStopEndsTheLoadOfATextThatNeverEnds) {
  // A source that hands out 16 KiB of zero bytes a read, for ever (/dev/zero).
  const text_source zeros{[](void*, std::span<char> into) {
                            std::fill(into.begin(), into.end(), '\0');
                            return text_chunk{text_read::more, into.size()};
                          },
                          nullptr};
  reads_before_stop = 5;
  program_image image{};
  const hex_load_report report = load_hex_image(image, zeros, stop_after_reads);
  EXPECT_TRUE(report.stopped);
  EXPECT_EQ(report.words, -1);
  EXPECT_EQ(report.first_fault, hex_fault::none);
}

TEST(LoadHexImageReport, AStopWhileTheSourceWaitsEndsTheLoad) {
  trickle source{RECORD + "\n" + RECORD_100 + "\n:00000001FF\n", 0, 25};
  program_image image{};
  const hex_load_report stopped = load_hex_image(image, source.source());
  EXPECT_TRUE(stopped.stopped);
  EXPECT_EQ(stopped.words, -1);

  trickle whole{source.text};
  reads_before_stop = 1000;  // asked, but never says stop
  const hex_load_report loaded = load_hex_image(image, whole.source(), stop_after_reads);
  EXPECT_FALSE(loaded.stopped);
  EXPECT_TRUE(loaded.end_record);
  EXPECT_EQ(loaded.words, 101);
}

TEST(LoadHexImageStream, ReadErrorFailsTheLoad) {
  // On Linux a directory opens for reading and then fails on the first read.
  const file_ptr stream(std::fopen(std::filesystem::temp_directory_path().c_str(), "r"));
  ASSERT_NE(stream, nullptr);
  program_image image{};
  const hex_load_report report = load_hex_image(image, stream.get());
  EXPECT_EQ(report.words, -1);
  EXPECT_EQ(report.first_fault, hex_fault::read_error);
  EXPECT_EQ(report.first_fault_line, 1u);
}

TEST(LoadHexImageStream, ReadsToTheEndAndLeavesTheStreamOpen) {
  std::array<int, 2> fds{};
  ASSERT_EQ(pipe(fds.data()), 0);
  const std::string text = ":0400100001020304E3\n" + RECORD + "\n";
  ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fds[1]);
  std::FILE* stream = fdopen(fds[0], "r");
  ASSERT_NE(stream, nullptr);

  program_image image{};
  EXPECT_EQ(load_hex_image(image, stream).words, -1);
  EXPECT_EQ(image[9], 0x0403u);
  // Closing the stream would have closed its descriptor.
  ASSERT_NE(fcntl(fds[0], F_GETFD), -1) << "the loader closed the stream";
  EXPECT_NE(std::feof(stream), 0);
  std::fclose(stream);
}

TEST(LoadHexImageStream, ShippedSampleLoadsCleanly) {
  const file_ptr stream(std::fopen(TTYPROG_SOURCE_DIR "/examples/sample.hex", "r"));
  ASSERT_NE(stream, nullptr);
  program_image image{};
  ASSERT_EQ(load_hex_image(image, stream.get()).words, 0x300);
  std::size_t set = 0;
  for (std::size_t i = 0; i < 0x300; ++i) {
    EXPECT_LE(image[i], BLANK_WORD) << "word " << i;
    set += image[i] != BLANK_WORD ? 1u : 0u;
  }
  EXPECT_GE(set, 300u);
  EXPECT_EQ(image[0x10], BLANK_WORD);  // the gap after the first section
}

}  // namespace
}  // namespace ttyprog
