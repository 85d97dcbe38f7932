#include "support/traced_sim.h"

#include <cstdio>
#include <sstream>

#include "support/session.h"

namespace ttyprog::test {

namespace {

std::vector<std::string> with_trace(std::vector<std::string> options, const temp_dir& dir) {
  options.insert(options.end(), {"--trace", (dir / "trace").string()});
  return options;
}

}  // namespace

traced_sim::traced_sim(std::vector<std::string> options)
    : sim_(with_trace(std::move(options), dir_)) {}

run_result traced_sim::run(std::vector<std::string> args, const run_options& options) const {
  args.insert(args.begin(), path());
  return run_ttyprog(args, options);
}

std::vector<std::uint16_t> traced_sim::received() const {
  std::istringstream lines(read_file(dir_ / "trace"));
  std::vector<std::uint16_t> words;
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("< ", 0) == 0) words.push_back(static_cast<std::uint16_t>(std::stoul(line.substr(2), nullptr, 16)));
  }
  return words;
}

std::string hex_text(std::size_t words, std::uint16_t value) {
  std::string text;
  char line[64];
  for (std::size_t first = 0; first < words; first += 8) {
    const std::size_t count = std::min<std::size_t>(8, words - first);
    const unsigned address = static_cast<unsigned>(first * 2);
    unsigned sum = static_cast<unsigned>(count * 2) + (address >> 8) + (address & 0xFFu);
    int at = std::snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(count * 2), address);
    for (std::size_t k = 0; k < count; ++k) {
      const unsigned low = value & 0xFFu, high = value >> 8;
      at += std::snprintf(line + at, sizeof line - static_cast<std::size_t>(at), "%02X%02X", low, high);
      sum += low + high;
    }
    std::snprintf(line + at, sizeof line - static_cast<std::size_t>(at), "%02X\n", (0x100 - (sum & 0xFFu)) & 0xFFu);
    text += line;
  }
  return text;
}

}  // namespace ttyprog::test
