// writeprogram and verifyprogram through the real binary on a real pty: the HEX text from a file or
// standard input, the exact words on the wire (blocks of at most 512 words from word 0), the exact
// lines on standard output, and every way the commands end early.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/model_programmer.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/session.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;
using test::FAILED;
using test::LOST;
using test::PROMPTLY;
using test::SIZE_ERROR;
using test::block_fault;
using test::hex_words;
using test::scripted;
using test::step;

const std::string DONE = "Done.\n";
const std::string OPEN_FAILED = "input file open failed!\n";
const std::string INVALID = "invalid hex file!\n";

constexpr std::uint16_t BLANK = 0x3FFF;

std::string verified(int errors) {
  return "verify done. found " + std::to_string(errors) + " error(s).\n";
}

using test::hex_record;
using test::program_of;
const std::string END_RECORD = test::HEX_END;

// Data records for the words of `image` (index = word address) that are not blank.
std::string hex_text(const std::vector<std::uint16_t>& image) {
  return test::hex_text(image, BLANK);
}

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

std::vector<std::uint16_t> memory_head(const test::model_memory& memory, std::size_t words) {
  return {memory.begin(), memory.begin() + static_cast<std::ptrdiff_t>(words)};
}

// A directory of its own for each test's HEX files, removed afterwards.
class HexFiles : public ::testing::Test {
 protected:
  std::string file_with(const std::string& text, const std::string& name = "program.hex") {
    return dir_.file_with(name, text);
  }

  test::temp_dir dir_;
};

struct case_name {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& tested) const {
    return tested.param.name;
  }
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
                      {{13, {0xC000}}}, DONE, ONE_RECORD_WRITE},
        exchange_case{"write_from_stdin", "writeprogram", ONE_RECORD, true,
                      {{13, {0xC000}}}, DONE, ONE_RECORD_WRITE},
        exchange_case{"write_refused", "writeprogram", ONE_RECORD, false,
                      {{13, {0xC001}}}, FAILED, ONE_RECORD_WRITE},
        exchange_case{"write_refused_with_zero", "writeprogram", ONE_RECORD, false,
                      {{13, {0x0000}}}, FAILED, ONE_RECORD_WRITE},
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
const std::string NO_DATA = "; no program here\n" + hex_record(0, {0x00, 0x00}, 4) + END_RECORD;
const std::string BAD_LAST = hex_text(program_of(600)) + ":0400100001020304E3\n";
const std::string BAD_FIRST = ":0400100001020304E3\n" + hex_text(program_of(20));
const std::string ODD_ADDRESS = ONE_RECORD + hex_record(0x0011, {0x01, 0x02});

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    NothingSent, WriteVerifyExchange,
    ::testing::Values(
        exchange_case{"write_no_data_records", "writeprogram", NO_DATA, false,
                      {{1, {0xC000}}}, DONE, ""},
        exchange_case{"write_empty_file", "writeprogram", "", false, {{1, {0xC000}}}, DONE, ""},
        exchange_case{"write_empty_stdin", "writeprogram", "", true, {{1, {0xC000}}}, DONE, ""},
        exchange_case{"verify_no_data_records", "verifyprogram", NO_DATA, false,
                      {{1, {0xFFFF}}}, verified(0), ""},
        exchange_case{"verify_empty_file", "verifyprogram", "", false,
                      {{1, {0xFFFF}}}, verified(0), ""},
        // The bad record comes last: the whole text is read before anything goes out.
        exchange_case{"write_bad_checksum_last", "writeprogram", BAD_LAST, false,
                      {{1, {0xC000}}}, INVALID, ""},
        exchange_case{"write_bad_checksum_first", "writeprogram", BAD_FIRST, false,
                      {{1, {0xC000}}}, INVALID, ""},
        exchange_case{"write_bad_checksum_stdin", "writeprogram", BAD_LAST, true,
                      {{1, {0xC000}}}, INVALID, ""},
        exchange_case{"write_odd_address", "writeprogram", ODD_ADDRESS, false,
                      {{1, {0xC000}}}, INVALID, ""},
        exchange_case{"verify_bad_checksum_last", "verifyprogram", BAD_LAST, false,
                      {{1, {0xFFFF}}}, INVALID, ""},
        exchange_case{"verify_bad_checksum_stdin", "verifyprogram", BAD_LAST, true,
                      {{1, {0xFFFF}}}, INVALID, ""}),
    case_name{});
