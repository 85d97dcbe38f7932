// The slow cases of the fault and bad-input matrices (CTest label "slow"): the tool's real 10 s
// bound on a silent programmer, and a 100 MB HEX file.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/session.h"
#include "support/simulator.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;
using test::BOUND_SLACK;
using test::FAILED;
using test::NOT_RESPONDING;
using test::READING;
using test::SIZE_ERROR;
using test::TOOL_BOUND;

struct silence_case {
  const char* name;
  std::vector<std::string> sim_options;
  std::string command;
  std::string out;
  std::string wire;

  friend void PrintTo(const silence_case& c, std::ostream* os) { *os << c.name; }
};

class RealBound : public ::testing::TestWithParam<silence_case> {
 protected:
  void SetUp() override { ::unsetenv("TTYPROG_TIMEOUT"); }
};

TEST_P(RealBound, ASilentProgrammerEndsTheRunAtTenSeconds) {
  const silence_case& c = GetParam();
  test::simulator sim(c.sim_options);
  std::vector<std::string> args{c.command};
  if (c.command == "verifyprogram") {
    args.push_back(sim.dir().file_with("image.hex", test::hex_text(600, 0x3FFF)));
  }
  const test::run_result got = sim.run(args);
  EXPECT_EQ(got.out, c.out);
  EXPECT_EQ(got.err, NOT_RESPONDING);
  EXPECT_EQ(got.exit_code, 0);
  EXPECT_GE(got.elapsed, TOOL_BOUND);
  EXPECT_LT(got.elapsed, TOOL_BOUND + BOUND_SLACK);
  EXPECT_EQ(test::hex_words(sim.received()), c.wire);
}

INSTANTIATE_TEST_SUITE_P(
    Silence, RealBound,
    ::testing::Values(
        silence_case{"from_the_first_word", {"--silent-after", "1"}, "erase", FAILED, "8000"},
        // The answer starts (one byte of it) and then stops: the tool must not wait for the rest.
        silence_case{"after_half_a_word",
                     {"--split-pause", "60000"},
                     "readidandconfig",
                     READING + FAILED,
                     "8021"},
        silence_case{"in_the_middle_of_a_read_block",
                     {"--cut-answer", "1"},
                     "verifyprogram",
                     SIZE_ERROR + test::verified(0),
                     "8020 0200"}),
    test::case_name{});

// What "constant memory" allows the tool: a few MiB of its own, more under AddressSanitizer,
// whose shadow memory and allocator come on top of it.
#if defined(__SANITIZE_ADDRESS__)
constexpr long PEAK_RSS_LIMIT_KIB = 64 * 1024;
#else
constexpr long PEAK_RSS_LIMIT_KIB = 16 * 1024;
#endif

// 100 MB of good records (the same 8192 words over and over): loaded in one pass with fixed
// buffers, so the time is bounded and the memory does not grow with the file.
TEST(HugeHexFile, LoadsInBoundedTimeAndConstantMemory) {
  test::simulator sim;
  const std::string block = test::hex_text(8192, 0x1234);
  const auto path = sim.dir() / "huge.hex";
  {
    std::ofstream out(path, std::ios::binary);
    for (std::size_t written = 0; written < 100'000'000; written += block.size()) out << block;
  }
  test::run_options options;
  options.timeout = 120s;
  const test::run_result got = sim.run({"writeprogram", path.string()}, options);
  EXPECT_EQ(got.out, test::WRITTEN);
  EXPECT_LT(got.elapsed, 60s);
  rusage usage{};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);  // the tool is the only child reaped so far
  EXPECT_LT(usage.ru_maxrss, PEAK_RSS_LIMIT_KIB) << "peak RSS in KiB";
  std::printf("100 MB HEX: %lld ms, peak RSS %ld KiB\n",
              static_cast<long long>(got.elapsed.count()), usage.ru_maxrss);
  EXPECT_EQ(sim.received().size(), 8192u + 16u * 3u);
}

}  // namespace
}  // namespace ttyprog
