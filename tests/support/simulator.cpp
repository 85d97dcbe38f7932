#include "support/simulator.h"

#include <csignal>

namespace ttyprog::test {

namespace {

std::vector<std::string> with_binary(std::vector<std::string> options) {
  options.insert(options.begin(), TTYPROG_SIM_BIN);
  return options;
}

}  // namespace

simulator::simulator(std::vector<std::string> options, const run_options& run)
    : process_(TTYPROG_SIM_BIN, with_binary(std::move(options)), run),
      path_(process_.read_line()) {}

run_result simulator::stop() {
  process_.send_signal(SIGTERM);
  return process_.wait();
}

}  // namespace ttyprog::test
