// The real ttyprog on a real pty against an in-test programmer: exact output, exit code and words
// on the wire for the single-exchange commands, their parameters, usage and open failures.
#include <termios.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/case_name.h"
#include "support/expected.h"
#include "support/session.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;
using test::case_name;
using test::DEVICE_ID;
using test::DEVICE_ID_TEXT;
using test::DONE;
using test::FAILED;
using test::hex_words;
using test::programmer_options;
using test::pty_pair;
using test::READING;
using test::run_result;
using test::scripted;
using test::step;
using test::writing_config;
using test::writing_id;

speed_t line_speed(const pty_pair& pty) {
  termios line{};
  if (tcgetattr(pty.master(), &line) != 0) return 0;
  return cfgetospeed(&line);
}

// ---- One exchange, answered ------------------------------------------------------------------
// (Refusals, and every way the line can fail, are rows of fault_matrix_test.cpp.)

struct exchange_case {
  const char* name;
  std::vector<std::string> args;  // after the port
  std::vector<step> steps;        // the programmer's side
  std::string out;                // exact standard output
  std::string wire;               // exact words the tool sent
};

void PrintTo(const exchange_case& c, std::ostream* out) { *out << c.name; }

class Exchange : public ::testing::TestWithParam<exchange_case> {};

TEST_P(Exchange, PrintsSendsAndExitsExactly) {
  const exchange_case& c = GetParam();
  const test::session_result got = test::run_with_programmer({scripted(c.steps)}, c.args);
  EXPECT_FALSE(got.run.timed_out);
  EXPECT_EQ(got.run.out, c.out);
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_EQ(hex_words(got.wire), c.wire);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    SingleExchange, Exchange,
    ::testing::Values(
        exchange_case{"erase_done", {"erase"}, {{1, {0xC000}}}, DONE, "8000"},
        exchange_case{"erase_ignores_extra_args", {"erase", "x", "y"}, {{1, {0xC000}}}, DONE, "8000"},
        exchange_case{"eraseall_done", {"eraseall"}, {{1, {0xC000}}}, DONE, "8001"},
        exchange_case{"writeid_prefixed_mixed_case", {"writeid", "0x1234ABCD"}, {{3, {0xC000}}},
                      writing_id("1234abcd") + DONE, "8011 1234 abcd"},
        exchange_case{"writeid_upper_prefix_short", {"writeid", "0X1F"}, {{3, {0xC000}}},
                      writing_id("0000001f") + DONE, "8011 0000 001f"},
        exchange_case{"writeid_all_ones", {"writeid", "ffffffff"}, {{3, {0xC000}}},
                      writing_id("ffffffff") + DONE, "8011 ffff ffff"},
        exchange_case{"writeid_leading_zeros_fit", {"writeid", "000000000012abcd"}, {{3, {0xC000}}},
                      writing_id("0012abcd") + DONE, "8011 0012 abcd"},
        exchange_case{"writeid_ignores_extra_args", {"writeid", "abc", "def"}, {{3, {0xC000}}},
                      writing_id("00000abc") + DONE, "8011 0000 0abc"},
        exchange_case{"writeid_unspecified", {"writeid"}, {}, test::ID_UNSPECIFIED, ""},
        exchange_case{"writeconfig_3f72", {"writeconfig", "3f72"}, {{2, {0xC000}}},
                      writing_config("3f72") + DONE, "8012 3f72"},
        exchange_case{"writeconfig_pads_to_four_digits", {"writeconfig", "1"}, {{2, {0xC000}}},
                      writing_config("0001") + DONE, "8012 0001"},
        exchange_case{"writeconfig_ffff", {"writeconfig", "ffff"}, {{2, {0xC000}}},
                      writing_config("ffff") + DONE, "8012 ffff"},
        exchange_case{"writeconfig_prefixed", {"writeconfig", "0x3FFF"}, {{2, {0xC000}}},
                      writing_config("3fff") + DONE, "8012 3fff"},
        exchange_case{"writeconfig_unspecified", {"writeconfig"}, {},
                      test::CONFIG_UNSPECIFIED, ""},
        exchange_case{"readidandconfig", {"readidandconfig"},
                      {{1, {0x0012, 0x3456, DEVICE_ID, 0x3FFF}}},
                      READING + test::ids("00123456", DEVICE_ID_TEXT, "3fff"), "8021"},
        exchange_case{"readidandconfig_high_bits_and_order", {"readidandconfig", "zz"},
                      {{1, {0xFFFF, 0xFFFE, DEVICE_ID, 0x8000}}},
                      READING + test::ids("fffffffe", DEVICE_ID_TEXT, "8000"), "8021"}),
    case_name{});
// clang-format on

// ---- Parameters that are not wholly a hexadecimal number that fits -----------------------------

struct rejected_case {
  const char* name;
  const char* command;
  std::string param;
};

void PrintTo(const rejected_case& c, std::ostream* out) { *out << c.name; }

class RejectedParameter : public ::testing::TestWithParam<rejected_case> {};

