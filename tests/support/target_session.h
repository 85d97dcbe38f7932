// The simulator's target model (sim/sim_target.h) as the in-test programmer: its rules for blocks
// and its faults (sim::fault_settings) serve a test that also needs to fill the program memory
// before a run or look into it afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim_target.h"
#include "support/programmer.h"

namespace ttyprog::test {

// A new session of `target` (block position at word 0): every word the tool sends goes to the
// target, and what the target answers goes back, a hang-up included. Plugs into
// `programmer_options::respond`; make one for every run. `target` must outlive the run.
responder target_session(sim::sim_target& target);

// Writes `words` into the target's program memory from word 0, as write blocks would.
void store_program(sim::sim_target& target, std::span<const std::uint16_t> words);

// The first `count` words of the target's program memory.
std::vector<std::uint16_t> program_words(const sim::sim_target& target, std::size_t count);

}  // namespace ttyprog::test
