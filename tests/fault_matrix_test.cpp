// Every command that talks to the programmer against every line fault, end to end: the real
// ttyprog on the simulator's terminal. Each cell checks what the user sees (stdout, stderr, exit
// code), how long the run took, that nothing was sent after the failure, and that the port is
// free again at once. The programmer's silence is bounded by a short TTYPROG_TIMEOUT here; the
// real 10 s bound has its own slow test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/session.h"
#include "support/simulator.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;
using test::FAILED;
using test::LOST;
using test::NOT_RESPONDING;
using test::PROMPTLY;
using test::READING;
using test::SIZE_ERROR;

const std::string UNEXPECTED = "Unexpected data from programmer!\n";

// The rest of an earlier answer trickling in after the open: 24 bytes, 25 ms at the line rate,
// longer than the quiet time the open waits for.
const char* const LATE_STALE = "c000c000c000c000c000c000c000c000c000c000c000c000";

constexpr auto SHORT_BOUND = 300ms;
const char* const SHORT_BOUND_TEXT = "0.3";

// The HEX file of writeprogram and verifyprogram spans two blocks (512 + 88 words) of blank
// words, so a fresh simulator verifies it without a difference; readprogram reads as many.
constexpr std::size_t FILE_WORDS = 600;
constexpr std::size_t FIRST_WRITE_BLOCK = 512 + 3;  // 8010, length, words, ffff

enum class command {
  erase,
  eraseall,
  writeid,
  writeconfig,
  readids,
  readprogram,
  writeprogram,
  verifyprogram
};

// Output lines on success and at a failure in the first (or, for reads, the second) block.
const std::string IDS = test::ids("ffffffff", test::DEVICE_ID_TEXT, "3fff");
const std::string WRITING_ID = test::writing_id("1234abcd");
const std::string WRITING_CONFIG = test::writing_config("3f72");
const std::string VERIFIED = test::verified(0);

std::string blank_dump(std::size_t words) {
  return test::dump(std::vector<std::uint16_t>(words, 0x3FFF));
}

std::string success(command c) {
  switch (c) {
    case command::erase:
    case command::eraseall: return test::DONE;
    case command::writeid: return WRITING_ID + test::DONE;
    case command::writeconfig: return WRITING_CONFIG + test::DONE;
    case command::readids: return READING + IDS;
    case command::readprogram: return blank_dump(FILE_WORDS);
    case command::writeprogram: return test::WRITTEN;
    case command::verifyprogram: return VERIFIED;
  }
  return {};
}

// The failure lines when the first exchange fails.
std::string failure(command c) {
  switch (c) {
    case command::writeid: return WRITING_ID + FAILED;
    case command::writeconfig: return WRITING_CONFIG + FAILED;
    case command::readids: return READING + FAILED;
    case command::readprogram: return SIZE_ERROR;
    case command::verifyprogram: return SIZE_ERROR + VERIFIED;
    default: return FAILED;
  }
}

// Words of the whole first request.
std::size_t first_request(command c) {
  switch (c) {
    case command::writeid: return 3;
    case command::writeconfig:
    case command::readprogram:
    case command::verifyprogram: return 2;
    case command::writeprogram: return FIRST_WRITE_BLOCK;
    default: return 1;
  }
}

// Words of a whole successful run.
std::size_t whole_run(command c) {
  switch (c) {
    case command::readprogram:
    case command::verifyprogram: return 4;
    case command::writeprogram: return FIRST_WRITE_BLOCK + 88 + 3;
    default: return first_request(c);
  }
}

enum class ends { promptly, at_bound };

struct cell {
  std::string name;
  command what;
  std::vector<std::string> sim_options;
  std::string out;
  std::string err;
  std::size_t words_sent;  // exactly these many reached the programmer, none after the failure
  ends timing = ends::promptly;
  bool hangs_up = false;  // the simulator goes away with its terminal
  bool chatters = false;  // the line never goes quiet, for a second run either
};

void PrintTo(const cell& c, std::ostream* os) { *os << c.name; }

const char* const COMMAND_NAMES[] = {"erase",        "eraseall",        "writeid",
                                     "writeconfig",  "readidandconfig", "readprogram",
                                     "writeprogram", "verifyprogram"};

