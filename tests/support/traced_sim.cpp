#include "support/traced_sim.h"

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

}  // namespace ttyprog::test
