// Inputs a user can get wrong: HEX paths that are not HEX files, standard streams closed, and
// port paths that are not serial ports. Each gets its message, never a crash or a hang, and
// nothing reaches the programmer (or anything else) unless the input is good.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/scoped_env.h"
#include "support/session.h"
#include "support/simulator.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;
using test::PROMPTLY;

using test::INVALID_HEX;
using test::OPEN_FAILED;

struct hex_case {
  const char* name;
  std::string (*make)(const test::temp_dir& dir);  // returns the HEX path
  std::string out;                                 // for writeprogram
  bool strict = false;  // refused only with TTYPROG_STRICT=1 (exit 5); otherwise exit 0
};

void PrintTo(const hex_case& c, std::ostream* out) { *out << c.name; }

std::string fifo_without_writer(const test::temp_dir& dir) {
  const std::string path = (dir / "fifo").string();
  ::mkfifo(path.c_str(), 0600);
  return path;
}

const hex_case HEX_CASES[] = {
    // No file to read text from: refused like a file that cannot be opened, nothing sent.
    {"directory", [](const test::temp_dir& dir) { return dir.path().string(); }, OPEN_FAILED},
    // Waits the link's bound for a writer, then counts as a file that cannot be opened.
    {"fifo_without_writer", fifo_without_writer, OPEN_FAILED},
    {"binary_junk_with_nul_bytes",
     [](const test::temp_dir& dir) {
       return dir.file_with("junk.hex", std::string(":04001000\0\x01\xff\x80\x00:\n\0\0", 16) +
                                            std::string(3000, '\0') + ":0400100001020304E3\n");
     },
     INVALID_HEX},
    // One line of 100,000 characters: it arrives in pieces; the first fails the length test.
    {"line_of_100000_characters",
     [](const test::temp_dir& dir) {
       return dir.file_with("long.hex", ":" + std::string(99'999, '0') + "\n");
     },
     INVALID_HEX},
    {"missing_file", [](const test::temp_dir& dir) { return (dir / "none.hex").string(); },
     OPEN_FAILED},
    // Character devices never end (/dev/zero) or never start (a terminal): refused before they are
    // even opened, so the run cannot hold the port forever.
    {"dev_zero", [](const test::temp_dir&) { return std::string("/dev/zero"); }, OPEN_FAILED},
    {"terminal_device", [](const test::temp_dir&) { return std::string("/dev/ptmx"); },
     OPEN_FAILED},
    // One bad record, last or first: the whole text is read before anything goes out.
    {"bad_checksum_last",
     [](const test::temp_dir& dir) {
       return dir.file_with("last.hex",
                            test::hex_text(test::program_of(600)) + ":0400100001020304E3\n");
     },
     INVALID_HEX},
    {"bad_checksum_first",
     [](const test::temp_dir& dir) {
       return dir.file_with("first.hex",
                            ":0400100001020304E3\n" + test::hex_text(test::program_of(20)));
     },
     INVALID_HEX},
    {"odd_address",
     [](const test::temp_dir& dir) {
       return dir.file_with("odd.hex",
                            ":0400100001020304E2\n" + test::hex_record(0x0011, {0x01, 0x02}));
     },
     INVALID_HEX},
    // A backup cut short has no end-of-file record: loaded by default, refused in strict mode.
    {"no_end_of_file_record_strict",
     [](const test::temp_dir& dir) {
       std::string text = test::hex_text(test::program_of(600));
       return dir.file_with("cut.hex", text.substr(0, text.size() - test::HEX_END.size()));
     },
     INVALID_HEX, true},
    {"end_of_file_record_with_bad_checksum_strict",
     [](const test::temp_dir& dir) {
       return dir.file_with("bad_end.hex", ":0400100001020304E2\n:00000001FE\n");
     },
     INVALID_HEX, true},
};

class BadHexInput : public ::testing::TestWithParam<hex_case> {
 protected:
  void SetUp() override {
    ::setenv("TTYPROG_TIMEOUT", "0.3", 1);
    if (GetParam().strict) ::setenv("TTYPROG_STRICT", "1", 1);
  }
  void TearDown() override {
    ::unsetenv("TTYPROG_TIMEOUT");
    ::unsetenv("TTYPROG_STRICT");
  }
};

TEST_P(BadHexInput, IsRefusedWithItsMessageAndNothingSent) {
  const hex_case& c = GetParam();
  test::simulator sim;
  const std::string path = c.make(sim.dir());
  for (const char* command : {"writeprogram", "verifyprogram"}) {
    SCOPED_TRACE(command);
    const test::run_result got = sim.run({command, path});
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.exit_code, c.strict ? 5 : 0);
    EXPECT_LT(got.elapsed, PROMPTLY);
  }
  EXPECT_TRUE(sim.received().empty()) << test::hex_words(sim.received());
}

INSTANTIATE_TEST_SUITE_P(HexPath, BadHexInput, ::testing::ValuesIn(HEX_CASES), test::case_name{});

// A named pipe that a script fills is a legitimate input, read like standard input.
TEST(HexInputPipe, AFifoWithAWriterIsReadAndWritten) {
  test::simulator sim;
  const std::string path = fifo_without_writer(sim.dir());
  test::child_process writer("/bin/sh",
                             {"sh", "-c", "sleep 0.2; printf ':0200C8003412F0\\n' > \"$0\"", path});
  const test::run_result got = sim.run({"writeprogram", path});
  EXPECT_EQ(got.out, test::WRITTEN);
  EXPECT_EQ(sim.received().size(), 101u + 3u);
}

// /dev/stdin names standard input itself, which is read from whatever it is, a device included.
TEST(HexInputStandardInput, ItsOwnDeviceNameIsRead) {
  test::simulator sim;
  const test::run_result got = sim.run_redirected({"writeprogram", "/dev/stdin"}, "</dev/null");
  EXPECT_EQ(got.out, "Done.\n");
  EXPECT_EQ(got.exit_code, 0);
}

// With a standard descriptor closed, the port must not take its number: the HEX text would be
// read from the line, or the result lines sent to the programmer as words.
TEST(ClosedStandardStreams, NeitherReachTheProgrammer) {
  test::simulator sim;
  test::run_options closed_in;
  closed_in.close_stdin = true;
  const test::run_result no_input = sim.run({"writeprogram"}, closed_in);
  EXPECT_EQ(no_input.out, INVALID_HEX);
  EXPECT_TRUE(sim.received().empty()) << test::hex_words(sim.received());

  const std::string hex = sim.dir().file_with("one.hex", ":0400100001020304E2\n");
  const test::run_result no_output = sim.run_redirected({"writeprogram", hex}, ">&-");
  // The write went through, but its result could not be told: that is no success.
  EXPECT_EQ(no_output.err, "Writing standard output failed: Bad file descriptor\n");
  EXPECT_EQ(no_output.exit_code, 8);
  EXPECT_EQ(test::hex_words(sim.received()),
            "8010 000a 3fff 3fff 3fff 3fff 3fff 3fff 3fff 3fff 0201 0403 ffff");
}

// A dump into a full disk is not a dump: the read stops at the next block boundary, standard
// error says why, and the exit code is not 0.
TEST(LostStandardOutput, StopsTheReadAtTheNextBlock) {
  test::simulator sim;
  const test::run_result got = sim.run_redirected({"readprogram", "8192"}, ">/dev/full");
  EXPECT_EQ(got.err, "Writing standard output failed: No space left on device\n");
  EXPECT_EQ(got.exit_code, 8);
  EXPECT_EQ(test::hex_words(sim.received()), "8020 0200");
}

// readhex takes its word count as plain decimal only: a backup must hold what was asked for.
// Anything else is refused on standard error (standard output holds only HEX text) before a word
// is sent.
struct count_case {
  const char* name;
  const char* param;
};

void PrintTo(const count_case& c, std::ostream* out) { *out << c.name; }

const count_case COUNT_CASES[] = {
    {"hexadecimal", "0x10"}, {"trailing_letter", "5x"},
    {"negative", "-1"},      {"above_32_bits", "4294967296"},
    {"leading_blank", " 7"}, {"plus_sign", "+7"},
    {"empty", ""},
};

class BadWordCount : public ::testing::TestWithParam<count_case> {};

TEST_P(BadWordCount, ReadhexRefusesItAndSendsNothing) {
  test::simulator sim;
  for (const char* strict : {"", "1"}) {
    SCOPED_TRACE(strict);
    ::setenv("TTYPROG_STRICT", strict, 1);
    const test::run_result got = sim.run({"readhex", GetParam().param});
    ::unsetenv("TTYPROG_STRICT");
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "invalid word count!\n");
    EXPECT_EQ(got.exit_code, *strict != '\0' ? 5 : 0);
  }
  EXPECT_TRUE(sim.received().empty()) << test::hex_words(sim.received());
}