TEST_P(RejectedParameter, PrintsTheInvalidLineAndSendsNothing) {
  const rejected_case& c = GetParam();
  const bool is_id = std::string(c.command) == "writeid";
  // Answers a complete request, so that a tool that sends anyway fails fast instead of waiting.
  const std::vector<step> steps{{is_id ? 3u : 2u, {0xC000}}};
  const test::session_result got =
      test::run_with_programmer({scripted(steps)}, {c.command, c.param});
  EXPECT_EQ(got.run.out, is_id ? test::INVALID_ID : test::INVALID_CONFIG);
  EXPECT_EQ(got.run.err, "");
  EXPECT_EQ(got.run.exit_code, 0);
  EXPECT_EQ(hex_words(got.wire), "");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    WriteIdAndConfig, RejectedParameter,
    ::testing::Values(rejected_case{"id_not_hex", "writeid", "zz"},
                      rejected_case{"id_trailing_garbage", "writeid", "12zz"},
                      rejected_case{"id_minus", "writeid", "-1"},
                      rejected_case{"id_plus", "writeid", "+1"},
                      rejected_case{"id_leading_blank", "writeid", " 12"},
                      rejected_case{"id_trailing_blank", "writeid", "12 "},
                      rejected_case{"id_prefix_only", "writeid", "0x"},
                      rejected_case{"id_empty", "writeid", ""},
                      rejected_case{"id_33_bits", "writeid", "1ffffffff"},
                      rejected_case{"id_prefixed_33_bits", "writeid", "0x100000000"},
                      rejected_case{"config_17_bits", "writeconfig", "123456"},
                      rejected_case{"config_just_over", "writeconfig", "10000"},
                      rejected_case{"config_not_hex", "writeconfig", "zz"},
                      rejected_case{"config_trailing_garbage", "writeconfig", "3f72h"},
                      rejected_case{"config_minus", "writeconfig", "-1"},
                      rejected_case{"config_leading_blank", "writeconfig", " 3f"},
                      rejected_case{"config_prefix_only", "writeconfig", "0x"},
                      rejected_case{"config_empty", "writeconfig", ""}),
    case_name{});
// clang-format on

// ---- Unrecognised commands: the port is opened and configured first ----------------------------

TEST(CliDispatch, UnknownCommandOpensThePortThenSaysInvalidCommand) {
  for (const char* command : {"ERASE", "Erase", "erase ", "bogus", ""}) {
    SCOPED_TRACE(command);
    pty_pair pty;
    ASSERT_NE(line_speed(pty), static_cast<speed_t>(B9600));
    const test::session_result got =
        test::run_with_programmer(pty, {scripted({{1, {0xC000}}})}, {command, "1234"});
    EXPECT_EQ(got.run.out, test::INVALID_COMMAND);
    EXPECT_EQ(got.run.err, "");
    EXPECT_EQ(got.run.exit_code, 0);
    EXPECT_EQ(hex_words(got.wire), "");
    EXPECT_EQ(line_speed(pty), static_cast<speed_t>(B9600)) << "the port was not configured";
  }
}

// ---- Usage
// ---------------------------------------------------------------------------------------

TEST(CliUsage, FewerThanTwoArgumentsPrintUsageAndTouchNoPort) {
  pty_pair pty;
  const speed_t before = line_speed(pty);
  const std::vector<std::vector<std::string>> argvs{{}, {pty.slave_path()}};
  for (const std::vector<std::string>& args : argvs) {
    SCOPED_TRACE(args.size());
    const run_result got = test::run_ttyprog(args);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, test::usage(TTYPROG_BIN));
    EXPECT_EQ(got.exit_code, 1);
  }
  EXPECT_EQ(line_speed(pty), before) << "the port was configured";
}

TEST(CliUsage, NamesTheProgramAsItWasCalled) {
  const run_result got = test::run_binary(TTYPROG_BIN, {"my tty prog"});
  EXPECT_EQ(got.err, test::usage("my tty prog"));
  EXPECT_EQ(got.exit_code, 1);
}

// ---- Ports that cannot be opened -------------------------------------------------------------
// (Paths that are no serial port at all are rows of bad_input_test.cpp.)

class CliOpenFailure : public ::testing::Test {
 protected:
  static void expect_open_failure(const run_result& got, const std::string& port) {
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, test::port_failed(port));
    EXPECT_EQ(got.exit_code, 1);
  }
};

// The open failure comes before the command name is looked at, and creates nothing.
TEST_F(CliOpenFailure, MissingPortWhateverTheCommand) {
  test::temp_dir dir;
  const std::string missing = (dir / "ttyUSB9").string();
  for (const char* command : {"erase", "nonsense"}) {
    SCOPED_TRACE(command);
    expect_open_failure(test::run_ttyprog({missing, command}), missing);
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(CliOpenFailure, PortHeldByAnotherRunningTtyprog) {
  pty_pair pty;
  test::programmer other_end(pty, {test::silent()});
  test::child_process first(TTYPROG_BIN, {TTYPROG_BIN, pty.slave_path(), "erase"});
  ASSERT_TRUE(other_end.wait_for_words(1, 5s)) << "the first ttyprog never sent its request";

  expect_open_failure(test::run_ttyprog({pty.slave_path(), "eraseall"}), pty.slave_path());
  EXPECT_EQ(hex_words(other_end.finish()), "8000");

  // Letting the first one go: it sees the line drop and ends on its own.
  pty.close_master();
  const run_result first_result = first.wait();
  EXPECT_EQ(first_result.out, FAILED);
  EXPECT_EQ(first_result.err, test::LOST);
  EXPECT_EQ(first_result.exit_code, 0);
}

}  // namespace
}  // namespace ttyprog
