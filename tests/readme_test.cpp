// The README's console examples are true: every command of every console block runs, in order, as
// a user at a terminal would run it (standard output and standard error on one terminal, the
// built binaries first on PATH), against simulators started as the blocks start them, and the
// terminal shows what the block shows. "/tmp/" in the blocks stands for a directory of the test's
// own, which holds firmware.hex (a copy of examples/sample.hex) and the README's program-all.sh.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/readme.h"
#include "support/simulator.h"
#include "support/temp_dir.h"
#include "support/terminal_run.h"

namespace ttyprog {
namespace {

namespace fs = std::filesystem;

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The words of a command line, up to a comment.
std::vector<std::string> words_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word && word[0] != '#';) words.push_back(word);
  return words;
}

// What a terminal keeps of a shown line: trailing blanks are not seen.
std::string as_seen(std::string line) { return line.erase(line.find_last_not_of(' ') + 1); }

// What a port failure says of the attached serial devices depends on the machine: the examples
// show a machine without any.
bool depends_on_machine(const test::console_command& c) {
  for (const std::string& line : c.shown) {
    if (line.find("/dev/serial/by-id") != std::string::npos) {
      return fs::exists("/dev/serial/by-id") || fs::exists("/dev/ttyUSB0");
    }
  }
  return false;
}

TEST(Readme, EveryConsoleExampleShowsWhatItSays) {
  const std::vector<test::console_block> blocks = test::readme_console_blocks();
  ASSERT_GE(blocks.size(), 10u);
  const test::temp_dir dir;
  const std::string here = dir.path().string() + "/";
  dir.file_with("firmware.hex", test::read_file(TTYPROG_SOURCE_DIR "/examples/sample.hex"));
  const std::string script = dir.file_with(
      "program-all.sh", test::readme_sh_block_after("## Several programmers at once"));
  fs::permissions(script, fs::perms::owner_exec, fs::perm_options::add);
  const std::string bin = fs::path(TTYPROG_BIN).parent_path().string();

  std::map<std::string, std::unique_ptr<test::simulator>> simulators;  // by link
  int commands = 0;
  for (const test::console_block& block : blocks) {
    // The block's commands in one shell, each after a line that marks where its output starts.
    std::string shell = "cd '" + here + "' && PATH='" + bin + "':\"$PATH\" || exit 1\n";
    std::vector<const test::console_command*> run;
    for (const test::console_command& c : block) {
      const std::string command = replace_all(c.command, "/tmp/", here);
      std::vector<std::string> words = words_of(command);
      if (words.front() == "ttyprog-sim") {  // started here, for the rest of the test
        words.erase(words.begin());
        if (words.back() == "&") words.pop_back();
        const std::string link = words.at(1);
        simulators.erase(link);
        simulators[link] = std::make_unique<test::simulator>(words);
        ASSERT_FALSE(simulators[link]->path().empty()) << c.command;
        continue;
      }
      shell += "echo @@\n" + command + "\n";
      run.push_back(&c);
    }
    test::terminal_options terminal;
    terminal.program = {"/bin/sh", "-c", shell};
    terminal.stdout_on_terminal = true;
    const test::terminal_result got = test::run_on_terminal({}, terminal);
    ASSERT_FALSE(got.timed_out) << shell;

    // The screen, cut at the marks.
    std::vector<std::vector<std::string>> shown;
    for (const std::string& line : test::screen_of(got.terminal)) {
      if (line.rfind("@@", 0) == 0) {
        shown.emplace_back();
      } else if (!shown.empty() && !line.empty()) {
        shown.back().push_back(line);
      }
    }
    ASSERT_EQ(shown.size(), run.size()) << got.terminal;
    for (std::size_t i = 0; i < run.size(); ++i) {
      ++commands;
      if (depends_on_machine(*run[i])) continue;
      std::vector<std::string> expected;
      for (const std::string& line : run[i]->shown)
        expected.push_back(as_seen(replace_all(line, "/tmp/", here)));
      EXPECT_EQ(shown[i], expected) << "$ " << run[i]->command;
    }
  }
  EXPECT_GE(commands, 25);
}

}  // namespace
}  // namespace ttyprog