std::vector<cell> matrix() {
  const std::vector<command> all{command::erase,        command::eraseall,     command::writeid,
                                 command::writeconfig,  command::readids,      command::readprogram,
                                 command::writeprogram, command::verifyprogram};
  auto is_status = [](command c) {
    return c != command::readids && c != command::readprogram && c != command::verifyprogram;
  };
  auto is_read_block = [](command c) {
    return c == command::readprogram || c == command::verifyprogram;
  };
  auto named = [](const char* fault, command c) {
    return std::string(fault) + "_" + COMMAND_NAMES[static_cast<int>(c)];
  };
  const std::string LAST_READ = blank_dump(512) + SIZE_ERROR;  // readprogram, second block bad

  // The rows are laid out as a table, a row's fields together.
  // clang-format off
  std::vector<cell> cells;
  for (command c : all) {
    const std::string req = std::to_string(first_request(c));
    cells.push_back({named("silent_from_first_word", c), c, {"--silent-after", "1"}, failure(c),
                     NOT_RESPONDING, first_request(c), ends::at_bound});
    cells.push_back({named("hang_up_before_answer", c), c, {"--hang-up-after", req}, failure(c), LOST,
                     first_request(c), ends::promptly, true});
    // The whole first answer, then the line drops before it could be proven quiet: no success.
    cells.push_back({named("hang_up_after_answer", c), c, {"--hang-up-after-answer", "1"}, failure(c),
                     LOST, first_request(c), ends::promptly, true});
    cells.push_back(is_status(c)
                        ? cell{named("refused", c), c, {"--refuse", "1"}, failure(c), "", first_request(c)}
                        : cell{named("refused_harmless", c), c, {"--refuse", "1"}, success(c), "", whole_run(c)});
    // Read blocks: the second block comes back a word short, the first a word long.
    if (is_read_block(c)) {
      const std::string second = c == command::readprogram ? LAST_READ : SIZE_ERROR + VERIFIED;
      cells.push_back({named("short_read", c), c, {"--short-read", "2"}, second, "", 4});
      cells.push_back({named("long_read", c), c, {"--long-read", "1"}, failure(c), "", 2});
    } else {
      cells.push_back({named("short_read_harmless", c), c, {"--short-read", "1"}, success(c), "", whole_run(c)});
      cells.push_back({named("long_read_harmless", c), c, {"--long-read", "1"}, success(c), "", whole_run(c)});
    }
    // Half a word waits 100 ms for its second byte (2 ms in the long read answers).
    cells.push_back({named("split_words", c), c, {"--split-pause", is_read_block(c) ? "2" : "100"},
                     success(c), "", whole_run(c)});
    // A success status and half a word already queued: taken as an answer, they would pass a
    // refused exchange off as done, or shift every word read.
    cells.push_back({named("stale_input", c), c, {"--stale", "c000c0", "--refuse", "1"},
                     is_status(c) ? failure(c) : success(c), "",
                     is_status(c) ? first_request(c) : whole_run(c)});
    // The same words still arriving after the open: the open waits until the line is quiet.
    cells.push_back({named("late_stale_input", c), c, {"--late-stale", LATE_STALE, "--refuse", "1"},
                     is_status(c) ? failure(c) : success(c), "",
                     is_status(c) ? first_request(c) : whole_run(c)});
    // A programmer that sends c000 without end from the open on: the line never goes quiet, and
    // no word of it may pass for an answer.
    cells.push_back({named("chatter", c), c, {"--pace", "--chatter"}, failure(c), test::SENDS_UNASKED,
                     0, ends::promptly, false, true});
  }
  // A surplus status word after the last exchange of a single command (c000 c000 at once, or the
  // second one two byte times later on the paced line): the success line waits for a quiet line.
  for (command c : {command::erase, command::eraseall, command::writeid, command::writeconfig}) {
    cells.push_back({named("extra_status", c), c, {"--extra-status", "1"}, failure(c), UNEXPECTED,
                     first_request(c)});
    cells.push_back({named("extra_status_paced", c), c, {"--pace", "--extra-status", "1"}, failure(c),
                     UNEXPECTED, first_request(c)});
  }
  // A surplus status word (c000 c000 for the first block) answers nothing the tool asked: the
  // next block is not sent into it.
  cells.push_back({"extra_status_writeprogram", command::writeprogram, {"--extra-status", "1"},
                   FAILED, UNEXPECTED, FIRST_WRITE_BLOCK});
  // Faults in the middle of a block (or of a longer request or answer).
  cells.push_back({"silent_mid_block_writeprogram", command::writeprogram, {"--silent-after", "100"},
                   FAILED, NOT_RESPONDING, FIRST_WRITE_BLOCK, ends::at_bound});
  cells.push_back({"silent_mid_request_writeid", command::writeid, {"--silent-after", "2"},
                   failure(command::writeid), NOT_RESPONDING, 3, ends::at_bound});
  cells.push_back({"hang_up_mid_block_writeprogram", command::writeprogram, {"--hang-up-after", "100"},
                   FAILED, LOST, 100, ends::promptly, true});
  cells.push_back({"hang_up_mid_request_writeid", command::writeid, {"--hang-up-after", "2"},
                   failure(command::writeid), LOST, 2, ends::promptly, true});
  for (command c : {command::readids, command::readprogram, command::verifyprogram}) {
    cells.push_back({named("silent_mid_answer", c), c, {"--cut-answer", "1"}, failure(c), NOT_RESPONDING,
                     first_request(c), ends::at_bound});
    cells.push_back({named("hang_up_mid_answer", c), c, {"--hang-up-in-answer", "1"}, failure(c), LOST,
                     first_request(c), ends::promptly, true});
  }
  // Any status but c000 is a refusal, the terminator's value and zero included.
  for (command c : all) {
    if (!is_status(c)) continue;
    cells.push_back({named("refused_with_0000", c), c, {"--refuse", "1", "--refuse-status", "0000"},
                     failure(c), "", first_request(c)});
    cells.push_back({named("refused_with_ffff", c), c, {"--refuse", "1", "--refuse-status", "ffff"},
                     failure(c), "", first_request(c)});
  }
  // A refusal after a good block; a short first read block stops the rest.
  cells.push_back({"refused_second_block_writeprogram", command::writeprogram, {"--refuse", "2"},
                   FAILED, "", whole_run(command::writeprogram)});
  for (command c : {command::readprogram, command::verifyprogram}) {
    cells.push_back({named("short_first_read", c), c, {"--short-read", "1"}, failure(c), "", 2});
  }
  // clang-format on
  return cells;
}