// clang-format on

// ---- Files that cannot be opened ----------------------------------------------------------------

TEST_F(HexFiles, MissingFileSaysSoSendsNothingAndExitsZero) {
  const std::string missing = (dir_ / "no-such.hex").string();
  for (const char* command : {"writeprogram", "verifyprogram"}) {
    SCOPED_TRACE(command);
    const test::session_result got =
        test::run_with_programmer({scripted({{1, {0xC000}}})}, {command, missing});
    EXPECT_EQ(got.run.out, OPEN_FAILED);  // no verify line either: nothing was compared
    EXPECT_EQ(got.run.err, "");
    EXPECT_EQ(got.run.exit_code, 0);
    EXPECT_EQ(hex_words(got.wire), "");
  }
}

// ---- A word that is the block terminator --------------------------------------------------------

struct terminator_case {
  const char* name;
  std::vector<unsigned> ffff_at;  // word addresses holding bytes FF FF, in file order
  std::size_t words;              // N
  std::string line;

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
    return hex_text(program_of(c.words)) + text;
  }
};

TEST_P(TerminatorWord, WriteNamesTheLowestAndSendsNothing) {
  std::vector<std::uint16_t> image;
  const std::string file = file_with(hex(image));
  const test::session_result got =
      test::run_with_programmer({scripted({{1, {0xC000}}})}, {"writeprogram", file});
  EXPECT_EQ(got.run.out, GetParam().line);
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_EQ(hex_words(got.wire), "");
}

TEST_P(TerminatorWord, VerifyCountsItAsADifference) {
  std::vector<std::uint16_t> image;
  const std::string file = file_with(hex(image));
  // The programmer holds the program, but no word of it can read back as the terminator.
  const auto memory = test::memory_of(BLANK);
  std::copy(image.begin(), image.end(), memory->begin());
  std::replace(memory->begin(), memory->end(), std::uint16_t{0xFFFF}, BLANK);
  const test::session_result got =
      test::run_with_programmer({test::model_programmer({memory, {}})}, {"verifyprogram", file});
  EXPECT_EQ(got.run.out, verified(static_cast<int>(GetParam().ffff_at.size())));
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
  expect_words(got.wire, read_wire(GetParam().words));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Ffff, TerminatorWord,
    ::testing::Values(
        terminator_case{"low_address_zero_padded", {9}, 10,
                        "word ffff at 0009 cannot be written!\n"},
        terminator_case{"lowest_not_first_in_file", {700, 9}, 1000,
                        "word ffff at 0009 cannot be written!\n"},
        terminator_case{"in_a_later_block_lower_case", {6844}, 7000,
                        "word ffff at 1abc cannot be written!\n"},
        terminator_case{"word_0", {0, 1}, 600, "word ffff at 0000 cannot be written!\n"}),
    case_name{});
// clang-format on

// ---- Block splitting against a model programmer -------------------------------------------------

struct write_case {
  const char* name;
  std::size_t words;                // N, every word set
  std::vector<block_fault> faults;  // per block
  std::size_t blocks_sent;
  std::string out;

  friend void PrintTo(const write_case& c, std::ostream* os) { *os << c.name; }
};

class WriteBlocks : public HexFiles, public ::testing::WithParamInterface<write_case> {};

TEST_P(WriteBlocks, SendsBlocksOf512UntilOneIsRefused) {
  const write_case& c = GetParam();
  const std::vector<std::uint16_t> image = program_of(c.words);
  const auto memory = test::memory_of(0);
  const test::session_result got = test::run_with_programmer(
      {test::model_programmer({memory, c.faults})}, {"writeprogram", file_with(hex_text(image))});
  EXPECT_EQ(got.run.out, c.out);
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
  expect_words(got.wire, write_wire(image, c.blocks_sent));
  if (c.out == DONE) expect_words(memory_head(*memory, c.words), image);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Split, WriteBlocks,
    ::testing::Values(
        write_case{"n_512_one_block", 512, {}, 1, DONE},
        write_case{"n_513_second_block_of_one", 513, {}, 2, DONE},
        write_case{"n_1000_is_512_then_488", 1000, {}, 2, DONE},
        write_case{"n_8192_is_16_blocks", 8192, {}, 16, DONE},
        write_case{"n_1000_first_refused_second_never_sent", 1000, {block_fault::refuse}, 1,
                   FAILED},
        write_case{"n_1000_second_refused", 1000, {block_fault::none, block_fault::refuse}, 2,
                   FAILED},
        write_case{"n_8192_fifth_refused", 8192,
                   {block_fault::none, block_fault::none, block_fault::none, block_fault::none,
                    block_fault::refuse},
                   5, FAILED}),
    case_name{});
