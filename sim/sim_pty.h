// The pseudo-terminal the simulator serves on, and the optional symbolic link to it.
#pragma once

#include <string>
#include <string_view>

#include "sim_fd.h"

namespace ttyprog::sim {

struct pseudo_terminal {
  unique_fd master;   // non-blocking
  std::string slave;  // the device path a program opens
  // An existing terminal device served as it is (--device): `master` is the device itself, no
  // hang-up tells sessions apart, and one means the device has gone.
  bool device = false;
};

struct pty_result {
  pseudo_terminal pty;
  std::string error;  // empty on success
};

// Creates the terminal, puts its line into raw mode at once (so nothing is changed before a
// program configures it), and opens and closes the slave once: from then on the master reports
// POLLHUP exactly while no program has the slave open, which is how sessions are told apart.
// (Before the slave's first open, Linux reports no hang-up at all.)
pty_result open_pseudo_terminal();

// Opens an existing terminal device to serve in place of a pseudo-terminal, with the line set as
// the tool sets it (raw, 9600 baud, 8N1, no flow control) and stale input dropped.
pty_result open_terminal_device(const std::string& path);

// Discards answer bytes that the last program left unread. They would otherwise wait in the
// slave's input queue and reach the next program first. Done from the master side (setting the
// line again with TCSAFLUSH flushes the slave's input queue), so the simulator never opens the
// slave itself: a program that opens the port finds nobody else holding it. Only the direction
// towards the slave is flushed, so the request of a program that has already opened the slave
// again is kept. Returns false when the terminal refused.
bool discard_unread_answers(int master);

// A symbolic link that lives as long as this object.
class link_guard {
 public:
  link_guard() = default;
  link_guard(const link_guard&) = delete;
  link_guard& operator=(const link_guard&) = delete;
  ~link_guard() { remove(); }

  // Makes `path` point to `target`. An existing symbolic link is replaced; any other existing
  // file is left alone and reported. Returns an error text, empty on success.
  std::string create(std::string_view path, const std::string& target);

  // Removes the link if it still points where it was made to point.
  void remove() noexcept;

 private:
  std::string path_;
  std::string target_;
};

}  // namespace ttyprog::sim
