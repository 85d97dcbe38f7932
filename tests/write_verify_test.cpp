// writeprogram and verifyprogram through the real binary on a real pty: the HEX text from a file or
// standard input, the exact words on the wire (blocks of at most 512 words from word 0), the exact
// lines on standard output, and what the programmer holds afterwards. (HEX files that are
// refused are rows of bad_input_test.cpp; refused blocks and a failing line, rows of
// fault_matrix_test.cpp.)
#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/case_name.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/session.h"
#include "support/target_session.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

using test::case_name;
using test::FAILED;
using test::hex_record;
using test::hex_words;
using test::INVALID_HEX;
using test::program_of;
using test::scripted;
using test::SIZE_ERROR;
using test::step;
using test::verified;
using test::WRITTEN;

constexpr std::uint16_t BLANK = 0x3FFF;

// The HEX text of `image`, blank words left out.
std::string hex_of(const std::vector<std::uint16_t>& image) { return test::hex_text(image, BLANK); }

// What the programmer receives for writing `image`: blocks of at most 512 words from word 0, each
// 0x8010, its length, its words, 0xFFFF.
std::vector<std::uint16_t> write_wire(const std::vector<std::uint16_t>& image, std::size_t blocks) {
  std::vector<std::uint16_t> wire;
  for (std::size_t from = 0, k = 0; from < image.size() && k < blocks; from += 512, ++k) {
    const std::size_t n = std::min<std::size_t>(512, image.size() - from);
    wire.push_back(0x8010);
    wire.push_back(static_cast<std::uint16_t>(n));
    wire.insert(wire.end(), image.begin() + static_cast<std::ptrdiff_t>(from),
                image.begin() + static_cast<std::ptrdiff_t>(from + n));
    wire.push_back(0xFFFF);
  }
  return wire;
}

std::vector<std::uint16_t> read_wire(std::size_t words) {
  std::vector<std::uint16_t> wire;
  for (std::size_t from = 0; from < words; from += 512) {
    wire.push_back(0x8020);
    wire.push_back(static_cast<std::uint16_t>(std::min<std::size_t>(512, words - from)));
  }
  return wire;
}

// Long word lists compared with the place of the first difference, not a screenful of hex.
void expect_words(const std::vector<std::uint16_t>& got, const std::vector<std::uint16_t>& want) {
  const auto mismatch = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  if (mismatch.first == got.end() && mismatch.second == want.end()) return;
  const auto at = static_cast<std::size_t>(mismatch.first - got.begin());
  const auto around = [at](const std::vector<std::uint16_t>& words) {
    const std::size_t from = at < 3 ? 0 : at - 3;
    const std::size_t to = std::min(words.size(), at + 4);
    return hex_words({words.begin() + static_cast<std::ptrdiff_t>(from),
                      words.begin() + static_cast<std::ptrdiff_t>(to)});
  };
  ADD_FAILURE() << "words differ at index " << at << " (got " << got.size() << " words, want "
                << want.size() << ")\n  got:  ..." << around(got) << "\n  want: ..."
                << around(want);
}

// A directory of its own for each test's HEX files, removed afterwards.
class HexFiles : public ::testing::Test {
 protected:
  std::string file_with(const std::string& text, const std::string& name = "program.hex") {
    return dir_.file_with(name, text);
  }

  test::temp_dir dir_;
};

// ---- Scripted exchanges: exact wire and output --------------------------------------------------

const std::string ONE_RECORD = ":0400100001020304E2\n";  // words 8 and 9: 0x0201, 0x0403; N = 10
const std::string ONE_RECORD_WRITE =
    "8010 000a 3fff 3fff 3fff 3fff 3fff 3fff 3fff 3fff 0201 0403 ffff";

struct exchange_case {
  const char* name;
  std::string command;
  std::string hex;
  bool from_stdin;
  std::vector<step> steps;
  std::string out;
  std::string wire;

  friend void PrintTo(const exchange_case& c, std::ostream* os) { *os << c.name; }
};

class WriteVerifyExchange : public HexFiles, public ::testing::WithParamInterface<exchange_case> {};

