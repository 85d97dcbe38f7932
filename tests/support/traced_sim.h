// ttyprog-sim with a trace of its own, for tests that check what reached the programmer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/hex_text.h"
#include "support/process.h"
#include "support/simulator.h"
#include "support/temp_dir.h"

namespace ttyprog::test {

class traced_sim {
 public:
  explicit traced_sim(std::vector<std::string> options = {});

  const std::string& path() const noexcept { return sim_.path(); }
  // Runs ttyprog on the simulator's terminal with `args` after the port.
  run_result run(std::vector<std::string> args, const run_options& options = {}) const;
  // The words the tool sent so far, in order.
  std::vector<std::uint16_t> received() const;
  run_result stop() { return sim_.stop(); }
  run_result wait() { return sim_.wait(); }
  const temp_dir& dir() const noexcept { return dir_; }

 private:
  temp_dir dir_;
  simulator sim_;
};

}  // namespace ttyprog::test
