// Running a built binary as a child process: argv in, stdout / stderr / exit code out, with a hard
// timeout so that a hanging tool fails its test instead of hanging the suite.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace ttyprog::test {

struct run_options {
  std::string stdin_bytes;   // fed to standard input, which then reaches end of file
  bool close_stdin = false;  // start the child with descriptor 0 closed instead
  std::chrono::milliseconds timeout{20'000};  // then the child is killed
  // Started with the lowest real-time scheduling priority where the system allows it (root), so
  // that the load of the machine does not delay it; otherwise as usual.
  bool real_time = false;
};

struct run_result {
  int exit_code = -1;      // valid when the child exited by itself
  int signal = 0;          // the signal that ended it, or 0
  bool timed_out = false;  // killed by the harness when the timeout ran out
  std::string out;
  std::string err;
  std::chrono::milliseconds elapsed{0};
};

// A running child. The destructor kills and reaps a child that was not waited for.
class child_process {
 public:
  // `path` is executed; `argv` is handed over as is, argv[0] included.
  child_process(const std::string& path, const std::vector<std::string>& argv,
                const run_options& options = {});
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;
  ~child_process();

  // Reads one line of standard output while the child runs (without its newline); what was read
  // is not part of the output that wait() returns. Empty when nothing came before the timeout.
  std::string read_line();

  // Sends `signal` to the child.
  void send_signal(int signal) const;
  // The child's process ID while it runs (-1 once it has been waited for).
  pid_t pid() const noexcept { return pid_; }

  // Pumps standard input and output until the child ends or the timeout runs out.
  run_result wait();

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string stdin_bytes_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point deadline_;
};

run_result run_binary(const std::string& path, const std::vector<std::string>& argv,
                      const run_options& options = {});

}  // namespace ttyprog::test
