// scripts/setup.sh, the README's first step, run as it is with apt-get, sudo, dpkg-query and id
// played by stubs that log what they are asked: nothing at all when every package is there;
// otherwise the missing ones, through sudo unless root.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

struct setup_case {
  const char* name;
  std::string installed;  // the packages dpkg-query knows, separated by blanks
  std::string uid;
  std::vector<std::string> args;
  std::string log;  // what the stubs were asked, in order
};

void PrintTo(const setup_case& c, std::ostream* out) { *out << c.name; }

const std::string ALL = "g++ cmake ninja-build libgtest-dev";

const setup_case CASES[] = {
    {"all_there", ALL, "1000", {}, ""},
    {"all_there_with_extras", ALL + " clang", "0", {"clang"}, ""},
    {"missing_as_a_user",
     "g++ cmake",
     "1000",
     {},
     "sudo\napt-get update -qq (noninteractive)\nsudo\n"
     "apt-get install -y -qq ninja-build libgtest-dev (noninteractive)\n"},
    {"missing_as_root_with_extras",
     "g++ cmake ninja-build",
     "0",
     {"--no-install-recommends", "clang"},
     "apt-get update -qq (noninteractive)\n"
     "apt-get install -y -qq --no-install-recommends clang libgtest-dev (noninteractive)\n"},
};

class SetupScript : public ::testing::TestWithParam<setup_case> {};

TEST_P(SetupScript, InstallsWhatIsMissingAndNothingElse) {
  const setup_case& c = GetParam();
  const test::temp_dir stubs;
  const std::string log = (stubs / "log").string();
  const std::pair<const char*, const char*> scripts[] = {
      {"dpkg-query", "for p in $STUB_INSTALLED; do [ \"$p\" = \"$3\" ] && printf 'install ok "
                     "installed'; done; :"},
      {"apt-get", "echo \"apt-get $* ($DEBIAN_FRONTEND)\" >>\"$STUB_LOG\""},
      {"sudo", "echo sudo >>\"$STUB_LOG\"; exec \"$@\""},
      {"id", "echo \"$STUB_UID\""},
  };
  for (const auto& [name, body] : scripts) {
    const std::filesystem::path stub =
        stubs.file_with(name, std::string("#!/bin/sh\n") + body + "\n");
    std::filesystem::permissions(stub, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
  }
  std::vector<std::string> argv{"env",
                                "PATH=" + stubs.path().string() + ":/usr/bin:/bin",
                                "STUB_INSTALLED=" + c.installed,
                                "STUB_UID=" + c.uid,
                                "STUB_LOG=" + log,
                                "bash",
                                TTYPROG_SOURCE_DIR "/scripts/setup.sh"};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  const test::run_result got = test::run_binary("/usr/bin/env", argv);
  EXPECT_EQ(got.exit_code, 0) << got.err;
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "");
  EXPECT_EQ(test::read_file(log), c.log);
}

INSTANTIATE_TEST_SUITE_P(Rows, SetupScript, ::testing::ValuesIn(CASES), test::case_name{});

}  // namespace
}  // namespace ttyprog
