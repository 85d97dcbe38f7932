// A pseudo-terminal pair for tests: the tool (or the link under test) opens the slave path like a
// serial port, and the test plays the programmer on the master.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace ttyprog::test {

class pty_pair {
 public:
  // Opens a new pair and sets the line raw, so nothing is echoed or translated even before the
  // port's owner configures it. The speed is left at the pty default (38400), not 9600, so a test
  // can tell whether someone configured the line.
  pty_pair();
  pty_pair(const pty_pair&) = delete;
  pty_pair& operator=(const pty_pair&) = delete;
  ~pty_pair();

  int master() const noexcept { return master_; }
  const std::string& slave_path() const noexcept { return slave_path_; }

  // Closes the master: whoever holds the slave sees a hang-up. Safe to call twice.
  void close_master() noexcept;

 private:
  int master_ = -1;
  std::string slave_path_;
};

// Writes all of `bytes` to `fd` (blocking).
void write_bytes(int fd, const std::vector<std::uint8_t>& bytes);

// Reads up to `count` bytes, returning early with what has arrived when `timeout` passes without
// all of them, or at end of file / hang-up.
std::vector<std::uint8_t> read_bytes(int fd, std::size_t count, std::chrono::milliseconds timeout);

}  // namespace ttyprog::test
