// The commands that are one exchange with the programmer: erase, eraseall, writeid, writeconfig
// and readidandconfig.
#include "cli/commands.h"
#include "cli/link_failure.h"
#include "cli/output.h"
#include "cli/param_parse.h"
#include "cli/steps.h"
#include "link/protocol.h"

namespace ttyprog {

namespace {

// Success is told only once the line has stayed quiet after the answer.
outcome print_outcome(serial_port& port, prog_reply reply) {
  if (reply.ok()) reply.link = prog_settle(port);
  out_line(reply.ok() ? "Done!" : "Failed...");
  report_link_failure(reply.link);
  return reply.ok() ? outcome::done : failure_of(reply.link);
}

// The value of a required hexadecimal parameter; nothing, after the line saying what is wrong,
// when it is missing or not a number that fits `max`.
std::optional<std::uint32_t> required_hex(const char* param, std::uint32_t max, const char* missing,
                                          const char* invalid) {
  if (param == nullptr) {
    out_line(missing);
    return std::nullopt;
  }
  std::optional<std::uint32_t> value = parse_hex_param(param, max);
  if (!value) out_line(invalid);
  return value;
}

}  // namespace

outcome run_erase(serial_port& port, const char*) { return print_outcome(port, prog_erase(port)); }

outcome run_erase_all(serial_port& port, const char*) {
  return print_outcome(port, prog_erase_all(port));
}

outcome run_write_id(serial_port& port, const char* param) {
  std::optional<std::uint32_t> id =
      required_hex(param, 0xFFFFFFFFu, "ID unspecified!", "invalid ID!");
  if (!id) return outcome::bad_input;
  out_format("writing ID %08x...\n", *id);
  return print_outcome(port, prog_write_id(port, *id));
}

outcome run_write_config(serial_port& port, const char* param) {
  std::optional<std::uint32_t> value = required_hex(
      param, 0xFFFFu, "Configuration word unspecified!", "invalid configuration word!");
  if (!value) return outcome::bad_input;
  out_format("writing configuration word %04x...\n", *value);
  return print_outcome(port, prog_write_config(port, *value));
}

outcome read_ids(serial_port& port, id_read& ids) {
  out_line("reading id informations...");
  ids = prog_read_ids(port);
  if (ids.link == link_status::ok) ids.link = prog_settle(port);
  if (ids.link != link_status::ok) {
    out_line("Failed...");
    report_link_failure(ids.link);
    return failure_of(ids.link);
  }
  out_format("User ID   = %08x\n", ids.user_id);
  out_format("Device ID = %04x\n", static_cast<unsigned>(ids.device_id));
  out_format("Config    = %04x\n", static_cast<unsigned>(ids.config));
  return outcome::done;
}

outcome run_read_id_config(serial_port& port, const char*) {
  id_read ids;
  return read_ids(port, ids);
}

}  // namespace ttyprog