// clang-format on

// ---- Verification in blocks ---------------------------------------------------------------------

TEST_F(HexFiles, VerifySecondBlockShortReportsTheFirstBlocksCountOnly) {
  const std::vector<std::uint16_t> image = program_of(600);
  const auto memory = test::memory_of(BLANK);
  std::copy(image.begin(), image.end(), memory->begin());
  for (const std::size_t at : {0u, 311u, 511u, 512u, 540u}) (*memory)[at] ^= 0x0100;  // 3 + 2
  const test::session_result got = test::run_with_programmer(
      {test::model_programmer({memory, {block_fault::none, block_fault::one_short}})},
      {"verifyprogram", file_with(hex_text(image))});
  EXPECT_EQ(hex_words(got.wire), "8020 0200 8020 0058");
  EXPECT_EQ(got.run.out, SIZE_ERROR + verified(3));
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
}

TEST_F(HexFiles, VerifyFirstOfThreeBlocksLongStopsTheRest) {
  const std::vector<std::uint16_t> image = program_of(1200);
  const auto memory = test::memory_of(BLANK);
  std::copy(image.begin(), image.end(), memory->begin());
  const test::session_result got =
      test::run_with_programmer({test::model_programmer({memory, {block_fault::one_long}})},
                                {"verifyprogram", file_with(hex_text(image))});
  EXPECT_EQ(hex_words(got.wire), "8020 0200");
  EXPECT_EQ(got.run.out, SIZE_ERROR + verified(0));
  EXPECT_EQ(got.run.err, "");
}

// ---- A link that fails mid-command --------------------------------------------------------------

struct link_case {
  const char* name;
  std::string command;
  std::size_t words;  // N
  std::vector<step> steps;
  std::string out;
  std::string wire_start;  // the tool may still be sending when the line drops

  friend void PrintTo(const link_case& c, std::ostream* os) { *os << c.name; }
};

class WriteVerifyHangUp : public HexFiles, public ::testing::WithParamInterface<link_case> {};

TEST_P(WriteVerifyHangUp, EndsPromptlyLikeABadBlockNamingTheLostConnection) {
  const link_case& c = GetParam();
  const test::session_result got = test::run_with_programmer(
      {scripted(c.steps)}, {c.command, file_with(hex_text(program_of(c.words)))});
  EXPECT_EQ(got.run.out, c.out);
  EXPECT_EQ(got.run.err, LOST);
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_LT(got.run.elapsed, PROMPTLY);
  EXPECT_EQ(hex_words(got.wire).substr(0, c.wire_start.size()), c.wire_start);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Link, WriteVerifyHangUp,
    ::testing::Values(
        link_case{"write_mid_block", "writeprogram", 1000, {{100, {}, true}}, FAILED, "8010 0200"},
        link_case{"write_awaiting_status", "writeprogram", 1000, {{515, {}, true}}, FAILED,
                  "8010 0200"},
        link_case{"write_mid_second_block", "writeprogram", 1000,
                  {{515, {0xC000}}, {50, {}, true}}, FAILED, "8010 0200"},
        link_case{"verify_before_answer", "verifyprogram", 10, {{2, {}, true}},
                  SIZE_ERROR + verified(0), "8020 000a"},
        // Half a block came back, with differences in it: nothing of a failed block is counted.
        link_case{"verify_mid_answer", "verifyprogram", 10, {{2, {0, 0, 0, 0, 0}, true}},
                  SIZE_ERROR + verified(0), "8020 000a"}),
    case_name{});
// clang-format on

