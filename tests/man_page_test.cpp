// The man pages keep up with the code: ttyprog(1) names every command and quotes every message the
// front end can print, and ttyprog-sim(1) describes every option its --help lists; the licence is
// told the same everywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/help_text.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace ttyprog::test {
namespace {

namespace fs = std::filesystem;

const fs::path SOURCE_DIR = TTYPROG_SOURCE_DIR;

std::string collapse_blanks(const std::string& text) {
  std::istringstream words(text);
  std::string word, out;
  while (words >> word) out += (out.empty() ? "" : " ") + word;
  return out;
}

// A page as a reader sees it: font changes and character escapes resolved, lines run together.
std::string page_text(const fs::path& path) {
  std::string text = std::regex_replace(read_file(path), std::regex(R"(\\f[BIRP])"), "");
  text = std::regex_replace(text, std::regex(R"(\\\(dq)"), "\"");
  text = std::regex_replace(text, std::regex(R"(\\\(bu)"), "");
  text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
  return collapse_blanks(text);
}

// The string literals of a source file, escapes resolved; includes and comments are passed over.
std::vector<std::string> string_literals(const std::string& source) {
  std::vector<std::string> literals;
  std::istringstream lines(source);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("#include") != std::string::npos) continue;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line.compare(i, 2, "//") == 0) break;
      if (line[i] == '\'') {  // a character literal, such as '"'
        i = line.find('\'', i + (line[i + 1] == '\\' ? 3 : 2));
        if (i == std::string::npos) break;
        continue;
      }
      if (line[i] != '"') continue;
      std::string literal;
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
          ++i;
          literal += line[i] == 'n' ? '\n' : line[i] == 'r' ? '\r' : line[i];
        } else {
          literal += line[i];
        }
      }
      literals.push_back(literal);
    }
  }
  return literals;
}

// A printf format as a pattern: each conversion stands for one word of the page ("\fIport\fR").
std::regex format_pattern(const std::string& format) {
  static const std::regex piece(
      R"(%%|%[-+ #0]*[0-9]*(hh|h|ll|l|z)?[diouxXcs]|[.^$|?*+()\[\]{}\\])");
  std::string pattern;
  std::sregex_iterator it(format.begin(), format.end(), piece), end;
  std::size_t copied = 0;
  for (; it != end; ++it) {
    pattern += format.substr(copied, static_cast<std::size_t>(it->position()) - copied);
    const std::string found = it->str();
    pattern += found == "%%" ? "%" : found[0] == '%' ? R"(\S+)" : "\\" + found;
    copied = static_cast<std::size_t>(it->position() + it->length());
  }
  return std::regex(pattern + format.substr(copied));
}

TEST(man_page, ttyprog_page_describes_the_commands_of_help_and_quotes_every_message) {
  const std::string raw_page = read_file(SOURCE_DIR / "man/ttyprog.1");
  const std::string page = page_text(SOURCE_DIR / "man/ttyprog.1");

  // The commands are those --help lists; the page has an entry for each, and for no other.
  const std::vector<std::string> commands = commands_in_help();
  EXPECT_GE(commands.size(), 10u);
  for (const std::string& name : commands) {
    EXPECT_TRUE(std::regex_search(raw_page, std::regex("\n\\.B[IR]? " + name + "[ \n]")))
        << "no entry for the command " << name;
  }
  const std::regex command_entry(R"(\n\.TP\n\.B[IR]? ([a-z]+)[ \n])");
  for (std::sregex_iterator it(raw_page.begin(), raw_page.end(), command_entry), end; it != end;
       ++it) {
    EXPECT_NE(std::find(commands.begin(), commands.end(), (*it)[1].str()), commands.end())
        << "the page describes " << (*it)[1] << ", which --help does not list";
  }

  // A message is a literal with a blank in it or one that ends like a sentence ("Done!"). What
  // --help shows (the command table's summaries) is checked against the page as a whole below.
  const run_result help = run_binary(TTYPROG_BIN, {"ttyprog", "--help"});
  const std::string help_text = collapse_blanks(help.out);
  int messages = 0;
  for (const auto& file : fs::directory_iterator(SOURCE_DIR / "src/cli")) {
    // The help text is checked against the page as a whole below.
    if (file.path().extension() != ".cpp" || file.path().filename() == "help.cpp") continue;
    for (const std::string& literal : string_literals(read_file(file.path()))) {
      const std::string text = collapse_blanks(literal);
      const bool sentence =
          !text.empty() && std::string_view(".!?").find(text.back()) != std::string_view::npos;
      if ((text.find(' ') == std::string::npos && !sentence) ||
          help_text.find(text) != std::string::npos)
        continue;
      ++messages;
      EXPECT_TRUE(std::regex_search(page, format_pattern(text)))
          << file.path().filename() << ": the page does not quote \"" << text << "\"";
    }
  }
  EXPECT_GT(messages, 20);
}

