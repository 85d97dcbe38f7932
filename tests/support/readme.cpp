#include "support/readme.h"

#include <sstream>

#include "support/temp_dir.h"

namespace ttyprog::test {

namespace {

std::string readme() { return read_file(TTYPROG_SOURCE_DIR "/README.md"); }

// The text of the block that starts at the fence line `open` found at or after `from`.
std::string block_at(const std::string& text, const std::string& open, std::size_t from) {
  const std::size_t start = from == std::string::npos ? from : text.find(open, from);
  const std::size_t end = start == std::string::npos ? start : text.find("\n```\n", start);
  if (end == std::string::npos) return {};
  return text.substr(start + open.size(), end + 1 - start - open.size());
}

}  // namespace

std::vector<console_block> readme_console_blocks() {
  const std::string text = readme();
  const std::string open = "\n```console\n";
  std::vector<console_block> blocks;
  for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
    console_block block;
    std::istringstream lines(block_at(text, open, at));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("$ ", 0) == 0) {
        block.push_back({line.substr(2), {}});
      } else if (!block.empty()) {
        block.back().shown.push_back(line);
      }
    }
    blocks.push_back(block);
  }
  return blocks;
}

std::string readme_sh_block_after(const std::string& heading) {
  const std::string text = readme();
  return block_at(text, "```sh\n", text.find("\n" + heading + "\n"));
}

}  // namespace ttyprog::test
