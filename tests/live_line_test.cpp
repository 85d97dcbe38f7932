// The line at its real speed: answers that come before their request has fully arrived, after the
// last answer, without being asked, or not to ttyprog at all. Each case is what a user saw on a
// paced line or a loaded machine: a success line the programmer never backed, a bound that ran out
// while the request was still on its way, or a run that spun for ever.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/expected.h"
#include "support/hex_text.h"
#include "support/programmer.h"
#include "support/pty.h"
#include "support/scoped_env.h"
#include "support/session.h"
#include "support/simulator.h"
#include "support/temp_dir.h"
#include "wire.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;

constexpr int STRICT_UNEXPECTED = 2;
constexpr int STRICT_NOT_RESPONDING = 3;

// Two blocks: 512 + 88 words.
constexpr std::size_t FILE_WORDS = 600;
constexpr std::size_t FIRST_BLOCK = BLOCK_WORDS + 3;  // 8010, length, words, ffff

// The bound counts the programmer's silence once the request has left. A 515-word block takes
// 1.07 s to cross the line, and 0.51 s more to be programmed (1 ms a word): with a bound of 1.2 s
// counted from the write, the answer would be late.
TEST(AnswerClock, StartsWhenTheRequestHasLeftTheLine) {
  test::simulator sim({"--pace", "--word-time", "1000"});
  const test::scoped_env bound("TTYPROG_TIMEOUT", "1.2");
  const test::run_result got = sim.run(
      {"writeprogram", sim.dir().file_with("image.hex", test::hex_text(FILE_WORDS, 0x2805))});
  EXPECT_EQ(got.out, test::WRITTEN);
  EXPECT_EQ(got.err, "");
  EXPECT_EQ(sim.received().size(), FIRST_BLOCK + 88 + 3);
}

// A success status that comes while the block is still arriving answers nothing: the block's own
// answer, a refusal, follows it.
TEST(EarlyAnswer, FromAProgrammerStillReceivingTheBlockIsNoSuccess) {
  const test::scoped_env strict("TTYPROG_STRICT", "1");
  test::temp_dir dir;
  constexpr std::size_t words = 16;
  // c000 after the first data word; c001 10 ms after the block is complete.
  const test::session_result got = test::run_with_programmer(
      {test::scripted({{3, {REPLY_OK}}, {words, {}, false, {0xC001}, 10ms}})},
      {"writeprogram", dir.file_with("image.hex", test::hex_text(words, 0x2805))});
  EXPECT_EQ(got.run.out, test::FAILED);
  EXPECT_EQ(got.run.err, test::UNEXPECTED);
  EXPECT_EQ(got.run.exit_code, STRICT_UNEXPECTED);
}

// The same from the paced simulator. On a pseudo-terminal the early word is told only by what
// follows it within the settle time, so the block is short: its early word goes out at 8 byte
// times, its refusal 16 ms later (10 bytes on the line, 2 words programmed).
TEST(EarlyAnswer, FromThePacedSimulatorIsNoSuccess) {
  test::simulator sim({"--pace", "--early-status", "1", "--refuse", "1"});
  const test::scoped_env strict("TTYPROG_STRICT", "1");
  const test::run_result got =
      sim.run({"writeprogram", sim.dir().file_with("image.hex", test::hex_text(2, 0x2805))});
  EXPECT_EQ(got.out, test::FAILED);
  EXPECT_EQ(got.err, test::UNEXPECTED);
  EXPECT_EQ(got.exit_code, STRICT_UNEXPECTED);
}

// The first block is answered c000 c000, the second word two byte times after the first; the
// second block would be refused. The surplus word must stop the run before the second block,
// where it would pass for that block's status.
TEST(Settle, ASurplusStatusBetweenBlocksStopsTheRun) {
  test::simulator sim({"--pace", "--extra-status", "1", "--refuse", "2"});
  const test::scoped_env strict("TTYPROG_STRICT", "1");
  const test::run_result got = sim.run(
      {"writeprogram", sim.dir().file_with("image.hex", test::hex_text(FILE_WORDS, 0x2805))});
  EXPECT_EQ(got.out, test::FAILED);
  EXPECT_EQ(got.err, test::UNEXPECTED);
  EXPECT_EQ(got.exit_code, STRICT_UNEXPECTED);
  EXPECT_EQ(sim.received().size(), FIRST_BLOCK);
}

