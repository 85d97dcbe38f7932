#include "bench_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ttyprog::bench {

namespace {

std::vector<char*> argv_of(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

double seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// In the child: put `fd` on `target`, or end the child.
void move_fd(int fd, int target) {
  if (fd < 0 || ::dup2(fd, target) < 0) ::_exit(126);
  if (fd != target) ::close(fd);
}

}  // namespace

process_run run_process(const std::vector<std::string>& args, const std::string& stdout_path) {
  std::vector<char*> argv = argv_of(args);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    move_fd(::open("/dev/null", O_RDONLY), STDIN_FILENO);
    move_fd(::open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    move_fd(::open("/dev/null", O_WRONLY), STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error("wait4 failed");
  }
  const auto end = std::chrono::steady_clock::now();
  process_run run;
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.wall_s = std::chrono::duration<double>(end - start).count();
  run.user_s = seconds(usage.ru_utime);
  run.sys_s = seconds(usage.ru_stime);
  run.max_rss_kib = usage.ru_maxrss;
  run.wakeups = usage.ru_nvcsw;
  return run;
}

simulator::simulator(const std::string& binary, const std::vector<std::string>& options) {
  std::vector<std::string> args{binary};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv = argv_of(args);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    move_fd(out[1], STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  char c = 0;
  while (::read(out[0], &c, 1) == 1 && c != '\n') port_ += c;
  ::close(out[0]);
  if (port_.empty()) throw std::runtime_error("the simulator announced no terminal");
}

simulator::~simulator() {
  if (pid_ <= 0) return;
  (void)::kill(pid_, SIGTERM);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace ttyprog::bench
