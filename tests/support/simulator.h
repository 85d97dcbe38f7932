// The built ttyprog-sim as a child process, with a trace of its own: started with its options, its
// terminal's path read from its first line, ttyprog run on that terminal, the words that reached
// it read from the trace, stopped with SIGTERM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

namespace ttyprog::test {

class simulator {
 public:
  // The simulator reports its own default device ID, DEVICE_ID (support/expected.h), unless
  // `options` say otherwise.
  explicit simulator(std::vector<std::string> options = {}, const run_options& run = {});

  // The path of the simulator's terminal, as it announced it (empty if it failed to start).
  const std::string& path() const noexcept { return path_; }
  // Runs ttyprog on the simulator's terminal with `args` after the port.
  run_result run(std::vector<std::string> args, const run_options& options = {}) const;
  // The same through the shell, with `redirection` applied to ttyprog (">/dev/full", ">&-").
  run_result run_redirected(std::vector<std::string> args, const std::string& redirection) const;
  // The trace so far, and the words the tool sent, in order.
  std::string trace() const;
  std::vector<std::uint16_t> received() const;
  // A directory of the test's own, removed with the simulator.
  const temp_dir& dir() const noexcept { return dir_; }

  // Stops the simulator with SIGTERM and returns how it ended.
  run_result stop();
  // Waits for a simulator that ends by itself.
  run_result wait() { return process_.wait(); }

 private:
  temp_dir dir_;
  child_process process_;
  std::string path_;
};

}  // namespace ttyprog::test
