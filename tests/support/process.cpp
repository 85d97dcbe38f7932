#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace ttyprog::test {

namespace {

using clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

struct pipe_pair {
  int read = -1, write = -1;
};

pipe_pair make_pipe() {
  int fds[2];
  // Close-on-exec, so that no other child started meanwhile keeps a copy open.
  if (::pipe2(fds, O_CLOEXEC) != 0) fail("pipe2");
  return {fds[0], fds[1]};
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int poll_timeout(clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Reads what is available from `fd` into `into`; closes `fd` at end of file.
void drain(int& fd, std::string& into) {
  char buffer[4096];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<std::size_t>(n));
  } else if (n == 0 || errno != EINTR) {
    close_fd(fd);
  }
}

// Starts the child with the default action for the signals the tests send: a script's background
// job (or nohup) would otherwise hand down SIGINT, SIGQUIT or SIGHUP ignored. With `real_time`,
// the lowest real-time priority where the system allows it. Returns posix_spawn's error code.
int spawn(pid_t& pid, const std::string& path, const posix_spawn_file_actions_t& actions,
          std::vector<char*>& args, bool real_time) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM})
    sigaddset(&defaults, signal_number);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  short flags = POSIX_SPAWN_SETSIGDEF;
  if (real_time) {
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_FIFO);
    posix_spawnattr_setschedpolicy(&attributes, SCHED_FIFO);
    posix_spawnattr_setschedparam(&attributes, &priority);
    posix_spawnattr_setflags(&attributes, static_cast<short>(flags | POSIX_SPAWN_SETSCHEDULER));
    const int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, args.data(), environ);
    if (rc != EPERM) {
      posix_spawnattr_destroy(&attributes);
      return rc;
    }
  }
  posix_spawnattr_setflags(&attributes, flags);
  const int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  return rc;
}

}  // namespace

child_process::child_process(const std::string& path, const std::vector<std::string>& argv,
                             const run_options& options)
    : stdin_bytes_(options.stdin_bytes) {
  // A child that exits without reading its input must not kill the test with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);

  pipe_pair in = make_pipe(), out = make_pipe(), err = make_pipe();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.close_stdin) {
    posix_spawn_file_actions_addclose(&actions, 0);
  } else {
    posix_spawn_file_actions_adddup2(&actions, in.read, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, out.write, 1);
  posix_spawn_file_actions_adddup2(&actions, err.write, 2);

  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  start_ = clock::now();
  deadline_ = start_ + options.timeout;
  const int rc = spawn(pid_, path, actions, args, options.real_time);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in.read);
  ::close(out.write);
  ::close(err.write);
  in_ = in.write;
  out_ = out.read;
  err_ = err.read;
  if (rc != 0) {
    pid_ = -1;
    close_fd(in_);
    close_fd(out_);
    close_fd(err_);
    errno = rc;
    fail("posix_spawn");
  }
  if (options.close_stdin || stdin_bytes_.empty()) {
    close_fd(in_);
  } else {
    ::fcntl(in_, F_SETFL, O_NONBLOCK);
  }
}

child_process::~child_process() {
  close_fd(in_);
  close_fd(out_);
  close_fd(err_);
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string child_process::read_line() {
  std::string line;
  char c = 0;
  while (out_ >= 0) {
    pollfd fd{out_, POLLIN, 0};
    if (::poll(&fd, 1, poll_timeout(deadline_)) <= 0) break;
    if (::read(out_, &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  return line;
}

void child_process::send_signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

run_result child_process::wait() {
  run_result result;
  std::size_t fed = 0;

  // Standard output and error until both close (or the deadline passes).
  while ((out_ >= 0 || err_ >= 0) && clock::now() < deadline_) {
    pollfd fds[3] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}, {in_, POLLOUT, 0}};
    const int ready = ::poll(fds, 3, poll_timeout(deadline_));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) fail("poll");
    if (ready == 0) break;  // deadline
    if (fds[0].revents != 0) drain(out_, result.out);
    if (fds[1].revents != 0) drain(err_, result.err);
    if (fds[2].revents != 0) {
      const ssize_t n = ::write(in_, stdin_bytes_.data() + fed, stdin_bytes_.size() - fed);
      if (n > 0) fed += static_cast<std::size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || fed == stdin_bytes_.size()) {
        close_fd(in_);
      }
    }
  }
  close_fd(in_);

  // Then the exit status, until the same deadline.
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && clock::now() < deadline_) {
    ::usleep(1000);
  }
  if (done == 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    result.timed_out = true;
  }
  pid_ = -1;
  // Whatever the child wrote before it was killed.
  while (out_ >= 0) drain(out_, result.out);
  while (err_ >= 0) drain(err_, result.err);

  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start_);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

run_result run_binary(const std::string& path, const std::vector<std::string>& argv,
                      const run_options& options) {
  return child_process(path, argv, options).wait();
}

}  // namespace ttyprog::test
