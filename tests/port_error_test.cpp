// A port that will not open: the fixed line for scripts, and on a terminal one more line that
// says why.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <string>

#include "cli/port_error.h"
#include "support/expected.h"
#include "support/pty.h"
#include "support/scoped_env.h"
#include "support/session.h"
#include "support/temp_dir.h"
#include "support/terminal_run.h"

namespace ttyprog {
namespace {

using test::port_failed;

template <std::size_t N>
fixed_text<N> text_of(const char* chars) {
  fixed_text<N> text;
  std::snprintf(text.chars.data(), N, "%s", chars);
  return text;
}

device_access access_of(const char* group, bool may_use, bool in_now, bool listed,
                        const char* user) {
  device_access access;
  access.known = true;
  access.group = text_of<64>(group);
  access.group_may_use = may_use;
  access.in_group_now = in_now;
  access.listed_in_group = listed;
  access.user = text_of<64>(user);
  return access;
}

TEST(PortFailureText, SaysWhyAndWhatHelps) {
  struct row {
    const char* name;
    port_failure_facts facts;
    const char* expected;
  };
  port_failure_facts missing{open_failure::no_such_device, ENOENT, "/dev/serial/by-id", {}, {}, {}};
  port_failure_facts missing_listed = missing;
  missing_listed.devices.count = 2;
  missing_listed.devices.more = true;
  missing_listed.devices.paths[0] = text_of<160>("/dev/serial/by-id/usb-a");
  missing_listed.devices.paths[1] = text_of<160>("/dev/serial/by-id/usb-b");
  port_failure_facts missing_nowhere = missing;
  missing_nowhere.listing_dir = nullptr;

  auto denied = [](device_access access) {
    return port_failure_facts{open_failure::permission_denied, EACCES, nullptr, {}, {}, access};
  };
  port_failure_facts busy{open_failure::busy, EBUSY, nullptr, {}, {}, {}};
  port_failure_facts busy_held = busy;
  busy_held.holders.count = 2;
  busy_held.holders.more = true;
  busy_held.holders.holders[0] = {1234, text_of<64>("minicom")};
  busy_held.holders.holders[1] = {99, {}};

  const row rows[] = {
      {"missing", missing,
       "No such device, and /dev/serial/by-id lists no serial device: is the programmer plugged "
       "in?"},
      {"missing, others attached", missing_listed,
       "No such device. Attached serial devices: /dev/serial/by-id/usb-a, /dev/serial/by-id/usb-b"
       " and more"},
      {"missing, no listing", missing_nowhere, "No such device: check the port's name."},
      {"not in group", denied(access_of("dialout", true, false, false, "ann")),
       "Permission denied: the device belongs to group dialout. Join it with"
       " \"sudo usermod -aG dialout ann\", then log out and in again."},
      {"user unknown", denied(access_of("dialout", true, false, false, "")),
       "Permission denied: the device belongs to group dialout. Join it with"
       " \"sudo usermod -aG dialout $USER\", then log out and in again."},
      {"joined, old login", denied(access_of("dialout", true, false, true, "ann")),
       "Permission denied: you are in group dialout, but this login started before you joined it."
       " Log out and in again."},
      {"group may not use it", denied(access_of("tty", false, false, false, "ann")),
       "Permission denied: this user may not read and write the device (see \"ls -l /dev/x\")."},
      {"root's group", denied(access_of("root", true, false, false, "ann")),
       "Permission denied: this user may not read and write the device (see \"ls -l /dev/x\")."},
      {"already in group", denied(access_of("dialout", true, true, true, "ann")),
       "Permission denied: this user may not read and write the device (see \"ls -l /dev/x\")."},
      {"busy, holder hidden", busy,
       "Busy: another program holds the device, perhaps a terminal program, another ttyprog or"
       " ModemManager."},
      {"busy, holders seen", busy_held,
       "Busy: the device is held by minicom (pid 1234), a program (pid 99) and more."},
      {"not a terminal",
       {open_failure::not_a_terminal, 0, nullptr, {}, {}, {}},
       "Not a terminal device: /dev/x cannot be a serial port."},
      {"other",
       {open_failure::other, ENOSPC, nullptr, {}, {}, {}},
       "The system reported: No space left on device."},
      {"other, no reason",
       {open_failure::other, 0, nullptr, {}, {}, {}},
       "The system gave no reason."},
  };
  for (const row& r : rows) {
    EXPECT_STREQ(describe_port_failure("/dev/x", r.facts).data(), r.expected) << r.name;
  }
}

std::string own_process_name() {
  std::string name;
  std::getline(std::ifstream("/proc/self/comm"), name);
  return name;
}

// `cat PORT`: another program reading the port without any lock. Its process ID, or -1.
pid_t start_cat(const std::string& port) {
  int started[2];
  if (::pipe2(started, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open(port.c_str(), O_RDONLY | O_NOCTTY);
    const int out = ::open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0) _exit(127);
    ::execl("/bin/cat", "cat", static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(started[1]);
  char ignored;
  (void)::read(started[0], &ignored, 1);  // returns once the exec has closed the pipe
  ::close(started[0]);
  return pid;
}

// The real binary on real devices: a script (standard error a pipe) sees only the fixed line; a
// person at a terminal also sees the cause, and so does a script that asks with TTYPROG_VERBOSE=1.
TEST(PortFailure, CauseOnATerminalOrWhenAskedFor) {
  test::temp_dir dir;
  const std::string plain_file = dir.file_with("plain", "not a device");
  test::pty_pair held;  // a terminal device that this test holds, locked
  const int holder = ::open(held.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  test::pty_pair read_by_cat;
  const pid_t cat = start_cat(read_by_cat.slave_path());
  ASSERT_GT(cat, 0);

  struct row {
    std::string port;
    std::string cause;  // the whole cause line, or its start when `prefix_only`
    bool prefix_only = false;
    bool controlling = false;   // the terminal the run sees is its controlling terminal
    bool own_terminal = false;  // the cause is about the terminal: a pipe has another
  };
  const row rows[] = {
      // Whether devices are attached depends on the machine: only the start is fixed.
      {(dir / "missing").string(), "No such device", true},
      {plain_file, "Not a terminal device: " + plain_file + " cannot be a serial port."},
      {"/dev/null", "Not a terminal device: /dev/null cannot be a serial port."},
      {held.slave_path(), "Busy: the device is held by " + own_process_name() + " (pid " +
                              std::to_string(::getpid()) + ")."},
      {read_by_cat.slave_path(),
       "Busy: the device is held by cat (pid " + std::to_string(cat) + ")."},
      // The run's own terminal, by the name of the controlling terminal or by the path of the
      // terminal its standard error is on: refused before anything is written to it or changed.
      {"/dev/tty", "/dev/tty is this session's own terminal, not a programmer's line.", false, true,
       true},
      {"/proc/self/fd/2",
       "/proc/self/fd/2 is this session's own terminal, not a programmer's line.", false, false,
       true},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.port);
    const test::run_result piped = test::run_ttyprog({r.port, "erase"});
    EXPECT_EQ(piped.exit_code, 1);
    EXPECT_EQ(piped.out, "");
    EXPECT_EQ(piped.err, port_failed(r.port));
    if (!r.own_terminal) {
      const test::scoped_env verbose("TTYPROG_VERBOSE", "1");
      const test::run_result asked = test::run_ttyprog({r.port, "erase"});
      const std::string cause =
          asked.err.substr(std::min(asked.err.size(), port_failed(r.port).size()));
      EXPECT_EQ(asked.err.rfind(port_failed(r.port), 0), 0u) << asked.err;
      EXPECT_EQ(cause.rfind(r.cause, 0), 0u) << cause;
    }

    test::terminal_options terminal;
    terminal.controlling = r.controlling;
    const test::terminal_result shown = test::run_on_terminal({r.port, "erase"}, terminal);
    EXPECT_EQ(shown.exit_code, 1);
    EXPECT_EQ(shown.out, "");
    const std::string cause =
        shown.terminal.substr(std::min(shown.terminal.size(), port_failed(r.port).size()));
    EXPECT_EQ(shown.terminal.rfind(port_failed(r.port), 0), 0u) << shown.terminal;
    if (r.prefix_only) {
      EXPECT_EQ(cause.rfind(r.cause, 0), 0u) << cause;
      EXPECT_EQ(cause.find('\n'), cause.size() - 1) << "one line: " << cause;
    } else {
      EXPECT_EQ(cause, r.cause + "\n");
    }
  }
  ::close(holder);
  ::kill(cat, SIGTERM);
  ::waitpid(cat, nullptr, 0);
}

// A user outside the device's group is told which group to join. Needs root to make such a user.
TEST(PortFailure, PermissionDeniedNamesTheGroup) {
  const group* dialout = ::getgrnam("dialout");
  if (::geteuid() != 0 || dialout == nullptr) GTEST_SKIP() << "needs root and a dialout group";
  test::pty_pair device;
  ASSERT_EQ(::chown(device.slave_path().c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(device.slave_path().c_str(), 0660), 0);

  test::terminal_options as_nobody;
  as_nobody.user = 65534;
  as_nobody.group = 65534;
  const test::terminal_result shown =
      test::run_on_terminal({device.slave_path(), "erase"}, as_nobody);
  EXPECT_EQ(shown.exit_code, 1);
  const std::string user = ::getpwuid(65534) != nullptr ? ::getpwuid(65534)->pw_name : "$USER";
  EXPECT_EQ(shown.terminal,
            port_failed(device.slave_path()) +
                "Permission denied: the device belongs to group dialout. Join it with"
                " \"sudo usermod -aG dialout " +
                user + "\", then log out and in again.\n");
}

}  // namespace
}  // namespace ttyprog
