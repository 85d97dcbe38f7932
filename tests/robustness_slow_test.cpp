// The slow cases of the fault and bad-input matrices (CTest label "slow"): the tool's real 10 s
// bound on a silent programmer, and a 100 MB HEX file.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/expected.h"
#include "support/session.h"
#include "support/traced_sim.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;
using test::BOUND_SLACK;
using test::TOOL_BOUND;

TEST(RealBound, ProgrammerSilentInTheMiddleOfAReadBlock) {
  ::unsetenv("TTYPROG_TIMEOUT");
  test::traced_sim sim({"--cut-answer", "1"});
  const std::string hex = sim.dir().file_with("image.hex", test::hex_text(600, 0x3FFF));
  const test::run_result got = sim.run({"verifyprogram", hex});
  EXPECT_EQ(got.out, test::SIZE_ERROR + "verify done. found 0 error(s).\n");
  EXPECT_EQ(got.err, test::NOT_RESPONDING);
  EXPECT_GE(got.elapsed, TOOL_BOUND);
  EXPECT_LT(got.elapsed, TOOL_BOUND + BOUND_SLACK);
  EXPECT_EQ(test::hex_words(sim.received()), "8020 0200");
}

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
  test::traced_sim sim;
  const std::string block = test::hex_text(8192, 0x1234);
  const auto path = sim.dir() / "huge.hex";
  {
    std::ofstream out(path, std::ios::binary);
    for (std::size_t written = 0; written < 100'000'000; written += block.size()) out << block;
  }
  test::run_options options;
  options.timeout = 120s;
  const test::run_result got = sim.run({"writeprogram", path.string()}, options);
  EXPECT_EQ(got.out, "Done.\n");
  EXPECT_LT(got.elapsed, 60s);
  rusage usage{};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);  // the tool is the only child reaped so far
  EXPECT_LT(usage.ru_maxrss, PEAK_RSS_LIMIT_KIB) << "peak RSS in KiB";
  std::printf("100 MB HEX: %lld ms, peak RSS %ld KiB\n", static_cast<long long>(got.elapsed.count()),
              usage.ru_maxrss);
  EXPECT_EQ(sim.received().size(), 8192u + 16u * 3u);
}

}  // namespace
}  // namespace ttyprog
