// The session loop: serves one program after another on the pseudo-terminal.
//
// Whether a program holds the slave open is read off the master: Linux raises POLLHUP on it while
// no descriptor of the slave is open, and keeps raising it until one is opened again (it does not
// raise it before the slave's first open, which open_pseudo_terminal takes care of). A session
// runs from the moment the hang-up clears until it comes back. As POLLHUP cannot be waited for
// to go away, the idle simulator sleeps on an inotify watch for opens of the slave's node (with a
// slow re-check as a safety net), so it takes no CPU time while idle.
//
// A program that closes the port and another that opens it within a few microseconds, before the
// simulator has looked at the line, share one session: ttyprog runs are whole processes apart.
//
// Where the other end of the line stays open (a virtual machine's serial port on the terminal, or
// a served device), a pause on the line ends the session instead (`session_gap`): the tool's
// quiet wait at the open and its settle time at the end keep runs at least that far apart, while
// within a run the line never pauses that long.
//
// The simulator never opens the slave while it serves: a program that opens the port finds no
// other holder. Answers left unread are discarded from the master side when a session ends, and
// an answer whose program has gone is not sent on.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "sim_fd.h"
#include "sim_pty.h"
#include "sim_target.h"
#include "sim_trace.h"

namespace ttyprog::sim {

struct line_timing {
  bool pace = false;
  std::chrono::microseconds word_time{0};    // per word written into the target
  std::chrono::milliseconds split_pause{0};  // between the two bytes of an answer word
  bool chatter = false;  // REPLY_OK unasked, one word every 2 byte times, all session long
  // A pause this long on the line, in either direction, ends the session; the next word received
  // starts a new one. 0: off. For a line whose other end stays open, so no hang-up is ever seen.
  std::chrono::milliseconds session_gap{0};
};

enum class serve_end {
  stopped,  // SIGINT, SIGTERM or SIGHUP
  hung_up,  // the hang-up fault fired; the master is closed
  failed,   // the terminal could not be watched or read
};

// Blocks SIGINT, SIGTERM and SIGHUP and returns a descriptor that becomes readable when one
// arrives.
unique_fd watch_stop_signals();

// Serves until a stop signal, the hang-up fault, or a failure of the terminal itself (a served
// device going away). `late_stale`
// goes out at the line rate as soon as the first session starts, before any word is taken: the
// rest of an earlier answer still arriving after the port was opened.
serve_end serve(pseudo_terminal& pty, sim_target& target, trace_log& trace, line_timing timing,
                int stop_fd, std::span<const std::uint8_t> late_stale = {});

}  // namespace ttyprog::sim
