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

}  // namespace

void run_erase(serial_port& port, const char*) { print_outcome(prog_erase(port)); }

void run_erase_all(serial_port& port, const char*) { print_outcome(prog_erase_all(port)); }

void run_write_id(serial_port& port, const char* param) {
  if (param == nullptr) {
    std::puts("ID unspecified!");
    return;
  }
  std::optional<std::uint32_t> id = parse_hex_param(param, 0xFFFFFFFFu);
  if (!id) {
    std::puts("invalid ID!");
    return;
  }
  std::printf("writing ID %08x...\n", *id);
  print_outcome(prog_write_id(port, *id));
}

void run_write_config(serial_port& port, const char* param) {
  if (param == nullptr) {
    std::puts("Configuration word unspecified!");
    return;
  }
  std::optional<std::uint32_t> value = parse_hex_param(param, 0xFFFFu);
  if (!value) {
    std::puts("invalid configuration word!");
    return;
  }
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
