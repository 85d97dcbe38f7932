#include "cli/blocks.h"

#include <cstdio>

namespace ttyprog {

bool stop_here(std::size_t done, std::size_t total, const char* left_behind) {
  if (output_lost()) return true;
  if (stop_request() == 0) return false;
  static bool told = false;
  if (!told) {
    told = true;
    erase_progress();
    std::fflush(stdout);
    if (done == 0) {
      std::fputs("Interrupted: nothing was sent.\n", stderr);
    } else {
      std::fprintf(stderr, "Interrupted after %zu of %zu words: ", done, total);
      std::fprintf(stderr, "%s.\n", left_behind);
    }
  }
  return true;
}

}  // namespace ttyprog