TEST_P(WriteVerifyExchange, PrintsSendsAndExitsExactly) {
  const exchange_case& c = GetParam();
  test::run_options run;
  std::vector<std::string> args{c.command};
  if (c.from_stdin) {
    run.stdin_bytes = c.hex;
  } else {
    args.push_back(file_with(c.hex));
  }
  const test::session_result got = test::run_with_programmer({scripted(c.steps)}, args, run);
  EXPECT_FALSE(got.run.timed_out);
  EXPECT_EQ(hex_words(got.wire), c.wire);
  EXPECT_EQ(got.run.out, c.out);
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
}

// Every step answers a complete request, so that a tool sending what it should not fails at once
// on the wire instead of waiting for an answer.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    OneRecord, WriteVerifyExchange,
    ::testing::Values(
        exchange_case{"write_spans_from_word_0", "writeprogram", ONE_RECORD, false,
                      {{13, {0xC000}}}, WRITTEN, ONE_RECORD_WRITE},
        exchange_case{"write_from_stdin", "writeprogram", ONE_RECORD, true,
                      {{13, {0xC000}}}, WRITTEN, ONE_RECORD_WRITE},
        exchange_case{"verify_equal", "verifyprogram", ONE_RECORD, false,
                      {{2, {BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, 0x0201, 0x0403,
                            0xFFFF}}},
                      verified(0), "8020 000a"},
        // One word off in a blank, one off only in a bit above 3fff: whole words are compared.
        exchange_case{"verify_two_differ", "verifyprogram", ONE_RECORD, false,
                      {{2, {BLANK, BLANK, BLANK, 0x3FFE, BLANK, BLANK, BLANK, BLANK, 0x4201, 0x0403,
                            0xFFFF}}},
                      verified(2), "8020 000a"},
        exchange_case{"verify_from_stdin", "verifyprogram", ONE_RECORD, true,
                      {{2, {0, 0, 0, 0, 0, 0, 0, 0, 0x0201, 0x0403, 0xFFFF}}},
                      verified(8), "8020 000a"},
        // Nothing of a block of the wrong length is counted, though its first words differ.
        exchange_case{"verify_one_short", "verifyprogram", ONE_RECORD, false,
                      {{2, {0, 0, BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, 0x0201, 0xFFFF}}},
                      SIZE_ERROR + verified(0), "8020 000a"},
        exchange_case{"verify_one_long", "verifyprogram", ONE_RECORD, false,
                      {{2, {0, BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, 0x0201, 0x0403,
                            BLANK, 0xFFFF}}},
                      SIZE_ERROR + verified(0), "8020 000a"}),
    case_name{});
// clang-format on

// Nothing to send, or nothing that may be sent: the programmer hears nothing at all.
const std::string NO_DATA = "; no program here\n" + hex_record(0, {0x00, 0x00}, 4) + test::HEX_END;
const std::string BAD_LAST = hex_of(program_of(600)) + ":0400100001020304E3\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    NothingSent, WriteVerifyExchange,
    ::testing::Values(
        exchange_case{"write_no_data_records", "writeprogram", NO_DATA, false,
                      {{1, {0xC000}}}, WRITTEN, ""},
        exchange_case{"write_empty_file", "writeprogram", "", false, {{1, {0xC000}}}, WRITTEN, ""},
        exchange_case{"write_empty_stdin", "writeprogram", "", true, {{1, {0xC000}}}, WRITTEN, ""},
        exchange_case{"verify_no_data_records", "verifyprogram", NO_DATA, false,
                      {{1, {0xFFFF}}}, verified(0), ""},
        exchange_case{"verify_empty_file", "verifyprogram", "", false,
                      {{1, {0xFFFF}}}, verified(0), ""},
        // The bad record comes last: the whole text is read before anything goes out.
        exchange_case{"write_bad_checksum_stdin", "writeprogram", BAD_LAST, true,
                      {{1, {0xC000}}}, INVALID_HEX, ""},
        exchange_case{"verify_bad_checksum_stdin", "verifyprogram", BAD_LAST, true,
                      {{1, {0xFFFF}}}, INVALID_HEX, ""}),
    case_name{});
// clang-format on

// ---- A word that is the block terminator --------------------------------------------------------

struct terminator_case {
  const char* name;
  std::vector<unsigned> ffff_at;  // word addresses holding bytes FF FF, in file order
  std::size_t words;              // N
  std::string address;            // the lowest of them, as the line names it

