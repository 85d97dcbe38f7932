#include "support/session.h"

#include <cstdio>

namespace ttyprog::test {

run_result run_ttyprog(const std::vector<std::string>& args, const run_options& options) {
  std::vector<std::string> argv{TTYPROG_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_binary(TTYPROG_BIN, argv, options);
}

session_result run_with_programmer(pty_pair& pty, programmer_options options,
                                   const std::vector<std::string>& command_args,
                                   const run_options& run) {
  programmer other_end(pty, std::move(options));
  std::vector<std::string> args{pty.slave_path()};
  args.insert(args.end(), command_args.begin(), command_args.end());
  session_result result;
  result.run = run_ttyprog(args, run);
  result.wire = other_end.finish();
  return result;
}

session_result run_with_programmer(programmer_options options,
                                   const std::vector<std::string>& command_args,
                                   const run_options& run) {
  pty_pair pty;
  return run_with_programmer(pty, std::move(options), command_args, run);
}

std::string hex_words(const std::vector<std::uint16_t>& words) {
  std::string text;
  for (const std::uint16_t word : words) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(word));
    if (!text.empty()) text += ' ';
    text += digits;
  }
  return text;
}

}  // namespace ttyprog::test
