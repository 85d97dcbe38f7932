// ttyprog-sim: plays the programmer on a pseudo-terminal. See --help.
#include <unistd.h>

#include <cstdio>
#include <span>

#include "sim_options.h"
#include "sim_pty.h"
#include "sim_server.h"
#include "sim_target.h"
#include "sim_trace.h"

using namespace ttyprog::sim;

namespace {

constexpr int EXIT_SETUP_FAILED = 1;
constexpr int EXIT_USAGE = 2;

int fail(const std::string& what) {
  std::fprintf(stderr, "ttyprog-sim: %s\n", what.c_str());
  return EXIT_SETUP_FAILED;
}

}  // namespace

int main(int argc, char** argv) {
  // 1. Options.
  const options_result parsed =
      parse_options(std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc - 1)));
  if (!parsed.error.empty()) {
    std::fprintf(stderr,
                 "ttyprog-sim: %.*s: %.*s\nUsage: ttyprog-sim [--help] [--version] [options]\n",
                 static_cast<int>(parsed.error.size()), parsed.error.data(),
                 static_cast<int>(parsed.culprit.size()), parsed.culprit.data());
    return EXIT_USAGE;
  }
  const sim_options& opt = parsed.options;
  if (opt.help) {
    std::fwrite(help_text().data(), 1, help_text().size(), stdout);
    return 0;
  }
  if (opt.version) {
    std::printf("ttyprog-sim %s\n", TTYPROG_VERSION);  // the project version, set by CMake
    return 0;
  }

  // 2. Stop signals are taken from here on, so none is lost while setting up.
  unique_fd stop = watch_stop_signals();
  if (!stop) return fail("cannot watch for signals");

  // 3. The terminal, its link and the trace.
  pty_result made = opt.device_path.empty() ? open_pseudo_terminal()
                                            : open_terminal_device(std::string(opt.device_path));
  if (!made.error.empty()) return fail(made.error);
  pseudo_terminal& pty = made.pty;
  link_guard link;
  if (!opt.link_path.empty()) {
    if (std::string error = link.create(opt.link_path, pty.slave); !error.empty())
      return fail(error);
  }
  trace_log trace;
  if (!opt.trace_path.empty() && !trace.open(opt.trace_path)) {
    return fail(std::string(opt.trace_path) + ": cannot open trace file");
  }

  if (opt.stale.size > 0 && ::write(pty.master.get(), opt.stale.bytes.data(), opt.stale.size) !=
                                static_cast<ssize_t>(opt.stale.size)) {
    return fail("cannot queue the stale bytes");
  }

  // 4. Announce the device and serve.
  std::printf("%s\n", pty.slave.c_str());
  std::fflush(stdout);

  sim_target target(opt.target, opt.faults);
  const line_timing timing{opt.pace, std::chrono::microseconds(opt.word_time_us),
                           std::chrono::milliseconds(opt.split_pause_ms), opt.chatter,
                           std::chrono::milliseconds(opt.session_gap_ms)};
  switch (serve(pty, target, trace, timing, stop.get(), opt.late_stale.view())) {
    case serve_end::stopped:
    case serve_end::hung_up: return 0;
    case serve_end::failed: break;
  }
  return fail("lost the terminal");
}