INSTANTIATE_TEST_SUITE_P(Readhex, BadWordCount, ::testing::ValuesIn(COUNT_CASES),
                         test::case_name{});

// A setting in the environment with a value it does not take is refused before the port is opened,
// with the line that says which values it takes; 0 is off, as empty is. Each run has a word after
// its parameter (noted with TTYPROG_VERBOSE=1) and a programmer that refuses the erase (exit 2
// with TTYPROG_STRICT=1).
struct setting_case {
  const char* name;
  const char* variable;
  const char* value;
  std::string err;  // empty: the value is taken, and means off
};

void PrintTo(const setting_case& c, std::ostream* out) { *out << c.name; }

const setting_case SETTING_CASES[] = {
    {"timeout_word", "TTYPROG_TIMEOUT", "ten",
     "Invalid TTYPROG_TIMEOUT ten!\nTTYPROG_TIMEOUT takes seconds, more than 0 and at most 3600, "
     "with"
     " up to three decimals (0.25).\n"},
    {"strict_yes", "TTYPROG_STRICT", "yes",
     "Invalid TTYPROG_STRICT yes!\nTTYPROG_STRICT takes 1 (on) or 0 (off); unset or empty is "
     "off.\n"},
    {"verbose_two", "TTYPROG_VERBOSE", "2",
     "Invalid TTYPROG_VERBOSE 2!\nTTYPROG_VERBOSE takes 1 (on) or 0 (off); unset or empty is "
     "off.\n"},
    {"device_id_above_16_bits", "TTYPROG_DEVICE_ID", "10000",
     "Invalid TTYPROG_DEVICE_ID 10000!\nTTYPROG_DEVICE_ID takes the expected device ID in "
     "hexadecimal,"
     " 0 to ffff (0x optional).\n"},
    {"strict_zero_is_off", "TTYPROG_STRICT", "0", ""},
    {"verbose_zero_is_off", "TTYPROG_VERBOSE", "0", ""},
};

