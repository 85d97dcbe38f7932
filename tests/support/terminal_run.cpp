#include "support/terminal_run.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

#include "support/pty.h"

namespace ttyprog::test {

namespace {

using clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Reads what is there into `into`; false at end of file or, for a pty master whose slave is
// closed everywhere, at EIO.
bool drain(int fd, std::string& into) {
  char buffer[4096];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) into.append(buffer, static_cast<std::size_t>(n));
  return n > 0 || (n < 0 && errno == EINTR);
}

}  // namespace

terminal_result run_on_terminal(const std::vector<std::string>& args,
                                const terminal_options& options) {
  pty_pair terminal;  // raw: the test sees the bytes exactly as written
  const int slave = ::open(terminal.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) fail("open terminal");
  int out_pipe[2] = {-1, -1};
  if (!options.stdout_on_terminal && ::pipe2(out_pipe, O_CLOEXEC) != 0) fail("pipe2");
  const int null_in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (options.typed) {
    termios editing{};
    ::tcgetattr(slave, &editing);
    editing.c_lflag |= ICANON;
    editing.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(slave, TCSANOW, &editing);
  }

  std::vector<std::string> argv_text{TTYPROG_BIN};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  if (!options.program.empty()) argv_text = options.program;
  std::vector<char*> argv;
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) fail("fork");
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    if (options.group && (::setgroups(0, nullptr) != 0 || ::setgid(*options.group) != 0))
      _exit(126);
    if (options.user && ::setuid(*options.user) != 0) _exit(126);
    // A session of its own, with the terminal as its controlling terminal, as after a login.
    if (options.controlling && (::setsid() < 0 || ::ioctl(slave, TIOCSCTTY, 0) != 0)) _exit(126);
    ::dup2(options.typed ? slave : null_in, 0);
    ::dup2(options.stdout_on_terminal ? slave : out_pipe[1], 1);
    ::dup2(slave, 2);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(slave);
  ::close(null_in);
  if (out_pipe[1] >= 0) ::close(out_pipe[1]);

  terminal_result result;
  int master = terminal.master();
  if (options.typed)
    write_bytes(master, std::vector<std::uint8_t>(options.typed->begin(), options.typed->end()));
  int out = out_pipe[0];
  const auto deadline = clock::now() + options.timeout;
  std::optional<clock::time_point> signalled;
  while ((master >= 0 || out >= 0) && clock::now() < deadline) {
    pollfd fds[2] = {{master, POLLIN, 0}, {out, POLLIN, 0}};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
    const int ready = ::poll(fds, 2, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    if (fds[0].revents != 0 && !drain(master, result.terminal)) master = -1;  // pty_pair closes it
    if (options.signal != 0 && !signalled &&
        result.terminal.find(options.shown) != std::string::npos) {
      ::kill(pid, options.signal);
      signalled = clock::now();
    }
    if (fds[1].revents != 0 && !drain(out, result.out)) {
      ::close(out);
      out = -1;
    }
  }
  if (out >= 0) ::close(out);

  int status = 0;
  if (clock::now() >= deadline) {
    ::kill(pid, SIGKILL);
    result.timed_out = true;
  }
  ::waitpid(pid, &status, 0);
  if (signalled) {
    result.after_signal =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - *signalled);
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

std::vector<std::string> screen_of(const std::string& bytes) {
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (const char c : bytes) {
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      lines.emplace_back();
      column = 0;
    } else {
      std::string& line = lines.back();
      if (column >= line.size()) line.resize(column + 1, ' ');
      line[column++] = c;
    }
  }
  for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

}  // namespace ttyprog::test
