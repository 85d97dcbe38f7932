// The listing of the serial ports present.
#include "cli/list_ports.h"

#include <array>
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

// The ports of one pass over those present: the first PASS_PORTS in listing order after `after`
// (from the first when nullptr), in that order.
constexpr std::size_t PASS_PORTS = 32;

struct port_batch {
  const listed_port* after = nullptr;
  std::array<listed_port, PASS_PORTS> ports{};
  std::size_t count = 0;
  bool more = false;  // further ports were left for the next pass
};

void take(void* context, const listed_port& port) {
  auto* batch = static_cast<port_batch*>(context);
  if (batch->after != nullptr && !listed_before(*batch->after, port)) return;
  std::size_t at = batch->count;
  while (at > 0 && listed_before(port, batch->ports[at - 1])) --at;
  if (at == PASS_PORTS) {
    batch->more = true;
    return;
  }
  if (batch->count == PASS_PORTS) {
    batch->more = true;  // the last one drops out, for the next pass
  } else {
    ++batch->count;
  }
  for (std::size_t i = batch->count - 1; i > at; --i) batch->ports[i] = batch->ports[i - 1];
  batch->ports[at] = port;
}

void print_port(std::FILE* out, const listed_port& port) {
  if (!port.stable_name.empty()) std::fprintf(out, "%s -> ", port.stable_name.c_str());
  std::fputs(port.device.c_str(), out);
  print_holders(out, find_device_holders(port.device.c_str()));
  std::fputc('\n', out);
}

}  // namespace

void print_port_list(std::FILE* out, const port_list_roots& roots) {
  // The ports come in the system's order and may be any number: each pass keeps the next
  // PASS_PORTS of them in listing order, and a pass follows as long as one left some out.
  listed_port last{};
  port_batch batch;
  for_each_serial_port(roots, take, &batch);
  if (batch.count == 0) std::fputs("no serial ports found\n", out);
  for (;;) {
    for (std::size_t i = 0; i < batch.count; ++i) print_port(out, batch.ports[i]);
    if (!batch.more) break;
    last = batch.ports[batch.count - 1];
    batch = port_batch{&last};
    for_each_serial_port(roots, take, &batch);
  }
}

}  // namespace ttyprog