class BadSetting : public ::testing::TestWithParam<setting_case> {};

TEST_P(BadSetting, IsRefusedBeforeThePortIsOpenedSayingWhatIsTaken) {
  const setting_case& c = GetParam();
  test::simulator sim({"--refuse", "1"});
  const test::scoped_env setting(c.variable, c.value);
  const test::run_result got = sim.run({"erase", "x", "y"});
  EXPECT_EQ(got.err, c.err);
  EXPECT_EQ(got.out, c.err.empty() ? test::FAILED : "");
  EXPECT_EQ(got.exit_code, c.err.empty() ? 0 : 1);
  EXPECT_EQ(test::hex_words(sim.received()), c.err.empty() ? "8000" : "");
}

INSTANTIATE_TEST_SUITE_P(Environment, BadSetting, ::testing::ValuesIn(SETTING_CASES),
                         test::case_name{});

struct port_case {
  const char* name;
  std::string (*make)(const test::temp_dir& dir);
};

void PrintTo(const port_case& c, std::ostream* out) { *out << c.name; }

const port_case PORT_CASES[] = {
    {"directory", [](const test::temp_dir& dir) { return dir.path().string(); }},
    {"dev_null", [](const test::temp_dir&) { return std::string("/dev/null"); }},
    {"dangling_symlink",
     [](const test::temp_dir& dir) {
       const auto link = dir / "port";
       std::filesystem::create_symlink(dir / "gone", link);
       return link.string();
     }},
    {"regular_file", [](const test::temp_dir& dir) { return dir.file_with("port", "keep"); }},
    {"fifo", fifo_without_writer},
    {"path_with_spaces", [](const test::temp_dir& dir) { return (dir / "my port").string(); }},
    {"empty_string", [](const test::temp_dir&) { return std::string(); }},
};

class BadPortPath : public ::testing::TestWithParam<port_case> {};

TEST_P(BadPortPath, IsNotOpenedAndNothingIsWritten) {
  test::temp_dir dir;
  const std::string port = GetParam().make(dir);
  const std::string before = std::filesystem::is_regular_file(port) ? test::read_file(port) : "";
  const test::run_result got = test::run_ttyprog({port, "writeid", "1234"});
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, test::port_failed(port));
  EXPECT_EQ(got.exit_code, 1);
  EXPECT_LT(got.elapsed, PROMPTLY);
  if (!before.empty()) {
    EXPECT_EQ(test::read_file(port), before);
  }
}

INSTANTIATE_TEST_SUITE_P(PortPath, BadPortPath, ::testing::ValuesIn(PORT_CASES), test::case_name{});

// A good port behind a path with spaces is opened as given.
TEST(PortPathWithSpaces, ReachesTheProgrammer) {
  test::temp_dir dir;
  const std::string link = (dir / "my port").string();
  test::simulator sim({"--link", link});
  const test::run_result got = test::run_ttyprog({link, "erase"});
  EXPECT_EQ(got.out, test::DONE);
  EXPECT_EQ(got.exit_code, 0);
}

}  // namespace
}  // namespace ttyprog
