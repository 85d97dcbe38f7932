// Running the programs under measurement as whole processes, and the simulator beside them.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ttyprog::bench {

// One finished run: its exit status and what the kernel counted for it.
struct process_run {
  int exit_code = -1;    // -1 when it did not exit normally
  double wall_s = 0;     // fork to reaped, steady clock
  double user_s = 0;     // CPU time in user mode (wait4)
  double sys_s = 0;      // CPU time in the kernel (wait4)
  long max_rss_kib = 0;  // peak resident set size (wait4)
  long wakeups = 0;      // voluntary context switches: each time it slept and was woken (wait4)
};

// Runs argv[0] (a path) with the given arguments, standard output to `stdout_path` (truncated),
// standard input and error to /dev/null, and waits for it.
process_run run_process(const std::vector<std::string>& argv, const std::string& stdout_path);

// ttyprog-sim in the background for as long as this object lives; stopped with SIGTERM.
class simulator {
 public:
  // Starts `binary` with `options` and reads the terminal path it announces.
  simulator(const std::string& binary, const std::vector<std::string>& options);
  simulator(const simulator&) = delete;
  simulator& operator=(const simulator&) = delete;
  ~simulator();

  const std::string& port() const { return port_; }

 private:
  pid_t pid_ = -1;
  std::string port_;
};

// Whole file as a string; empty when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace ttyprog::bench
