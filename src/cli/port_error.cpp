// Every text about a port that would not open.
#include "cli/port_error.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli/notes.h"
#include "cli/output.h"
#include "platform/console.h"
#include "platform/texts.h"

namespace ttyprog {

namespace {

// Appends formatted text to a cause line; what does not fit is cut off, never overrun.
class line_writer {
 public:
  explicit line_writer(cause_line& line) : line_(line) { line_[0] = '\0'; }

  TTYPROG_PRINTF_FORMAT(2, 3) void add(const char* format, ...) {
    if (used_ + 1 >= line_.size()) return;
    std::va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(line_.data() + used_, line_.size() - used_, format, args);
    va_end(args);
    if (written > 0) used_ = std::min(used_ + static_cast<std::size_t>(written), line_.size() - 1);
  }

 private:
  cause_line& line_;
  std::size_t used_ = 0;
};

void describe_missing(line_writer& out, const port_failure_facts& facts) {
  const serial_device_list& devices = facts.devices;
  if (devices.count > 0) {
    out.add("No such device. Attached serial devices: ");
    for (std::size_t i = 0; i < devices.count; ++i) {
      out.add("%s%s", i > 0 ? ", " : "", devices.paths[i].c_str());
    }
    if (devices.more) out.add(" and more");
  } else if (facts.listing_dir != nullptr) {
    out.add("No such device, and %s lists no serial device: is the programmer plugged in?",
            facts.listing_dir);
  } else {
    out.add("No such device: check the port's name.");
  }
}

void describe_denied(line_writer& out, const char* port_name, const device_access& access) {
  // Joining the owning group helps only when the group may use the device and is not root's.
  const bool group_helps = access.known && !access.group.empty() && access.group_may_use &&
                           std::strcmp(access.group.c_str(), "root") != 0;
  if (group_helps && access.listed_in_group && !access.in_group_now) {
    out.add("Permission denied: you are in group %s, but this login started before you joined it."
            " Log out and in again.",
            access.group.c_str());
  } else if (group_helps && !access.in_group_now) {
    out.add("Permission denied: the device belongs to group %s. Join it with"
            " \"sudo usermod -aG %s %s\", then log out and in again.",
            access.group.c_str(), access.group.c_str(),
            access.user.empty() ? "$USER" : access.user.c_str());
  } else {
    out.add("Permission denied: this user may not read and write the device (see \"ls -l %s\").",
            port_name);
  }
}

void describe_busy(line_writer& out, const holder_list& holders) {
  if (holders.count == 0) {
    out.add("%s", BUSY_UNNAMED_HOLDER);
    return;
  }
  out.add("Busy: the device is held by ");
  for (std::size_t i = 0; i < holders.count; ++i) {
    const device_holder& holder = holders.holders[i];
    out.add("%s%s (pid %d)", i > 0 ? ", " : "",
            holder.name.empty() ? "a program" : holder.name.c_str(), holder.pid);
  }
  out.add("%s.", holders.more ? " and more" : "");
}

}  // namespace

port_failure_facts gather_port_failure_facts(const char* port_name, const open_result& opened) {
  port_failure_facts facts;
  facts.failure = opened.failure;
  facts.system_error = opened.system_error;
  switch (opened.failure) {
    case open_failure::no_such_device:
      facts.listing_dir = SERIAL_BY_ID_DIR;
      facts.devices = list_serial_devices(SERIAL_BY_ID_DIR);
      break;
    case open_failure::permission_denied: facts.access = examine_device_access(port_name); break;
    case open_failure::busy: facts.holders = opened.holders; break;
    case open_failure::none:
    case open_failure::not_a_terminal:
    case open_failure::own_terminal:
    case open_failure::refused_setting:
    case open_failure::other: break;
  }
  return facts;
}

cause_line describe_port_failure(const char* port_name, const port_failure_facts& facts) {
  cause_line line{};
  line_writer out(line);
  switch (facts.failure) {
    case open_failure::no_such_device: describe_missing(out, facts); break;
    case open_failure::permission_denied: describe_denied(out, port_name, facts.access); break;
    case open_failure::busy: describe_busy(out, facts.holders); break;
    case open_failure::not_a_terminal:
      out.add("Not a terminal device: %s cannot be a serial port.", port_name);
      break;
    case open_failure::own_terminal:
      out.add("%s is this session's own terminal, not a programmer's line.", port_name);
      break;
    case open_failure::refused_setting:
      out.add("The device refused the line setting (9600 baud, 8N1, no flow control)");
      if (facts.system_error != 0) out.add(": %s", system_error_text(facts.system_error).c_str());
      out.add(".");
      break;
    case open_failure::none:
    case open_failure::other:
      if (facts.system_error != 0) {
        out.add("The system reported: %s.", system_error_text(facts.system_error).c_str());
      } else {
        out.add("The system gave no reason.");
      }
      break;
  }
  return line;
}

void report_port_failure(const char* port_name, const open_result& opened) {
  err_format("Opening port %s failed!\n", port_name);
  if (!notes_wanted()) return;
  const cause_line line =
      describe_port_failure(port_name, gather_port_failure_facts(port_name, opened));
  note("%s", line.data());
}

}  // namespace ttyprog
