// The real ttyprog against the real ttyprog-sim: whole runs one after another on one simulated
// programmer, with the words on the wire taken from the simulator's trace.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "image/hex_image.h"
#include "support/expected.h"
#include "support/session.h"
#include "support/simulator.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

using test::FAILED;
using test::LOST;
using test::SIZE_ERROR;

const std::string SAMPLE = std::string(TTYPROG_SOURCE_DIR) + "/examples/sample.hex";

// A simulator with a trace, and ttyprog runs against it.
class SimulatedProgrammer {
 public:
  explicit SimulatedProgrammer(std::vector<std::string> options = {})
      : sim_(with_trace(std::move(options), trace_)) {}

  test::run_result run(std::vector<std::string> args, const test::run_options& options = {}) {
    args.insert(args.begin(), sim_.path());
    return test::run_ttyprog(args, options);
  }

  // The words the tool sent so far, as "8010 0200 ...".
  std::string received() const {
    std::istringstream lines(test::read_file(trace_ / "trace"));
    std::string line, words;
    while (std::getline(lines, line)) {
      if (line.rfind("< ", 0) != 0) continue;
      if (!words.empty()) words += ' ';
      words += line.substr(2);
    }
    return words;
  }

  test::run_result stop() { return sim_.stop(); }

 private:
  static std::vector<std::string> with_trace(std::vector<std::string> options,
                                             const test::temp_dir& dir) {
    options.insert(options.end(), {"--trace", (dir / "trace").string()});
    return options;
  }

  test::temp_dir trace_;
  test::simulator sim_;
};

// The readprogram dump of the first `words` words of `image`.
std::string dump_of(const program_image& image, std::size_t words) {
  std::string text;
  char word[8];
  for (std::size_t j = 0; j < words; ++j) {
    std::snprintf(word, sizeof word, "%04x%c", static_cast<unsigned>(image[j]),
                  (j + 1) % 8 == 0 ? '\n' : ' ');
    text += word;
  }
  if (words % 8 != 0) text += '\n';
  return text;
}

program_image load_sample(int& words) {
  program_image image{};
  std::FILE* file = std::fopen(SAMPLE.c_str(), "r");
  words = load_hex_image(image, file);
  std::fclose(file);
  return image;
}

TEST(CliSimulator, SampleIsWrittenVerifiedAndReadBack) {
  int words = 0;
  const program_image image = load_sample(words);
  ASSERT_EQ(words, 768);
  SimulatedProgrammer programmer;

  EXPECT_EQ(programmer.run({"erase"}).out, "Done!\n");
  EXPECT_EQ(programmer.run({"writeprogram", SAMPLE}).out, "Done.\n");
  // 768 words go out as a block of 512 and one of 256, gaps included.
  const std::string wire = programmer.received();
  EXPECT_EQ(wire.substr(0, 15), "8000 8010 0200 ");
  EXPECT_NE(wire.find(" ffff 8010 0100 "), std::string::npos);
  EXPECT_EQ(wire.size(), std::string("8000").size() + (2 + 512 + 1 + 2 + 256 + 1) * 5);

  EXPECT_EQ(programmer.run({"verifyprogram", SAMPLE}).out, "verify done. found 0 error(s).\n");
  test::run_options from_stdin;
  from_stdin.stdin_bytes = test::read_file(SAMPLE);
  EXPECT_EQ(programmer.run({"verifyprogram"}, from_stdin).out, "verify done. found 0 error(s).\n");

  const test::run_result dump = programmer.run({"readprogram", "1001"});
  EXPECT_EQ(dump.out, dump_of(image, 1001));  // past the sample's words, blank memory
  EXPECT_EQ(dump.err, "");

  // After an erase the same file differs in every word it sets.
  EXPECT_EQ(programmer.run({"erase"}).out, "Done!\n");
  EXPECT_EQ(programmer.run({"verifyprogram", SAMPLE}).out, "verify done. found 368 error(s).\n");
  EXPECT_EQ(programmer.stop().exit_code, 0);
}

