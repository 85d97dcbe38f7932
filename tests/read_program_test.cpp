// readprogram through the real binary on a real pty: the words on the wire (block splitting at
// 512 words), the exact dump on standard output, and answers no simulated programmer gives. (Blocks
// of the wrong length and a failing line are rows of fault_matrix_test.cpp.)
#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/case_name.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/scoped_env.h"
#include "support/session.h"
#include "support/target_session.h"

namespace ttyprog {
namespace {

using test::case_name;
using test::hex_words;
using test::PROMPTLY;
using test::scripted;
using test::SIZE_ERROR;

std::vector<std::string> read_args(const std::optional<std::string>& param) {
  if (!param) return {"readprogram"};
  return {"readprogram", *param};
}

// ---- Word counts against the simulator's target -------------------------------------------------

struct count_case {
  const char* name;
  std::optional<std::string> param;
  std::size_t words;  // what the count comes to
  std::string wire;

  friend void PrintTo(const count_case& c, std::ostream* os) { *os << c.name; }
};

class ReadProgramCount : public ::testing::TestWithParam<count_case> {};

TEST_P(ReadProgramCount, AsksInBlocksOf512AndDumpsEveryWord) {
  const count_case& c = GetParam();
  // Every word differs from its neighbours: a word printed twice, skipped or taken from the wrong
  // block shows.
  const std::vector<std::uint16_t> memory = test::program_of(sim::MEMORY_WORDS);
  sim::sim_target target;
  test::store_program(target, memory);
  const test::session_result got =
      test::run_with_programmer({test::target_session(target)}, read_args(c.param));
  EXPECT_FALSE(got.run.timed_out);
  EXPECT_EQ(hex_words(got.wire), c.wire);
  const std::vector<std::uint16_t> dumped(memory.begin(),
                                          memory.begin() + static_cast<std::ptrdiff_t>(c.words));
  EXPECT_EQ(got.run.out, test::dump(dumped));
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ReadProgramCount,
    ::testing::Values(
        count_case{"default_is_one_block_of_512", std::nullopt, 512, "8020 0200"},
        count_case{"zero_sends_and_prints_nothing", "0", 0, ""},
        count_case{"one_word", "1", 1, "8020 0001"},
        count_case{"exactly_512", "512", 512, "8020 0200"},
        count_case{"513_leaves_one_word_for_a_second_block", "513", 513, "8020 0200 8020 0001"},
        count_case{"1000_is_512_then_488", "1000", 1000, "8020 0200 8020 01e8"},
        count_case{"1001_is_512_then_489", "1001", 1001, "8020 0200 8020 01e9"},
        count_case{"whole_memory_in_16_blocks", "8192", 8192,
                   "8020 0200 8020 0200 8020 0200 8020 0200 8020 0200 8020 0200 8020 0200 "
                   "8020 0200 8020 0200 8020 0200 8020 0200 8020 0200 8020 0200 8020 0200 "
                   "8020 0200 8020 0200"}),
    case_name{});

// The count is read the lenient way of an unsigned decimal scan: text that does not begin with
// a number leaves the default, a number followed by other text counts.
INSTANTIATE_TEST_SUITE_P(
    LenientCount, ReadProgramCount,
    ::testing::Values(count_case{"letters_leave_the_default", "abc", 512, "8020 0200"},
                      count_case{"empty_leaves_the_default", "", 512, "8020 0200"},
                      count_case{"trailing_text_ignored", "16abc", 16, "8020 0010"},
                      count_case{"leading_blanks_and_plus", " +9", 9, "8020 0009"},
                      count_case{"decimal_not_hex", "010", 10, "8020 000a"}),
    case_name{});

// ---- The layout, word for word ------------------------------------------------------------------

struct layout_case {
  const char* name;
  std::string param;
  std::vector<std::uint16_t> answer;  // terminator included
  std::string wire;
  std::string out;

  friend void PrintTo(const layout_case& c, std::ostream* os) { *os << c.name; }
};

class ReadProgramLayout : public ::testing::TestWithParam<layout_case> {};

TEST_P(ReadProgramLayout, PrintsExactly) {
  const layout_case& c = GetParam();
  const test::session_result got =
      test::run_with_programmer({scripted({{2, c.answer}})}, {"readprogram", c.param});
  EXPECT_EQ(hex_words(got.wire), c.wire);
  EXPECT_EQ(got.run.out, c.out);
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Dump, ReadProgramLayout,
    ::testing::Values(
        layout_case{"short_line_keeps_its_trailing_space", "3", {0x3FFF, 0x0123, 0x2805, 0xFFFF},
                    "8020 0003", "3fff 0123 2805 \n"},
        layout_case{"full_line_has_no_trailing_space", "8",
                    {0x0000, 0x0001, 0x00AB, 0x0ABC, 0xABCD, 0x8000, 0xFFFE, 0x3FFF, 0xFFFF},
                    "8020 0008", "0000 0001 00ab 0abc abcd 8000 fffe 3fff\n"},
        layout_case{"nine_words_wrap_after_eight", "9", {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFFFF},
                    "8020 0009", "0001 0002 0003 0004 0005 0006 0007 0008\n0009 \n"},
        // A block of nothing but the terminator is a block of the wrong length.
        layout_case{"terminator_alone_is_a_size_error", "3", {0xFFFF}, "8020 0003", SIZE_ERROR}),
    case_name{});
// clang-format on

// A programmer that never ends its block: the answer cannot be the right length once it is one
// word too long, so the tool must stop there and not wait for a terminator that never comes.
TEST(ReadProgramSizeError, EndlessBlockEndsPromptlyWithoutWaitingForTheTerminator) {
  const std::vector<std::uint16_t> endless(40, 0x1234);
  const test::session_result got =
      test::run_with_programmer({scripted({{2, endless}})}, {"readprogram", "8"});
  EXPECT_EQ(hex_words(got.wire), "8020 0008");
  EXPECT_EQ(got.run.out, SIZE_ERROR);
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_LT(got.run.elapsed, PROMPTLY);
}

// Words after the terminator answer nothing asked: the block is not merely short, and the reason
// says so where reasons are shown.
TEST(ReadProgramSizeError, WordsAfterAnEarlyTerminatorAreUnexpected) {
  const test::scoped_env verbose("TTYPROG_VERBOSE", "1");
  const test::session_result got =
      test::run_with_programmer({scripted({{2, {0x0001, 0xFFFF, 0x0002}}})}, {"readprogram", "3"});
  EXPECT_EQ(got.run.out, SIZE_ERROR);
  EXPECT_NE(got.run.err.find(test::UNEXPECTED), std::string::npos) << got.run.err;
}

}  // namespace
}  // namespace ttyprog