  friend void PrintTo(const terminator_case& c, std::ostream* os) { *os << c.name; }
};

class TerminatorWord : public HexFiles, public ::testing::WithParamInterface<terminator_case> {
 protected:
  // The program of `words` words with 0xFFFF where the case says; one record per 0xFFFF word
  // after the rest, so that the file order is the case's order.
  std::string hex(std::vector<std::uint16_t>& image) {
    const terminator_case& c = GetParam();
    image = program_of(c.words);
    std::string text;
    for (const unsigned at : c.ffff_at) {
      image[at] = 0xFFFF;
      text += hex_record(at * 2, {0xFF, 0xFF});
    }
    return hex_of(program_of(c.words)) + text;
  }
};

TEST_P(TerminatorWord, WriteNamesTheLowestAndSendsNothing) {
  std::vector<std::uint16_t> image;
  const std::string file = file_with(hex(image));
  const test::session_result got =
      test::run_with_programmer({scripted({{1, {0xC000}}})}, {"writeprogram", file});
  EXPECT_EQ(got.run.out, test::unwritable(GetParam().address));
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_EQ(hex_words(got.wire), "");
}

TEST_P(TerminatorWord, VerifyCountsItAsADifference) {
  std::vector<std::uint16_t> image;
  const std::string file = file_with(hex(image));
  // The programmer holds the program, but no word of it can read back as the terminator.
  std::replace(image.begin(), image.end(), std::uint16_t{0xFFFF}, BLANK);
  sim::sim_target target;
  test::store_program(target, image);
  const test::session_result got =
      test::run_with_programmer({test::target_session(target)}, {"verifyprogram", file});
  EXPECT_EQ(got.run.out, verified(static_cast<int>(GetParam().ffff_at.size())));
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
  expect_words(got.wire, read_wire(GetParam().words));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Ffff, TerminatorWord,
    ::testing::Values(
        terminator_case{"low_address_zero_padded", {9}, 10, "0009"},
        terminator_case{"lowest_not_first_in_file", {700, 9}, 1000, "0009"},
        terminator_case{"in_a_later_block_lower_case", {6844}, 7000, "1abc"},
        terminator_case{"word_0", {0, 1}, 600, "0000"}),
    case_name{});
// clang-format on

// ---- Block splitting against the simulator's target ---------------------------------------------

struct write_case {
  const char* name;
  std::size_t words;           // N, every word set
  sim::fault_settings faults;  // refuse_exchange: the refused block, counted from 1
  std::size_t blocks_sent;
  std::string out;

  friend void PrintTo(const write_case& c, std::ostream* os) { *os << c.name; }
};

class WriteBlocks : public HexFiles, public ::testing::WithParamInterface<write_case> {};

TEST_P(WriteBlocks, SendsBlocksOf512UntilOneIsRefused) {
  const write_case& c = GetParam();
  const std::vector<std::uint16_t> image = program_of(c.words);
  sim::sim_target target({}, c.faults);
  const test::session_result got = test::run_with_programmer(
      {test::target_session(target)}, {"writeprogram", file_with(hex_of(image))});
  EXPECT_EQ(got.run.out, c.out);
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
  expect_words(got.wire, write_wire(image, c.blocks_sent));
  if (c.out == WRITTEN) expect_words(test::program_words(target, c.words), image);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Split, WriteBlocks,
    ::testing::Values(
        write_case{"n_512_one_block", 512, {}, 1, WRITTEN},
        write_case{"n_513_second_block_of_one", 513, {}, 2, WRITTEN},
        write_case{"n_1000_is_512_then_488", 1000, {}, 2, WRITTEN},
        write_case{"n_8192_is_16_blocks", 8192, {}, 16, WRITTEN},
        write_case{"n_8192_fifth_refused", 8192, {.refuse_exchange = 5}, 5, FAILED}),
    case_name{});
// clang-format on

// ---- Verification in blocks ---------------------------------------------------------------------

