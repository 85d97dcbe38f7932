#include "cli/link_failure.h"

#include <cstdio>

namespace ttyprog {

namespace {

// The standard error line for each way the link can fail; nullptr when it did not.
const char* failure_text(link_status status) {
  switch (status) {
    case link_status::ok: return nullptr;
    case link_status::timed_out: return "Programmer not responding!\n";
    case link_status::lost: return "Connection to programmer lost!\n";
    case link_status::unexpected: return "Unexpected data from programmer!\n";
    case link_status::chatter: return "Programmer sends without being asked!\n";
  }
  return nullptr;
}

}  // namespace

void report_link_failure(link_status status) {
  const char* text = failure_text(status);
  if (text == nullptr) return;
  std::fflush(stdout);  // the failure line on standard output comes first
  std::fputs(text, stderr);
}

}  // namespace ttyprog
