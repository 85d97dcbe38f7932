#include "cli/outcome.h"

namespace ttyprog {

outcome failure_of(link_status link) {
  switch (link) {
    case link_status::timed_out:
    case link_status::lost: return outcome::no_answer;
    case link_status::ok:
    case link_status::unexpected:
    case link_status::chatter: return outcome::refused;
  }
  return outcome::refused;
}

int exit_code(outcome result, bool strict) {
  // A lost result is never reported as success.
  if (result == outcome::output_lost) return EXIT_OUTPUT_LOST;
  if (!strict) return EXIT_DONE;
  switch (result) {
    case outcome::done: return EXIT_DONE;
    case outcome::refused: return EXIT_REFUSED;
    case outcome::no_answer: return EXIT_NO_ANSWER;
    case outcome::differences: return EXIT_DIFFERENCES;
    case outcome::bad_input: return EXIT_BAD_INPUT;
    case outcome::no_data: return EXIT_NO_DATA;
    case outcome::unknown_command: return EXIT_UNKNOWN_COMMAND;
    case outcome::output_lost: return EXIT_OUTPUT_LOST;
  }
  return EXIT_REFUSED;
}

}  // namespace ttyprog