class FaultMatrix : public ::testing::TestWithParam<cell> {
 protected:
  void SetUp() override { ::setenv("TTYPROG_TIMEOUT", SHORT_BOUND_TEXT, 1); }
  void TearDown() override { ::unsetenv("TTYPROG_TIMEOUT"); }
};

TEST_P(FaultMatrix, EndsInTimeWithTheFailureLinesAndFreesThePort) {
  const cell& c = GetParam();
  test::simulator sim(c.sim_options);
  ASSERT_FALSE(sim.path().empty());

  std::vector<std::string> args{COMMAND_NAMES[static_cast<int>(c.what)]};
  if (c.what == command::writeid) args.push_back("1234abcd");
  if (c.what == command::writeconfig) args.push_back("3f72");
  if (c.what == command::readprogram) args.push_back(std::to_string(FILE_WORDS));
  if (c.what == command::writeprogram || c.what == command::verifyprogram) {
    args.push_back(sim.dir().file_with("image.hex", test::hex_text(FILE_WORDS, 0x3FFF)));
  }

  const test::run_result got = sim.run(args);
  EXPECT_EQ(got.out, c.out);
  EXPECT_EQ(got.err, c.err);
  EXPECT_EQ(got.exit_code, 0);
  EXPECT_FALSE(got.timed_out);
  if (c.timing == ends::at_bound) {
    EXPECT_GE(got.elapsed, SHORT_BOUND);
  }
  EXPECT_LT(got.elapsed, c.timing == ends::at_bound ? SHORT_BOUND + PROMPTLY : PROMPTLY);
  // A hang-up is seen the moment it happens, not at any bound.
  if (c.hangs_up) {
    EXPECT_LT(got.elapsed, 1s);
  }
  EXPECT_EQ(sim.received().size(), c.words_sent) << test::hex_words(sim.received());

  if (c.hangs_up) {
    EXPECT_EQ(sim.wait().exit_code, 0);  // the terminal is gone with the simulator
    return;
  }
  if (c.chatters) return;
  // A second run opens the port at once (an unknown command opens it and sends nothing).
  const test::run_result again = sim.run({"probe"});
  EXPECT_EQ(again.out, test::INVALID_COMMAND);
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_LT(again.elapsed, PROMPTLY);
  EXPECT_EQ(sim.received().size(), c.words_sent);
}