TEST_F(HexFiles, VerifySecondBlockShortReportsTheFirstBlocksCountOnly) {
  const std::vector<std::uint16_t> image = program_of(600);
  std::vector<std::uint16_t> held = image;
  for (const std::size_t at : {0u, 311u, 511u, 512u, 540u}) held[at] ^= 0x0100;  // 3 + 2
  sim::sim_target target({}, {.short_read_block = 2});
  test::store_program(target, held);
  const test::session_result got = test::run_with_programmer(
      {test::target_session(target)}, {"verifyprogram", file_with(hex_of(image))});
  EXPECT_EQ(hex_words(got.wire), "8020 0200 8020 0058");
  EXPECT_EQ(got.run.out, SIZE_ERROR + verified(3));
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
}

// ---- Write, then verify, against the simulator's target -----------------------------------------

// A file as build tools write them: 16-byte data records out of order with gaps, an extended
// linear address record of 0, a record above program memory, and the end-of-file record.
std::string file_with_gaps(std::vector<std::uint16_t>& image) {
  image.assign(701, BLANK);
  std::string text = hex_record(0, {0x00, 0x00}, 4);
  const auto put = [&](unsigned word, std::size_t count) {
    for (std::size_t i = 0; i < count; i += 8) {
      std::vector<std::uint8_t> data;
      for (std::size_t j = i; j < std::min(count, i + 8); ++j) {
        const auto value = static_cast<std::uint16_t>((word + j) * 0x0123u % 0x3FFFu);
        image[word + j] = value;
        data.push_back(static_cast<std::uint8_t>(value & 0xFF));
        data.push_back(static_cast<std::uint8_t>(value >> 8));
      }
      text += hex_record(static_cast<unsigned>((word + i) * 2), data);
    }
  };
  put(0x200, 40);                            // a run placed high, listed first
  put(0, 4);                                 // the first words
  put(4, 60);                                // the words after them
  put(696, 5);                               // a table at the end: word 700 is the last, so N = 701
  text += hex_record(0x5000, {0x72, 0x3F});  // above program memory: not loaded
  return text + test::HEX_END;
}

TEST_F(HexFiles, WriteThenVerifyRoundTripWithGaps) {
  std::vector<std::uint16_t> image;
  const std::string file = file_with(file_with_gaps(image));
  sim::sim_target target;
  // Not blank: the gaps must be written too.
  test::store_program(target, std::vector<std::uint16_t>(sim::MEMORY_WORDS, 0x0000));

  const test::session_result write =
      test::run_with_programmer({test::target_session(target)}, {"writeprogram", file});
  EXPECT_EQ(write.run.out, WRITTEN);
  EXPECT_EQ(write.run.err, "");
  expect_words(write.wire, write_wire(image, 2));
  expect_words(test::program_words(target, 701), image);
  EXPECT_EQ(target.program_word(701), 0x0000) << "written past the image";

  const test::session_result verify =
      test::run_with_programmer({test::target_session(target)}, {"verifyprogram", file});
  EXPECT_EQ(verify.run.out, verified(0));
  EXPECT_EQ(verify.run.err, "");
  EXPECT_EQ(hex_words(verify.wire), "8020 0200 8020 00bd");

  // A word of a gap and a word of the second block changed in the programmer: both found.
  std::vector<std::uint16_t> changed = image;
  changed[100] = 0x0000;
  changed[698] ^= 0x2000;
  test::store_program(target, changed);
  const test::session_result again = test::run_with_programmer(
      {test::target_session(target)}, {"verifyprogram"}, {.stdin_bytes = file_with_gaps(image)});
  EXPECT_EQ(again.run.out, verified(2));
  EXPECT_EQ(again.run.err, "");
}

TEST_F(HexFiles, WholeMemoryWrittenThenVerifiedFindsNoError) {
  const std::vector<std::uint16_t> image = program_of(8192);
  const std::string file = file_with(hex_of(image));
  sim::sim_target target;
  const test::session_result write =
      test::run_with_programmer({test::target_session(target)}, {"writeprogram", file});
  EXPECT_EQ(write.run.out, WRITTEN);
  expect_words(test::program_words(target, 8192), image);

  const test::session_result verify =
      test::run_with_programmer({test::target_session(target)}, {"verifyprogram", file});
  EXPECT_EQ(verify.run.out, verified(0));
  EXPECT_EQ(verify.run.err, "");
  expect_words(verify.wire, read_wire(8192));
}

}  // namespace
}  // namespace ttyprog
