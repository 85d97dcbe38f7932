// The built ttyprog-sim as a child process: started with its options, its terminal's path read
// from its first line, stopped with SIGTERM.
#pragma once

#include <string>
#include <vector>

#include "support/process.h"

namespace ttyprog::test {

class simulator {
 public:
  explicit simulator(std::vector<std::string> options = {}, const run_options& run = {});

  // The path of the simulator's terminal, as it announced it (empty if it failed to start).
  const std::string& path() const noexcept { return path_; }

  // Stops the simulator with SIGTERM and returns how it ended.
  run_result stop();
  // Waits for a simulator that ends by itself.
  run_result wait() { return process_.wait(); }

 private:
  child_process process_;
  std::string path_;
};

}  // namespace ttyprog::test
