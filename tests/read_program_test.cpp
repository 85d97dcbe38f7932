// readprogram through the real binary on a real pty: the words on the wire (block splitting at
// 512 words), the exact dump on standard output, and the ends of the command on a wrong-sized
// block, a programmer that hangs up and one that falls silent.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <stdlib.h>

#include "support/model_programmer.h"
#include "support/expected.h"
#include "support/session.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;
using test::BOUND_SLACK;
using test::LOST;
using test::NOT_RESPONDING;
using test::PROMPTLY;
using test::SIZE_ERROR;
using test::block_fault;
using test::hex_words;
using test::scripted;
using test::step;

// A memory whose words all differ from their neighbours and from their position, with every hex
// digit showing up, so that a word printed twice, skipped or taken from the wrong block shows.
std::shared_ptr<test::model_memory> patterned_memory() {
  auto memory = test::memory_of(0);
  for (std::size_t i = 0; i < memory->size(); ++i) {
    (*memory)[i] = static_cast<std::uint16_t>((i * 0x9E37u + 0x1234u) % 0xFFFFu);  // never 0xFFFF
  }
  return memory;
}

std::vector<std::uint16_t> first_words(const test::model_memory& memory, std::size_t count) {
  return {memory.begin(), memory.begin() + static_cast<std::ptrdiff_t>(count)};
}

// The dump of `words`: lines of eight words separated by single spaces; a short last line keeps
// the space after its last word.
std::string dump_of(const std::vector<std::uint16_t>& words) {
  std::string text;
  for (std::size_t line = 0; line < words.size(); line += 8) {
    const std::size_t end = std::min(line + 8, words.size());
    const std::vector<std::uint16_t> part(words.begin() + static_cast<std::ptrdiff_t>(line),
                                          words.begin() + static_cast<std::ptrdiff_t>(end));
    text += hex_words(part) + (part.size() == 8 ? "\n" : " \n");
  }
  return text;
}

std::vector<std::string> read_args(const std::optional<std::string>& param) {
  if (!param) return {"readprogram"};
  return {"readprogram", *param};
}

struct case_name {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& tested) const {
    return tested.param.name;
  }
};

// ---- Word counts against a model programmer -----------------------------------------------------

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
  const auto memory = patterned_memory();
  const test::session_result got =
      test::run_with_programmer({test::model_programmer({memory, {}})}, read_args(c.param));
  EXPECT_FALSE(got.run.timed_out);
  EXPECT_EQ(hex_words(got.wire), c.wire);
  EXPECT_EQ(got.run.out, dump_of(first_words(*memory, c.words)));
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
                    "8020 0009", "0001 0002 0003 0004 0005 0006 0007 0008\n0009 \n"}),
    case_name{});
// clang-format on

// ---- Blocks of the wrong length -----------------------------------------------------------------

struct size_error_case {
  const char* name;
  std::string param;
  std::vector<block_fault> faults;
  std::size_t printed_words;  // the blocks before the bad one
  std::string wire;

  friend void PrintTo(const size_error_case& c, std::ostream* os) { *os << c.name; }
};

class ReadProgramSizeError : public ::testing::TestWithParam<size_error_case> {};

TEST_P(ReadProgramSizeError, KeepsEarlierBlocksPrintsNothingOfTheBadOneAndStops) {
  const size_error_case& c = GetParam();
  const auto memory = patterned_memory();
  const test::session_result got = test::run_with_programmer(
      {test::model_programmer({memory, c.faults})}, {"readprogram", c.param});
  EXPECT_EQ(hex_words(got.wire), c.wire);
  EXPECT_EQ(got.run.out, dump_of(first_words(*memory, c.printed_words)) + SIZE_ERROR);
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_LT(got.run.elapsed, PROMPTLY);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    WrongLength, ReadProgramSizeError,
    ::testing::Values(
        size_error_case{"first_block_one_short", "512", {block_fault::one_short}, 0, "8020 0200"},
        size_error_case{"second_block_one_short", "1000",
                        {block_fault::none, block_fault::one_short}, 512, "8020 0200 8020 01e8"},
        size_error_case{"short_block_stops_the_rest", "1600",
                        {block_fault::none, block_fault::one_short}, 512, "8020 0200 8020 0200"},
        size_error_case{"small_block_one_long", "8", {block_fault::one_long}, 0, "8020 0008"},
        // 513 words for a 512-word buffer: the surplus is counted, not stored or printed.
        size_error_case{"full_block_one_long_stops_the_rest", "1000", {block_fault::one_long}, 0,
                        "8020 0200"},
        size_error_case{"second_block_one_long", "1001",
                        {block_fault::none, block_fault::one_long}, 512, "8020 0200 8020 01e9"}),
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

// A block that answers nothing but the terminator.
TEST(ReadProgramSizeError, EmptyAnswerIsASizeError) {
  const test::session_result got =
      test::run_with_programmer({scripted({{2, {0xFFFF}}})}, {"readprogram", "3"});
  EXPECT_EQ(hex_words(got.wire), "8020 0003");
  EXPECT_EQ(got.run.out, SIZE_ERROR);
  EXPECT_EQ(got.run.err, "");
}

// ---- A link that fails mid-read -----------------------------------------------------------------

TEST(ReadProgramLinkFailure, HangUpMidBlockIsASizeErrorNamingTheLostConnection) {
  const auto memory = patterned_memory();
  const test::session_result got = test::run_with_programmer(
      {test::model_programmer({memory, {block_fault::none, block_fault::hang_up}})},
      {"readprogram", "1000"});
  EXPECT_EQ(hex_words(got.wire), "8020 0200 8020 01e8");
  EXPECT_EQ(got.run.out, dump_of(first_words(*memory, 512)) + SIZE_ERROR);
  EXPECT_EQ(got.run.err, LOST);
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_LT(got.run.elapsed, PROMPTLY);
}

TEST(ReadProgramLinkFailure, HangUpBeforeAnyAnswer) {
  const test::session_result got =
      test::run_with_programmer({test::hang_up_after(2)}, {"readprogram"});
  EXPECT_EQ(hex_words(got.wire), "8020 0200");
  EXPECT_EQ(got.run.out, SIZE_ERROR);
  EXPECT_EQ(got.run.err, LOST);
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_LT(got.run.elapsed, PROMPTLY);
}

// The bound is set short through TTYPROG_TIMEOUT: this is about the path, not the 10 s (the real
// bound has its own cases under the slow label).
TEST(ReadProgramLinkFailure, SilenceMidBlockIsASizeErrorAfterTheBound) {
  constexpr std::chrono::milliseconds BOUND{500};
  ::setenv("TTYPROG_TIMEOUT", "0.5", 1);
  const auto memory = patterned_memory();
  const test::session_result got = test::run_with_programmer(
      {test::model_programmer({memory, {block_fault::none, block_fault::silent}})},
      {"readprogram", "1000"});
  ::unsetenv("TTYPROG_TIMEOUT");
  EXPECT_EQ(hex_words(got.wire), "8020 0200 8020 01e8");
  EXPECT_EQ(got.run.out, dump_of(first_words(*memory, 512)) + SIZE_ERROR);
  EXPECT_EQ(got.run.err, NOT_RESPONDING);
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_GE(got.run.elapsed, BOUND);
  EXPECT_LT(got.run.elapsed, BOUND + BOUND_SLACK);
}

}  // namespace
}  // namespace ttyprog
