// The bash completion, run by bash as it would complete a command line: HEX files and directories
// after the commands that read HEX text, nothing after the others, and serial ports without the
// terminal the user types on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/help_text.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

// Completes the words (the last one being typed) in `dir`, with standard input on `terminal`;
// the candidates sorted, one a line.
std::string complete(const test::temp_dir& dir, const std::string& terminal,
                     const std::vector<std::string>& words) {
  std::vector<std::string> argv{
      "bash",
      "-c",
      "cd \"$1\" && exec 0<>\"$2\" && source \"$3\" && shift 3 && COMP_WORDS=(ttyprog \"$@\") &&"
      " COMP_CWORD=$# && _ttyprog && { [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\\n' "
      "\"${COMPREPLY[@]}\"; } | sort",
      "bash",
      dir.path().string(),
      terminal,
      TTYPROG_SOURCE_DIR "/completion/ttyprog.bash"};
  argv.insert(argv.end(), words.begin(), words.end());
  const test::run_result got = test::run_binary("/bin/bash", argv);
  EXPECT_EQ(got.exit_code, 0) << got.err;
  return got.out;
}

TEST(Completion, OffersHexFilesAfterTheCommandsThatReadThem) {
  test::temp_dir dir;
  for (const char* name : {"app.hex", "BOOT.HEX", "boot.ihx", "notes.txt", "hexdump"})
    dir.file_with(name, "");
  std::filesystem::create_directory(dir / "builds");
  test::pty_pair own;
  for (const char* command : {"writeprogram", "verifyprogram", "program"}) {
    EXPECT_EQ(complete(dir, own.slave_path(), {"/dev/x", command, ""}),
              "BOOT.HEX\napp.hex\nboot.ihx\nbuilds\n")
        << command;
  }
  EXPECT_EQ(complete(dir, own.slave_path(), {"/dev/x", "program", "b"}), "boot.ihx\nbuilds\n");
  EXPECT_EQ(complete(dir, own.slave_path(), {"/dev/x", "readhex", ""}), "");
  EXPECT_EQ(complete(dir, own.slave_path(), {"/dev/x", "pro"}), "program\n");
}

TEST(Completion, OffersTheCommandsHelpLists) {
  test::temp_dir dir;
  test::pty_pair own;
  std::vector<std::string> commands = test::commands_in_help();
  std::sort(commands.begin(), commands.end());
  std::string listed;
  for (const std::string& name : commands) listed += name + "\n";
  EXPECT_EQ(complete(dir, own.slave_path(), {"/dev/x", ""}), listed);
}

TEST(Completion, NeverOffersTheUsersOwnTerminalAsAPort) {
  test::temp_dir dir;
  test::pty_pair own, other;
  const std::string ports = complete(dir, own.slave_path(), {"/dev/pts/"});
  EXPECT_NE(ports.find(other.slave_path() + "\n"), std::string::npos) << ports;
  EXPECT_EQ(ports.find(own.slave_path() + "\n"), std::string::npos) << ports;
}

}  // namespace
}  // namespace ttyprog
