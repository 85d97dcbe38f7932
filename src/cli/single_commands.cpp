// The commands that are one exchange with the programmer: erase, eraseall, writeid, writeconfig
// and readidandconfig.
#include <cstdio>

#include "cli/commands.h"
#include "cli/link_failure.h"
#include "cli/param_parse.h"
#include "link/protocol.h"

namespace ttyprog {

namespace {

void print_outcome(const prog_reply& reply) {
  std::puts(reply.ok() ? "Done!" : "Failed...");
  report_link_failure(reply.link);
}

// The value of a required hexadecimal parameter; nothing, after the line saying what is wrong,
// when it is missing or not a number that fits `max`.
std::optional<std::uint32_t> required_hex(const char* param, std::uint32_t max, const char* missing,
                                          const char* invalid) {
  if (param == nullptr) {
    std::puts(missing);
    return std::nullopt;
  }
  std::optional<std::uint32_t> value = parse_hex_param(param, max);
  if (!value) std::puts(invalid);
  return value;
}

}  // namespace

void run_erase(serial_port& port, const char*) { print_outcome(prog_erase(port)); }

void run_erase_all(serial_port& port, const char*) { print_outcome(prog_erase_all(port)); }

void run_write_id(serial_port& port, const char* param) {
  std::optional<std::uint32_t> id =
      required_hex(param, 0xFFFFFFFFu, "ID unspecified!", "invalid ID!");
  if (!id) return;
  std::printf("writing ID %08x...\n", *id);
  print_outcome(prog_write_id(port, *id));
}

void run_write_config(serial_port& port, const char* param) {
  std::optional<std::uint32_t> value = required_hex(
      param, 0xFFFFu, "Configuration word unspecified!", "invalid configuration word!");
  if (!value) return;
  std::printf("writing configuration word %04x...\n", *value);
  print_outcome(prog_write_config(port, *value));
}

void run_read_id_config(serial_port& port, const char*) {
  std::puts("reading id informations...");
  id_read ids = prog_read_ids(port);
  if (ids.link != link_status::ok) {
    std::puts("Failed...");
    report_link_failure(ids.link);
    return;
  }
  std::printf("User ID   = %08x\n", ids.user_id);
  std::printf("Device ID = %04x\n", static_cast<unsigned>(ids.device_id));
  std::printf("Config    = %04x\n", static_cast<unsigned>(ids.config));
}

}  // namespace ttyprog
