#include "support/simulator.h"

#include <csignal>
#include <sstream>

#include "support/session.h"

namespace ttyprog::test {

namespace {

// The simulator plays hardware, whose timing the machine's load never delays: a chattering
// programmer that paused for 21 ms would let the open find a quiet line.
run_options as_hardware(run_options run) {
  run.real_time = true;
  return run;
}

std::vector<std::string> command_line(std::vector<std::string> options, const temp_dir& dir) {
  // The test's own options come last: the later of two equal options wins.
  options.insert(options.begin(), {TTYPROG_SIM_BIN, "--trace", (dir / "trace").string()});
  return options;
}

}  // namespace

simulator::simulator(std::vector<std::string> options, const run_options& run)
    : process_(TTYPROG_SIM_BIN, command_line(std::move(options), dir_), as_hardware(run)),
      path_(process_.read_line()) {}

run_result simulator::run(std::vector<std::string> args, const run_options& options) const {
  args.insert(args.begin(), path_);
  return run_ttyprog(args, options);
}

run_result simulator::run_redirected(std::vector<std::string> args,
                                     const std::string& redirection) const {
  std::vector<std::string> argv{"sh", "-c", "exec \"$0\" \"$@\" " + redirection, TTYPROG_BIN,
                                path_};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_binary("/bin/sh", argv);
}

std::string simulator::trace() const { return read_file(dir_ / "trace"); }

std::vector<std::uint16_t> simulator::received() const {
  std::istringstream lines(trace());
  std::vector<std::uint16_t> words;
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("< ", 0) == 0) {
      words.push_back(static_cast<std::uint16_t>(std::stoul(line.substr(2), nullptr, 16)));
    }
  }
  return words;
}

run_result simulator::stop() {
  process_.send_signal(SIGTERM);
  return process_.wait();
}

}  // namespace ttyprog::test
