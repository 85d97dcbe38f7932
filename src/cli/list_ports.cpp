// The listing of the serial ports present.
#include "cli/list_ports.h"

#include <algorithm>
#include <cstring>

#include "platform/port_diagnosis.h"

namespace ttyprog {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Name order, each run of digits compared by its value: ttyS2 before ttyS10, COM9 before COM10.
bool name_before(const char* a, const char* b) {
  while (*a != '\0' && *b != '\0') {
    if (is_digit(*a) && is_digit(*b)) {
      std::size_t a_digits = 0, b_digits = 0;
      while (is_digit(a[a_digits])) ++a_digits;
      while (is_digit(b[b_digits])) ++b_digits;
      if (a_digits != b_digits) return a_digits < b_digits;
      if (const int order = std::strncmp(a, b, a_digits); order != 0) return order < 0;
      a += a_digits;
      b += b_digits;
    } else if (*a != *b) {
      return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b);
    } else {
      ++a;
      ++b;
    }
  }
  return *a == '\0' && *b != '\0';
}

bool listed_before(const listed_port& a, const listed_port& b) {
  if (a.stable_name.empty() != b.stable_name.empty()) return !a.stable_name.empty();
  return a.stable_name.empty() ? name_before(a.device.c_str(), b.device.c_str())
                               : name_before(a.stable_name.c_str(), b.stable_name.c_str());
}

void print_holders(std::FILE* out, const holder_list& holders) {
  if (holders.count == 0) return;
  std::fputs(" (held by ", out);
  for (std::size_t i = 0; i < holders.count; ++i) {
    const device_holder& holder = holders.holders[i];
    std::fprintf(out, "%s%s, pid %d", i > 0 ? "; " : "",
                 holder.name.empty() ? "a program" : holder.name.c_str(), holder.pid);
  }
  std::fputs(holders.more ? " and more)" : ")", out);
}

}  // namespace

void print_port_list(std::FILE* out, serial_port_list ports) {
  if (ports.count == 0) {
    std::fputs("no serial ports found\n", out);
    return;
  }
  std::sort(ports.ports.begin(), ports.ports.begin() + static_cast<std::ptrdiff_t>(ports.count),
            listed_before);
  for (std::size_t i = 0; i < ports.count; ++i) {
    const listed_port& port = ports.ports[i];
    if (!port.stable_name.empty()) std::fprintf(out, "%s -> ", port.stable_name.c_str());
    std::fputs(port.device.c_str(), out);
    print_holders(out, find_device_holders(port.device.c_str()));
    std::fputc('\n', out);
  }
  if (ports.more) std::fputs("and more\n", out);
}

int run_list_ports() {
  print_port_list(stdout, list_serial_ports());
  return 0;
}

}  // namespace ttyprog
