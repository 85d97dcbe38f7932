// The real ttyprog against the real ttyprog-sim: whole runs one after another on one simulated
// programmer, each reading back what an earlier one wrote, with the words on the wire taken from
// the simulator's trace.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/hex_image.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/session.h"
#include "support/simulator.h"

namespace ttyprog {
namespace {

using test::DONE;
using test::hex_words;
using test::verified;
using test::WRITTEN;

const std::string SAMPLE = std::string(TTYPROG_SOURCE_DIR) + "/examples/sample.hex";

TEST(RoundTrip, SampleIsWrittenVerifiedAndReadBack) {
  program_image image{};
  std::FILE* file = std::fopen(SAMPLE.c_str(), "r");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(load_hex_image(image, file).words, 768);
  std::fclose(file);
  test::simulator sim;

  EXPECT_EQ(sim.run({"erase"}).out, DONE);
  EXPECT_EQ(sim.run({"writeprogram", SAMPLE}).out, WRITTEN);
  // 768 words go out as a block of 512 and one of 256, gaps included.
  const std::string wire = hex_words(sim.received());
  EXPECT_EQ(wire.substr(0, 15), "8000 8010 0200 ");
  EXPECT_NE(wire.find(" ffff 8010 0100 "), std::string::npos);
  EXPECT_EQ(wire.size(), std::string("8000").size() + (2 + 512 + 1 + 2 + 256 + 1) * 5);

  EXPECT_EQ(sim.run({"verifyprogram", SAMPLE}).out, verified(0));
  EXPECT_EQ(sim.run({"verifyprogram"}, {.stdin_bytes = test::read_file(SAMPLE)}).out, verified(0));

  // Past the sample's words, blank memory.
  std::vector<std::uint16_t> first_words(1001);
  for (std::size_t i = 0; i < first_words.size(); ++i) {
    first_words[i] = static_cast<std::uint16_t>(image[i]);
  }
  const test::run_result dump = sim.run({"readprogram", "1001"});
  EXPECT_EQ(dump.out, test::dump(first_words));
  EXPECT_EQ(dump.err, "");

  // After an erase the same file differs in every word it sets.
  EXPECT_EQ(sim.run({"erase"}).out, DONE);
  EXPECT_EQ(sim.run({"verifyprogram", SAMPLE}).out, verified(368));
  EXPECT_EQ(sim.stop().exit_code, 0);
}

TEST(RoundTrip, IdAndConfigurationSurviveBetweenRuns) {
  test::simulator sim;
  EXPECT_EQ(sim.run({"writeid", "0x1234ABCD"}).out, test::writing_id("1234abcd") + DONE);
  EXPECT_EQ(sim.run({"writeconfig", "3f72"}).out, test::writing_config("3f72") + DONE);
  EXPECT_EQ(sim.run({"writeconfig", "123456"}).out, test::INVALID_CONFIG);
  EXPECT_EQ(sim.run({"readidandconfig"}).out,
            test::READING + test::ids("1234abcd", test::DEVICE_ID_TEXT, "3f72"));
  EXPECT_EQ(hex_words(sim.received()), "8011 1234 abcd 8012 3f72 8021");
}

TEST(RoundTrip, PacedLineTakesTheTimeOfRealBytesAndProgramming) {
  // 16 words: 2 + 16 + 1 words in (38 bytes), one status word out (2 bytes), 16 words programmed.
  test::simulator sim({"--pace", "--word-time", "5000"});
  const std::string sixteen = sim.dir().file_with("16.hex", test::hex_text(test::program_of(16)));
  const test::run_result got = sim.run({"writeprogram", sixteen});
  EXPECT_EQ(got.out, WRITTEN);
  EXPECT_GE(got.elapsed, std::chrono::milliseconds(16 * 5 + 40));
  EXPECT_LT(got.elapsed, test::PROMPTLY);
}

}  // namespace
}  // namespace ttyprog