// A line that never goes quiet: no word of it is an answer, and the run ends within its bound.
TEST(Chatter, EndsTheRunWithinTheBoundAndExitCodeTwo) {
  test::simulator sim({"--pace", "--chatter"});
  const test::scoped_env strict("TTYPROG_STRICT", "1");
  const test::scoped_env bound("TTYPROG_TIMEOUT", "0.5");
  const test::run_result erase = sim.run({"erase"});
  EXPECT_EQ(erase.out, test::FAILED);
  EXPECT_EQ(erase.err, test::SENDS_UNASKED);
  EXPECT_EQ(erase.exit_code, STRICT_UNEXPECTED);
  EXPECT_LT(erase.elapsed, 500ms + test::PROMPTLY);

  const test::run_result ids = sim.run({"readidandconfig"});
  EXPECT_EQ(ids.out, test::READING + test::FAILED);
  EXPECT_EQ(ids.err, test::SENDS_UNASKED);
  EXPECT_EQ(ids.exit_code, STRICT_UNEXPECTED);
  EXPECT_LT(ids.elapsed, 500ms + test::PROMPTLY);
  EXPECT_TRUE(sim.received().empty()) << test::hex_words(sim.received());
}

// Sends `word` on the master `count` times, `period` apart, from a thread of its own.
class repeater {
 public:
  repeater(int master, std::uint16_t word, int count, std::chrono::milliseconds period)
      : thread_([=, this] {
          const std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(word >> 8),
                                                static_cast<std::uint8_t>(word & 0xFF)};
          for (int i = 0; i < count && !stop_; ++i) {
            test::write_bytes(master, bytes);
            std::this_thread::sleep_for(period);
          }
        }) {}
  repeater(const repeater&) = delete;
  repeater& operator=(const repeater&) = delete;
  ~repeater() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// CPU time (user + system) of the children reaped so far.
std::chrono::milliseconds children_cpu_time() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1000 + t.tv_usec / 1000; };
  return std::chrono::milliseconds(ms(usage.ru_utime) + ms(usage.ru_stime));
}

// Root opens an exclusive terminal all the same: a second reader in a blocking read takes every
// byte of the answer (it even holds the line's read lock while it waits, so ttyprog's own reads
// find nothing). ttyprog may see the bytes queued for a moment, but never gets them: the run ends
// at its bound as for a silent programmer, without spinning.
TEST(SecondReader, TakesTheAnswersAndTheRunEndsAtItsBoundWithoutSpinning) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can open the exclusive port a second time";
  const test::scoped_env strict("TTYPROG_STRICT", "1");
  const test::scoped_env bound("TTYPROG_TIMEOUT", "1");
  test::pty_pair pty;
  test::programmer recorder(pty, {});
  const auto cpu_before = children_cpu_time();
  test::run_options limit;
  limit.timeout = 6s;
  test::child_process tool(TTYPROG_BIN, {TTYPROG_BIN, pty.slave_path(), "erase"}, limit);
  ASSERT_TRUE(recorder.wait_for_words(1, test::PROMPTLY));

  std::atomic<std::size_t> taken{0};
  const int second = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(second, 0);
  std::thread reader([&] {
    std::uint8_t buffer[256];
    ssize_t n = 0;
    while ((n = ::read(second, buffer, sizeof buffer)) > 0) taken += static_cast<std::size_t>(n);
  });
  test::run_result got;
  {
    // The answer, and more of it for 300 ms: each one a chance for ttyprog to see bytes queued.
    std::this_thread::sleep_for(20ms);
    repeater answers(pty.master(), REPLY_OK, 100, 3ms);
    got = tool.wait();
  }
  const auto cpu = children_cpu_time() - cpu_before;
  recorder.finish();
  pty.close_master();  // the second reader sees the hang-up
  reader.join();
  ::close(second);

  EXPECT_FALSE(got.timed_out);
  EXPECT_EQ(got.out, test::FAILED);
  EXPECT_EQ(got.err, test::NOT_RESPONDING);
  EXPECT_EQ(got.exit_code, STRICT_NOT_RESPONDING);
  EXPECT_LT(got.elapsed, 1s + test::PROMPTLY);
  EXPECT_LT(cpu * 4, got.elapsed) << "CPU " << cpu.count() << " ms in " << got.elapsed.count()
                                  << " ms";
  EXPECT_GT(taken.load(), 0u) << "the second reader took nothing";
}

}  // namespace
}  // namespace ttyprog
