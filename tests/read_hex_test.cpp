// readhex: program memory backed up as Intel HEX that writeprogram takes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/hex_image.h"
#include "image/hex_writer.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/simulator.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

const std::string SAMPLE = std::string(TTYPROG_SOURCE_DIR) + "/examples/sample.hex";

// The backup is the test: write a file, back it up, erase, write the backup, verify the file.
TEST(ReadHex, ABackupWrittenBackVerifiesAgainstTheOriginal) {
  test::simulator sim;
  ASSERT_EQ(sim.run({"writeprogram", SAMPLE}).out, "Done.\n");
  const test::run_result backup = sim.run({"readhex"});
  EXPECT_EQ(backup.exit_code, 0);
  EXPECT_EQ(backup.err, "");
  ASSERT_GE(backup.out.size(), 12u);
  EXPECT_EQ(backup.out.substr(backup.out.size() - 12), ":00000001FF\n");
  // 8192 words read, 8 to a record, but only the records that hold a word in use: a restore
  // writes up to the sample's last word, not the whole memory.
  program_image image{};
  std::FILE* sample = std::fopen(SAMPLE.c_str(), "r");
  ASSERT_NE(sample, nullptr);
  ASSERT_EQ(load_hex_image(image, sample).words, 768);
  std::fclose(sample);
  std::ptrdiff_t used_records = 0;
  for (std::size_t first = 0; first < IMAGE_WORDS; first += 8) {
    used_records += std::any_of(&image[first], &image[first] + 8,
                                [](std::uint32_t w) { return w != BLANK_WORD; });
  }
  EXPECT_EQ(std::count(backup.out.begin(), backup.out.end(), '\n'), used_records + 1);

  const std::string file = sim.dir().file_with("backup.hex", backup.out);
  EXPECT_EQ(sim.run({"erase"}).out, "Done!\n");
  EXPECT_EQ(sim.run({"writeprogram", file}).out, "Done.\n");
  EXPECT_EQ(sim.run({"verifyprogram", SAMPLE}).out, "verify done. found 0 error(s).\n");
}

// Records of eight words, low byte first, a shorter last one; a record whose words are all blank
// is left out, also when it is the last.
TEST(ReadHex, PrintsRecordsOfEightWordsLowByteFirstAndLeavesOutBlankOnes) {
  test::simulator sim;
  sim.run({"writeprogram", sim.dir().file_with("in.hex", ":0400100001020304E2\n")});
  const test::run_result got = sim.run({"readhex", "20"});
  EXPECT_EQ(got.out, ":1000100001020304FF3FFF3FFF3FFF3FFF3FFF3F62\n:00000001FF\n");
  EXPECT_EQ(sim.run({"readhex", "10"}).out, ":0400100001020304E2\n:00000001FF\n");
}

// After a size error standard output holds only the records of the blocks read, with no
// end-of-file record, so the text cannot pass for a whole backup; the error goes to standard error.
TEST(ReadHex, ASizeErrorLeavesNoEndRecordAndSaysSoOnStandardError) {
  test::simulator sim({"--short-read", "2"});
  ASSERT_EQ(sim.run({"writeprogram",
                     sim.dir().file_with("in.hex", test::hex_text(test::program_of(512)))})
                .out,
            "Done.\n");
  ::setenv("TTYPROG_STRICT", "1", 1);
  const test::run_result got = sim.run({"readhex", "600"});
  ::unsetenv("TTYPROG_STRICT");
  EXPECT_EQ(got.err, test::SIZE_ERROR);
  EXPECT_EQ(got.exit_code, 2);
  EXPECT_EQ(std::count(got.out.begin(), got.out.end(), '\n'), 512 / 8);
  EXPECT_EQ(got.out.find(":00000001FF"), std::string::npos);
}

// Above 64 KiB an extended linear address record sets the upper address, once per 64 KiB.
TEST(HexWriter, SetsTheUpperAddressWithAnExtendedLinearAddressRecord) {
  std::uint16_t upper = 0;
  hex_text_chunk text{};
  const std::uint16_t words[] = {0x1234};
  format_hex_words(text, upper, 0x8001, words);
  EXPECT_STREQ(text.data(), ":020000040001F9\n:020002003412B6\n");
  EXPECT_EQ(upper, 1);
  format_hex_words(text, upper, 0x8002, words);
  EXPECT_STREQ(text.data(), ":020004003412B4\n");
}

}  // namespace
}  // namespace ttyprog
