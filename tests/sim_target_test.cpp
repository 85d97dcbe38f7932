// The simulator's target model, word by word: what each request is answered with, how the block
// position moves, what becomes of malformed requests, and the faults it can play. The bytes, the
// sessions and the command line of the built simulator are in sim_pty_test.cpp.
#include "sim_target.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/expected.h"

namespace ttyprog::sim {
namespace {

using test::DEVICE_ID;
using words = std::vector<std::uint16_t>;

// Feeds every word and collects every answer word, in order.
words run(sim_target& target, const words& in) {
  words out;
  for (std::uint16_t w : in) {
    answer a = target.feed(w);
    out.insert(out.end(), a.view().begin(), a.view().end());
  }
  return out;
}

words write_block(const words& data) {
  words request{CMD_WRITE_PROGRAM, static_cast<std::uint16_t>(data.size())};
  request.insert(request.end(), data.begin(), data.end());
  request.push_back(END_OF_BLOCK);
  return request;
}

words read_block(std::uint16_t n) { return {CMD_READ_PROGRAM, n}; }

words with_end(words data) {
  data.push_back(END_OF_BLOCK);
  return data;
}

// --- Single exchanges ---------------------------------------------------------------------------

TEST(SimTarget, SingleExchangesAnswerAndChangeTheTarget) {
  sim_target target({.device_id = DEVICE_ID, .user_id = 0x00123456, .config = 0x3F72});
  EXPECT_EQ(run(target, {CMD_READ_ID_CONFIG}), (words{0x0012, 0x3456, DEVICE_ID, 0x3F72}));

  EXPECT_EQ(run(target, {CMD_WRITE_ID, 0x1234, 0xABCD}), words{REPLY_OK});
  EXPECT_EQ(run(target, {CMD_WRITE_CONFIG, 0x3456}), words{REPLY_OK});
  EXPECT_EQ(run(target, {CMD_READ_ID_CONFIG}), (words{0x1234, 0xABCD, DEVICE_ID, 0x3456}));

  // Answers come only once the request is complete.
  EXPECT_EQ(run(target, {CMD_WRITE_ID, 0x0001}), words{});
  EXPECT_EQ(run(target, {0x0002}), words{REPLY_OK});
  EXPECT_EQ(target.user_id(), 0x00010002u);
}

TEST(SimTarget, EraseBlanksProgramMemoryAndEraseAllEverything) {
  sim_target target({.device_id = DEVICE_ID, .user_id = 0x11112222, .config = 0x0123});
  run(target, write_block({0x0001, 0x0002}));
  EXPECT_EQ(run(target, {CMD_ERASE}), words{REPLY_OK});
  EXPECT_EQ(target.program_word(0), MEMORY_BLANK);
  EXPECT_EQ(target.user_id(), 0x11112222u);
  EXPECT_EQ(target.config(), 0x0123);

  run(target, write_block({0x0001}));
  EXPECT_EQ(run(target, {CMD_ERASE_ALL}), words{REPLY_OK});
  EXPECT_EQ(target.program_word(0), MEMORY_BLANK);
  EXPECT_EQ(target.user_id(), USER_ID_BLANK);
  EXPECT_EQ(target.config(), CONFIG_BLANK);
}

// --- Block position -----------------------------------------------------------------------------

TEST(SimTarget, BlocksOfOneKindContinueAndASwitchOfKindStartsAtZero) {
  sim_target target;
  EXPECT_EQ(run(target, write_block({1, 2, 3})), words{REPLY_OK});
  EXPECT_EQ(run(target, write_block({4, 5})), words{REPLY_OK});
  EXPECT_EQ(target.block_position(), 5u);

  // Reading after writing starts again at word 0, and reads continue from each other.
  EXPECT_EQ(run(target, read_block(2)), with_end({1, 2}));
  EXPECT_EQ(run(target, read_block(4)), with_end({3, 4, 5, MEMORY_BLANK}));

  // Writing after reading starts at word 0 too.
  run(target, write_block({9}));
  EXPECT_EQ(target.program_word(0), 9);
  EXPECT_EQ(target.program_word(1), 2);

  // Other requests between blocks do not move the position.
  run(target, {CMD_READ_ID_CONFIG});
  run(target, write_block({8}));
  EXPECT_EQ(target.program_word(1), 8);
}

TEST(SimTarget, ReadsPastTheEndAnswerOnlyTheWordsThatExist) {
  sim_target target;
  // 16 blocks of 512 fill the memory exactly; position 8192 is then the end.
  for (int block = 0; block < 16; ++block) {
    EXPECT_EQ(run(target, read_block(512)).size(), 513u);
  }
  EXPECT_EQ(run(target, read_block(4)), words{END_OF_BLOCK});

  target.new_session();
  for (int block = 0; block < 15; ++block) run(target, read_block(512));
  run(target, read_block(510));
  EXPECT_EQ(run(target, read_block(4)), with_end({MEMORY_BLANK, MEMORY_BLANK}));

  // Lengths the protocol does not allow get an empty block and do not move the position.
  target.new_session();
  EXPECT_EQ(run(target, read_block(0)), words{END_OF_BLOCK});
  EXPECT_EQ(run(target, read_block(513)), words{END_OF_BLOCK});
  EXPECT_EQ(target.block_position(), 0u);
}

// --- Malformed requests -------------------------------------------------------------------------

struct bad_request {
  const char* name;
  words request;
  words answer;
};

void PrintTo(const bad_request& c, std::ostream* out) { *out << c.name; }

class SimTargetBadRequest : public ::testing::TestWithParam<bad_request> {};

TEST_P(SimTargetBadRequest, IsRefusedStoresNothingAndTheNextRequestIsUnderstood) {
  const bad_request& c = GetParam();
  sim_target target;
  run(target, {CMD_READ_PROGRAM, 1});  // some history, so "nothing changed" means something
  EXPECT_EQ(run(target, c.request), c.answer);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(target.program_word(i), MEMORY_BLANK) << i;
  EXPECT_EQ(run(target, {CMD_WRITE_CONFIG, 0x0055}), words{REPLY_OK});
  EXPECT_EQ(target.config(), 0x0055);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimTargetBadRequest,
    ::testing::Values(
        bad_request{"UnknownCommand", {0x8002}, {STATUS_BAD_REQUEST}},
        bad_request{
            "DataWordAsCommand", {0x1234, 0x5678}, {STATUS_BAD_REQUEST, STATUS_BAD_REQUEST}},
        bad_request{"LengthZero", {CMD_WRITE_PROGRAM, 0, END_OF_BLOCK}, {STATUS_BAD_REQUEST}},
        bad_request{"LengthTooLarge",
                    {CMD_WRITE_PROGRAM, 513, 1, 2, 3, END_OF_BLOCK},
                    {STATUS_BAD_REQUEST}},
        bad_request{"MissingEndOfBlock",
                    {CMD_WRITE_PROGRAM, 2, 1, 2, 3, 4, END_OF_BLOCK},
                    {STATUS_BAD_REQUEST}}),
    test::case_name{});

TEST(SimTarget, WriteBlockPastTheEndIsRefusedWhole) {
  sim_target target;
  for (int block = 0; block < 15; ++block) {
    ASSERT_EQ(run(target, write_block(words(512, 0x0101))), words{REPLY_OK});
  }
  EXPECT_EQ(run(target, write_block(words(511, 0x0202))), words{REPLY_OK});
  EXPECT_EQ(run(target, write_block({0x0303, 0x0404})), words{STATUS_BAD_REQUEST});
  EXPECT_EQ(target.program_word(8191), MEMORY_BLANK);
  EXPECT_EQ(target.block_position(), 8191u);
  EXPECT_EQ(run(target, write_block({0x0303})), words{REPLY_OK});
  EXPECT_EQ(target.program_word(8191), 0x0303);
}

TEST(SimTarget, AllOnesDataWordInsideAWriteBlockIsData) {
  sim_target target;
  EXPECT_EQ(run(target, write_block({END_OF_BLOCK, 0x0001})), words{REPLY_OK});
  EXPECT_EQ(target.program_word(0), END_OF_BLOCK);
  EXPECT_EQ(target.program_word(1), 0x0001);
}

// --- Faults -------------------------------------------------------------------------------------

TEST(SimTargetFaults, RefusedExchangeAnswersTheRefusalAndChangesNothing) {
  // Exchanges 1 to 5: erase, write ID, write block, write config, erase all. The third is refused.
  sim_target target({}, {.refuse_exchange = 3, .refuse_status = 0x1234});
  EXPECT_EQ(run(target, {CMD_ERASE}), words{REPLY_OK});
  EXPECT_EQ(run(target, {CMD_READ_ID_CONFIG}).size(), 4u);  // no status word: not counted
  EXPECT_EQ(run(target, {CMD_WRITE_ID, 0, 7}), words{REPLY_OK});
  EXPECT_EQ(run(target, write_block({1, 2})), words{0x1234});
  EXPECT_EQ(target.program_word(0), MEMORY_BLANK);
  EXPECT_EQ(target.block_position(), 0u);
  EXPECT_EQ(run(target, write_block({1, 2})), words{REPLY_OK});
  EXPECT_EQ(target.program_word(0), 1);

  sim_target config_refused({}, {.refuse_exchange = 1});
  EXPECT_EQ(run(config_refused, {CMD_WRITE_CONFIG, 0}), words{STATUS_REFUSED_DEFAULT});
  EXPECT_EQ(config_refused.config(), CONFIG_BLANK);
}

TEST(SimTargetFaults, CountsRunAcrossSessions) {
  sim_target target({}, {.refuse_exchange = 2});
  EXPECT_EQ(run(target, {CMD_ERASE}), words{REPLY_OK});
  target.new_session();
  EXPECT_EQ(run(target, {CMD_ERASE}), words{STATUS_REFUSED_DEFAULT});
  target.new_session();
  EXPECT_EQ(run(target, {CMD_ERASE}), words{REPLY_OK});
}

TEST(SimTargetFaults, ShortAndLongReadBlocks) {
  sim_target target({}, {.short_read_block = 2, .long_read_block = 3});
  run(target, write_block({1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(run(target, read_block(2)), with_end({1, 2}));
  EXPECT_EQ(run(target, read_block(2)), with_end({3}));                // one short
  EXPECT_EQ(run(target, read_block(2)), with_end({5, 6, 7}));          // one long
  EXPECT_EQ(run(target, read_block(2)), with_end({7, MEMORY_BLANK}));  // position as if whole
}

TEST(SimTargetFaults, SilenceAndHangUpStartAtTheNthWord) {
  sim_target silent({}, {.silent_after = 3});
  EXPECT_EQ(run(silent, {CMD_ERASE, CMD_WRITE_CONFIG}), words{REPLY_OK});
  EXPECT_EQ(run(silent, {0x0001, CMD_ERASE, CMD_READ_ID_CONFIG}), words{});
  EXPECT_EQ(silent.config(), CONFIG_BLANK);

  sim_target hanging({}, {.hang_up_after = 2});
  EXPECT_FALSE(hanging.feed(CMD_ERASE).hang_up);
  answer last = hanging.feed(CMD_ERASE);
  EXPECT_TRUE(last.hang_up);
  EXPECT_EQ(last.size, 0u);
}

TEST(SimTargetFaults, ExtraStatusSendsTheNthStatusWordTwice) {
  sim_target target({}, {.refuse_exchange = 2, .extra_status = 2});
  EXPECT_EQ(run(target, {CMD_ERASE}), words{REPLY_OK});
  EXPECT_EQ(run(target, {CMD_READ_ID_CONFIG}).size(), 4u);  // no status word: not counted
  EXPECT_EQ(run(target, write_block({1})), (words{STATUS_REFUSED_DEFAULT, STATUS_REFUSED_DEFAULT}));
  EXPECT_EQ(run(target, {CMD_ERASE}), words{REPLY_OK});

  // The doubled status is not an answer of more than one word for the cut-answer count.
  sim_target cut({}, {.cut_answer = 1, .extra_status = 1});
  EXPECT_EQ(run(cut, {CMD_ERASE}), (words{REPLY_OK, REPLY_OK}));
  EXPECT_EQ(run(cut, {CMD_READ_ID_CONFIG}).size(), 2u);
}

TEST(SimTargetFaults, EarlyStatusAnswersTheNthWriteBlockAtItsFirstDataWord) {
  // Write blocks 1 and 2; the second is answered early, then refused once complete. The early
  // word counts for neither the refusal nor the extra status.
  sim_target target({}, {.refuse_exchange = 2, .extra_status = 2, .early_status = 2});
  EXPECT_EQ(run(target, write_block({1, 2})), words{REPLY_OK});
  EXPECT_EQ(run(target, {CMD_WRITE_PROGRAM, 3}), words{});
  EXPECT_EQ(run(target, {7}), words{REPLY_OK});
  EXPECT_EQ(run(target, {8, 9}), words{});
  EXPECT_EQ(run(target, {END_OF_BLOCK}), (words{STATUS_REFUSED_DEFAULT, STATUS_REFUSED_DEFAULT}));
  EXPECT_EQ(target.program_word(2), MEMORY_BLANK);
  EXPECT_EQ(run(target, write_block({4})), words{REPLY_OK});  // only the Nth block
}

}  // namespace
}  // namespace ttyprog::sim
