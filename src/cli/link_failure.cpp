#include "cli/link_failure.h"

#include <cstdio>

namespace ttyprog {

void report_link_failure(link_status status) {
  switch (status) {
    case link_status::ok:
      return;
    case link_status::timed_out:
      std::fflush(stdout);
      std::fputs("Programmer not responding!\n", stderr);
      return;
    case link_status::lost:
      std::fflush(stdout);
      std::fputs("Connection to programmer lost!\n", stderr);
      return;
    case link_status::unexpected:
      std::fflush(stdout);
      std::fputs("Unexpected data from programmer!\n", stderr);
      return;
    case link_status::chatter:
      std::fflush(stdout);
      std::fputs("Programmer sends without being asked!\n", stderr);
      return;
  }
}

}  // namespace ttyprog