// --help and the page say the same: the same commands, options and environment variables.
TEST(man_page, help_names_what_the_page_names) {
  const run_result help = run_binary(TTYPROG_BIN, {"ttyprog", "--help"});
  ASSERT_EQ(help.exit_code, 0);
  const std::string raw_page = read_file(SOURCE_DIR / "man/ttyprog.1");
  const std::regex entry(R"(\n\.TP\n\.B[IR]? ((\\-\\-)?[a-z]+)[ \n])");
  int names = 0;
  for (std::sregex_iterator it(raw_page.begin(), raw_page.end(), entry), end; it != end; ++it) {
    const std::string name = std::regex_replace((*it)[1].str(), std::regex(R"(\\-)"), "-");
    ++names;
    EXPECT_TRUE(std::regex_search(help.out, std::regex("\n  " + name + " ")))
        << "--help lacks " << name;
  }
  EXPECT_GE(names, 11);
  const std::regex variable("TTYPROG_[A-Z_]+");
  for (std::sregex_iterator it(help.out.begin(), help.out.end(), variable), end; it != end; ++it) {
    EXPECT_NE(raw_page.find("\n.B " + it->str() + "\n"), std::string::npos)
        << "the page lacks " << it->str();
  }
}

TEST(man_page, simulator_page_describes_every_option_of_its_help) {
  const run_result help = run_binary(TTYPROG_SIM_BIN, {"ttyprog-sim", "--help"});
  ASSERT_EQ(help.exit_code, 0);
  const std::string page = page_text(SOURCE_DIR / "man/ttyprog-sim.1");
  const std::regex option(R"(\n {2}(--[a-z-]+))");
  int options = 0;
  for (std::sregex_iterator it(help.out.begin(), help.out.end(), option), end; it != end; ++it) {
    ++options;
    EXPECT_NE(page.find((*it)[1].str() + " "), std::string::npos) << "no entry for " << (*it)[1];
  }
  EXPECT_GT(options, 10);
}

// One licence everywhere: LICENSE, the package's copyright file (the same text, in its format),
// the README and both man pages.
TEST(licence, is_mit_wherever_it_is_told) {
  const std::string license = read_file(SOURCE_DIR / "LICENSE");
  ASSERT_EQ(license.rfind("MIT License\n", 0), 0u);
  const std::size_t body = license.find("Permission is hereby granted");
  ASSERT_NE(body, std::string::npos);
  // In the copyright file each line is indented by one blank, and an empty line is " .".
  std::string indented;
  std::istringstream lines(license.substr(body));
  for (std::string line; std::getline(lines, line);)
    indented += line.empty() ? " .\n" : " " + line + "\n";
  const std::string copyright = read_file(SOURCE_DIR / "cmake/debian/copyright");
  EXPECT_NE(copyright.find("License: Expat\n" + indented), std::string::npos) << copyright;
  EXPECT_NE(read_file(SOURCE_DIR / "README.md").find("MIT-licensed"), std::string::npos);
  for (const char* page : {"man/ttyprog.1", "man/ttyprog-sim.1"}) {
    EXPECT_NE(page_text(SOURCE_DIR / page).find("free software under the MIT licence"),
              std::string::npos)
        << page;
  }
}

}  // namespace
}  // namespace ttyprog::test