INSTANTIATE_TEST_SUITE_P(Line, FaultMatrix, ::testing::ValuesIn(matrix()), test::case_name{});

// A fault the simulator does not play: a block answered by one status word too many. The surplus
// word is still waiting when the next block would go out; taken as that block's status, it would
// pass a refused block off as written.
TEST(SurplusAnswer, StopsTheNextRequestBeforeItIsSent) {
  test::temp_dir dir;
  const std::string file = dir.file_with("image.hex", test::hex_text(FILE_WORDS, 0x3FFF));
  const test::session_result got = test::run_with_programmer(
      {test::scripted({{FIRST_WRITE_BLOCK, {0xC000, 0xC000}}, {88 + 3, {0xC001}}})},
      {"writeprogram", file});
  EXPECT_EQ(got.run.out, FAILED);
  EXPECT_EQ(got.run.err, test::UNEXPECTED);
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_EQ(got.wire.size(), FIRST_WRITE_BLOCK);
}

// A word after the last answer of a read (the IDs, or a block's end): it answers nothing, so the
// values read are not trusted. Nothing of that answer is printed (the IDs, the block's dump or
// HEX records), no verify count takes it in, and no HEX end-of-file record closes the text. The
// programmer sends the word 5 ms after its answer, well within the time the line must stay quiet.
struct surplus_case {
  std::string name;
  std::vector<std::string> args;  // after the port; FILE stands for a 16-word HEX file
  std::size_t request_words;
  std::vector<std::uint16_t> answer;
  std::string out;
  std::string err;
};

void PrintTo(const surplus_case& c, std::ostream* os) { *os << c.name; }

constexpr std::size_t SURPLUS_WORDS = 16;

std::vector<surplus_case> surplus_cases() {
  std::vector<std::uint16_t> block(SURPLUS_WORDS, 0x3FFF);
  block.push_back(0xFFFF);
  const std::string n = std::to_string(SURPLUS_WORDS);
  return {
      {"readidandconfig",
       {"readidandconfig"},
       1,
       {0xFFFF, 0xFFFF, test::DEVICE_ID, 0x3FFF},
       READING + FAILED,
       test::UNEXPECTED},
      {"readprogram", {"readprogram", n}, 2, block, SIZE_ERROR, test::UNEXPECTED},
      {"verifyprogram",
       {"verifyprogram", "FILE"},
       2,
       block,
       SIZE_ERROR + VERIFIED,
       test::UNEXPECTED},
      {"readhex", {"readhex", n}, 2, block, "", SIZE_ERROR + test::UNEXPECTED},
  };
}

class SurplusAfterLastAnswer : public ::testing::TestWithParam<surplus_case> {};

TEST_P(SurplusAfterLastAnswer, IsNoSuccess) {
  const surplus_case& c = GetParam();
  test::temp_dir dir;
  std::vector<std::string> args = c.args;
  for (std::string& arg : args) {
    if (arg == "FILE") arg = dir.file_with("image.hex", test::hex_text(SURPLUS_WORDS, 0x3FFF));
  }
  const test::session_result got = test::run_with_programmer(
      {test::scripted({{c.request_words, c.answer, false, {0xC000}, 5ms}})}, args);
  EXPECT_EQ(got.run.out, c.out);
  EXPECT_EQ(got.run.err, c.err);
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_EQ(got.wire.size(), c.request_words) << test::hex_words(got.wire);
}

INSTANTIATE_TEST_SUITE_P(Line, SurplusAfterLastAnswer, ::testing::ValuesIn(surplus_cases()),
                         test::case_name{});

}  // namespace
}  // namespace ttyprog
