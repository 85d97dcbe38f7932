// program: IDs, erase, write and verify in one run, each step's own lines, a stop at the first step
// that fails, and the device ID checked before anything is erased. Rows against an in-test
// programmer (exact output, strict exit code, words on the wire), then the simulator for what
// program is for: a shorter image leaves no old words above it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/scoped_env.h"
#include "support/session.h"
#include "support/simulator.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

using test::DONE;
using test::FAILED;
using test::READING;
using test::step;
using test::WRITTEN;

// One word, 1234 at word 0.
const std::string ONE_WORD = ":020000003412B8\n:00000001FF\n";
const step IDS{1, {0x0000, 0x0001, test::DEVICE_ID, 0x3FFF}};
const std::string IDS_SHOWN = READING + test::ids("00000001", test::DEVICE_ID_TEXT, "3fff");

struct program_row {
  const char* name;
  std::vector<step> steps;
  std::string out;
  std::string wire;
  int strict_code;
  const char* device_id = "";  // TTYPROG_DEVICE_ID
  std::string hex = ONE_WORD;
};

void PrintTo(const program_row& row, std::ostream* os) { *os << row.name; }

// clang-format off
const program_row ROWS[] = {
    {"programmed", {IDS, {1, {0xC000}}, {4, {0xC000}}, {2, {0x1234, 0xFFFF}}},
     IDS_SHOWN + DONE + WRITTEN + test::verified(0), "8021 8000 8010 0001 1234 ffff 8020 0001", 0},
    {"expected_device_id", {IDS, {1, {0xC000}}, {4, {0xC000}}, {2, {0x1234, 0xFFFF}}},
     IDS_SHOWN + DONE + WRITTEN + test::verified(0), "8021 8000 8010 0001 1234 ffff 8020 0001", 0,
     "0x0F42"},
    {"other_device_id_erases_nothing", {IDS},
     IDS_SHOWN + "device ID 0f42 is not the expected 0f43!\n", "8021", 2, "0f43"},
    {"ids_unanswered", {}, READING + FAILED, "8021", 3},
    {"erase_refused", {IDS, {1, {0xC001}}}, IDS_SHOWN + FAILED, "8021 8000", 2},
    {"write_refused", {IDS, {1, {0xC000}}, {4, {0xC001}}}, IDS_SHOWN + DONE + FAILED,
     "8021 8000 8010 0001 1234 ffff", 2},
    {"verify_differs", {IDS, {1, {0xC000}}, {4, {0xC000}}, {2, {0x3FFF, 0xFFFF}}},
     IDS_SHOWN + DONE + WRITTEN + test::verified(1), "8021 8000 8010 0001 1234 ffff 8020 0001", 4},
    {"verify_short", {IDS, {1, {0xC000}}, {4, {0xC000}}, {2, {0xFFFF}}},
     IDS_SHOWN + DONE + WRITTEN + test::SIZE_ERROR + test::verified(0),
     "8021 8000 8010 0001 1234 ffff 8020 0001", 2},
    // A text that cannot be used, or holds nothing, sends nothing: not even the IDs' request.
    {"invalid_hex_sends_nothing", {}, test::INVALID_HEX, "", 5, "", ":020000003412B9\n"},
    {"no_data_sends_nothing", {}, "no data in hex file!\n", "", 6, "", ":00000001FF\n"},
};
// clang-format on

class Program : public ::testing::TestWithParam<program_row> {};

TEST_P(Program, PrintsEachStepAndStopsAtTheFirstThatFails) {
  const program_row& row = GetParam();
  const test::temp_dir dir;
  const test::scoped_env timeout("TTYPROG_TIMEOUT", "0.3"), strict("TTYPROG_STRICT", "1"),
      device_id("TTYPROG_DEVICE_ID", row.device_id);
  const test::session_result got = test::run_with_programmer(
      {test::scripted(row.steps)}, {"program", dir.file_with("in.hex", row.hex)});
  EXPECT_EQ(got.run.out, row.out);
  EXPECT_EQ(test::hex_words(got.wire), row.wire);
  EXPECT_EQ(got.run.exit_code, row.strict_code);
}

INSTANTIATE_TEST_SUITE_P(Rows, Program, ::testing::ValuesIn(ROWS), test::case_name{});

// What a forgotten erase gets wrong: the old words above a shorter image stay, and a verify of the
// shorter image passes all the same. program erases first, so only the new image is left.
TEST(ProgramOnTheSimulator, LeavesNoOldWordsAboveAShorterImage) {
  test::simulator sim;
  const std::string longer = sim.dir().file_with("long.hex", test::hex_text(test::program_of(600)));
  const std::string shorter = sim.dir().file_with("short.hex", ONE_WORD);
  ASSERT_EQ(sim.run({"writeprogram", longer}).out, WRITTEN);

  const test::run_result got = sim.run({"program", shorter});
  EXPECT_EQ(got.out, READING + test::BLANK_IDS + DONE + WRITTEN + test::verified(0));
  EXPECT_EQ(got.err, "");
  std::vector<std::uint16_t> expected(600, 0x3FFF);
  expected[0] = 0x1234;
  EXPECT_EQ(sim.run({"readprogram", "600"}).out, test::dump(expected));
}

}  // namespace
}  // namespace ttyprog
