#include "cli/settings.h"

#include <cstdio>
#include <cstdlib>

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
  std::fprintf(stderr, "Invalid %s %s!\n", name, value);
  std::fprintf(stderr, "%s\n", taken);
  return false;
}

}  // namespace

bool read_settings() {
  if (const char* value = setting("TTYPROG_DEVICE_ID")) {
    const std::optional<std::uint32_t> id = parse_hex_param(value, 0xFFFFu);
    if (!id) {
      return refuse("TTYPROG_DEVICE_ID", value,
                    "TTYPROG_DEVICE_ID takes the expected device ID in hexadecimal, 0 to ffff (0x optional).");
    }
    current.device_id = static_cast<std::uint16_t>(*id);
  }
  return true;
}

const settings& run_settings() { return current; }

}  // namespace ttyprog