TEST(CliSimulator, IdAndConfigurationSurviveBetweenRuns) {
  SimulatedProgrammer programmer({"--device-id", "0f42"});
  EXPECT_EQ(programmer.run({"writeid", "0x1234ABCD"}).out, "writing ID 1234abcd...\nDone!\n");
  EXPECT_EQ(programmer.run({"writeconfig", "3f72"}).out,
            "writing configuration word 3f72...\nDone!\n");
  EXPECT_EQ(programmer.run({"writeconfig", "123456"}).out, "invalid configuration word!\n");
  EXPECT_EQ(programmer.run({"readidandconfig"}).out,
            "reading id informations...\nUser ID   = 1234abcd\nDevice ID = 0f42\n"
            "Config    = 3f72\n");
  EXPECT_EQ(programmer.received(), "8011 1234 abcd 8012 3f72 8021");
}

TEST(CliSimulator, NothingIsSentForInputThatCannotBeWritten) {
  test::temp_dir dir;
  struct refused_input {
    std::vector<std::string> args;
    std::string out;
  };
  const refused_input cases[] = {
      {{"writeprogram", (dir / "missing.hex").string()}, "input file open failed!\n"},
      {{"writeprogram", dir.file_with("bad.hex", ":0400100001020304E3\n")}, "invalid hex file!\n"},
      {{"verifyprogram", dir.file_with("bad.hex", ":0400100001020304E3\n")}, "invalid hex file!\n"},
      {{"writeprogram", dir.file_with("ffff.hex", ":04001000FFFF0304E7\n")},
       "word ffff at 0008 cannot be written!\n"},
      {{"writeid", "12zz"}, "invalid ID!\n"},
      {{"writeprogram", dir.file_with("empty.hex", ":00000001FF\n")}, "Done.\n"},
  };
  SimulatedProgrammer programmer;
  for (const refused_input& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    const test::run_result got = programmer.run(c.args);
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.exit_code, 0);
  }
  EXPECT_EQ(programmer.received(), "");
}

TEST(CliSimulator, FaultsEndTheCommandWithTheirLines) {
  test::temp_dir dir;
  // 1000 words: two write blocks.
  const std::string thousand = dir.file_with("1000.hex", ":0207CE003412E3\n");
  struct fault_case {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::string> args;
    std::string out;
    std::string err;
  };
  const fault_case cases[] = {
      {"refused second block", {"--refuse", "2"}, {"writeprogram", thousand}, FAILED, ""},
      {"short second read block", {"--short-read", "2"}, {"verifyprogram", thousand},
       SIZE_ERROR + "verify done. found 0 error(s).\n", ""},
      {"long read block", {"--long-read", "1"}, {"readprogram", "8"}, SIZE_ERROR, ""},
      {"hang-up in a write block", {"--hang-up-after", "5"}, {"writeprogram", thousand}, FAILED,
       LOST},
  };
  for (const fault_case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedProgrammer programmer(c.options);
    const test::run_result got = programmer.run(c.args);
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.err, c.err);
    EXPECT_EQ(got.exit_code, 0);
  }
}

TEST(CliSimulator, ARefusedFirstBlockStopsTheSecond) {
  test::temp_dir dir;
  SimulatedProgrammer programmer({"--refuse", "1"});
  EXPECT_EQ(programmer.run({"writeprogram", dir.file_with("1000.hex", ":0207CE003412E3\n")}).out,
            FAILED);
  const std::string wire = programmer.received();
  EXPECT_EQ(wire.find("8010"), 0u);
  EXPECT_EQ(wire.find("8010", 1), std::string::npos);
  EXPECT_EQ(wire.size(), (2 + 512 + 1) * 5 - 1);
}

TEST(CliSimulator, PacedLineTakesTheTimeOfRealBytesAndProgramming) {
  test::temp_dir dir;
  // 16 words: 2 + 16 + 1 words in (38 bytes), one status word out (2 bytes), 16 words programmed.
  const std::string sixteen = dir.file_with(
      "16.hex", ":10000000000102030405060708090A0B0C0D0E0F78\n:10001000101112131415161718191A1B1C1D1E1F68\n");
  SimulatedProgrammer programmer({"--pace", "--word-time", "5000"});
  const test::run_result got = programmer.run({"writeprogram", sixteen});
  EXPECT_EQ(got.out, "Done.\n");
  EXPECT_GE(got.elapsed, std::chrono::milliseconds(16 * 5 + 40));
  EXPECT_LT(got.elapsed, test::PROMPTLY);
}

}  // namespace
}  // namespace ttyprog