TEST_F(HexFiles, VerifyHangUpInSecondBlockCountsTheFirstOnly) {
  const std::vector<std::uint16_t> image = program_of(1000);
  const auto memory = test::memory_of(BLANK);
  std::copy(image.begin(), image.end(), memory->begin());
  (*memory)[7] = 0;
  (*memory)[600] = 0;
  const test::session_result got = test::run_with_programmer(
      {test::model_programmer({memory, {block_fault::none, block_fault::hang_up}})},
      {"verifyprogram", file_with(hex_text(image))});
  EXPECT_EQ(hex_words(got.wire), "8020 0200 8020 01e8");
  EXPECT_EQ(got.run.out, SIZE_ERROR + verified(1));
  EXPECT_EQ(got.run.err, LOST);
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_LT(got.run.elapsed, PROMPTLY);
}

// ---- Write, then verify, against the model ------------------------------------------------------

// A file as build tools write them: 16-byte data records out of order with gaps, an extended
// linear address record of 0, a record above program memory, and the end-of-file record.
std::string file_with_gaps(std::vector<std::uint16_t>& image) {
  image.assign(701, BLANK);
  std::string text = hex_record(0, {0x00, 0x00}, 4);
  const auto put = [&](unsigned word, std::size_t count) {
    std::vector<std::uint16_t> run;
    for (std::size_t i = 0; i < count; ++i) {
      image[word + i] = static_cast<std::uint16_t>((word + i) * 0x0123u % 0x3FFFu);
      run.push_back(image[word + i]);
    }
    for (std::size_t i = 0; i < count; i += 8) {
      std::vector<std::uint8_t> data;
      for (std::size_t j = i; j < std::min(count, i + 8); ++j) {
        data.push_back(static_cast<std::uint8_t>(run[j] & 0xFF));
        data.push_back(static_cast<std::uint8_t>(run[j] >> 8));
      }
      text += hex_record(static_cast<unsigned>((word + i) * 2), data);
    }
  };
  put(0x200, 40);                            // a run placed high, listed first
  put(0, 4);                                 // the first words
  put(4, 60);                                // the words after them
  put(696, 5);                               // a table at the end: word 700 is the last, N = 701
  text += hex_record(0x5000, {0x72, 0x3F});  // above program memory: not loaded
  return text + END_RECORD;
}

TEST_F(HexFiles, WriteThenVerifyRoundTripWithGaps) {
  std::vector<std::uint16_t> image;
  const std::string file = file_with(file_with_gaps(image));
  const auto memory = test::memory_of(0x0000);  // not blank: the gaps must be written too

  const test::session_result write =
      test::run_with_programmer({test::model_programmer({memory, {}})}, {"writeprogram", file});
  EXPECT_EQ(write.run.out, DONE);
  EXPECT_EQ(write.run.err, "");
  expect_words(write.wire, write_wire(image, 2));
  expect_words(memory_head(*memory, 701), image);
  EXPECT_EQ((*memory)[701], 0x0000) << "written past the image";

  const test::session_result verify =
      test::run_with_programmer({test::model_programmer({memory, {}})}, {"verifyprogram", file});
  EXPECT_EQ(verify.run.out, verified(0));
  EXPECT_EQ(verify.run.err, "");
  EXPECT_EQ(hex_words(verify.wire), "8020 0200 8020 00bd");

  // A word of a gap and a word of the second block changed in the programmer: both found.
  (*memory)[100] = 0x0000;
  (*memory)[698] ^= 0x2000;
  const test::session_result again =
      test::run_with_programmer({test::model_programmer({memory, {}})}, {"verifyprogram"},
                                {.stdin_bytes = file_with_gaps(image)});
  EXPECT_EQ(again.run.out, verified(2));
  EXPECT_EQ(again.run.err, "");
}

TEST_F(HexFiles, WholeMemoryWrittenThenVerifiedFindsNoError) {
  const std::vector<std::uint16_t> image = program_of(8192);
  const std::string file = file_with(hex_text(image));
  const auto memory = test::memory_of(BLANK);
  const test::session_result write =
      test::run_with_programmer({test::model_programmer({memory, {}})}, {"writeprogram", file});
  EXPECT_EQ(write.run.out, DONE);
  expect_words(memory_head(*memory, 8192), image);

  const test::session_result verify =
      test::run_with_programmer({test::model_programmer({memory, {}})}, {"verifyprogram", file});
  EXPECT_EQ(verify.run.out, verified(0));
  EXPECT_EQ(verify.run.err, "");
  expect_words(verify.wire, read_wire(8192));
}

}  // namespace
}  // namespace ttyprog
