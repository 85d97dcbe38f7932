#include "cli/settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/output.h"
#include "cli/param_parse.h"

namespace ttyprog {

namespace {

settings current;

// The value of an environment setting, or nullptr when it is unset or empty.
const char* setting(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// `taken` is the line that says which values the setting takes.
bool refuse(const char* name, const char* value, const char* taken) {
  err_format("Invalid %s %s!\n", name, value);
  err_format("%s\n", taken);
  return false;
}

// An on/off setting: unset (nullptr), empty or "0" is off, "1" is on; any other text is not a
// valid setting.
std::optional<bool> parse_switch(const char* text) {
  if (text == nullptr || *text == '\0' || std::strcmp(text, "0") == 0) return false;
  if (std::strcmp(text, "1") == 0) return true;
  return std::nullopt;
}

}  // namespace

bool verbose_setting() { return parse_switch(setting("TTYPROG_VERBOSE")).value_or(false); }

bool read_settings() {
  if (const char* value = setting("TTYPROG_TIMEOUT")) {
    const std::optional<std::chrono::milliseconds> bound = parse_timeout(value);
    if (!bound) {
      return refuse("TTYPROG_TIMEOUT", value,
                    "TTYPROG_TIMEOUT takes seconds, more than 0 and at most 3600, with up to three"
                    " decimals (0.25).");
    }
    current.bound = *bound;
  }
  const std::optional<bool> strict = parse_switch(setting("TTYPROG_STRICT"));
  if (!strict) {
    return refuse("TTYPROG_STRICT", setting("TTYPROG_STRICT"),
                  "TTYPROG_STRICT takes 1 (on) or 0 (off); unset or empty is off.");
  }
  current.strict = *strict;
  const std::optional<bool> verbose = parse_switch(setting("TTYPROG_VERBOSE"));
  if (!verbose) {
    return refuse("TTYPROG_VERBOSE", setting("TTYPROG_VERBOSE"),
                  "TTYPROG_VERBOSE takes 1 (on) or 0 (off); unset or empty is off.");
  }
  current.verbose = *verbose;
  if (const char* value = setting("TTYPROG_DEVICE_ID")) {
    const std::optional<std::uint32_t> id = parse_hex_param(value, 0xFFFFu);
    if (!id) {
      return refuse("TTYPROG_DEVICE_ID", value,
                    "TTYPROG_DEVICE_ID takes the expected device ID in hexadecimal, 0 to ffff (0x "
                    "optional).");
    }
    current.device_id = static_cast<std::uint16_t>(*id);
  }
  return true;
}

const settings& run_settings() { return current; }

}  // namespace ttyprog
