#include "support/expected.h"

#include <algorithm>
#include <cstdio>

namespace ttyprog::test {

std::string writing_id(const std::string& digits) { return "writing ID " + digits + "...\n"; }

std::string writing_config(const std::string& digits) {
  return "writing configuration word " + digits + "...\n";
}

std::string ids(const std::string& user_id, const std::string& device_id,
                const std::string& config) {
  return "User ID   = " + user_id + "\nDevice ID = " + device_id + "\nConfig    = " + config + "\n";
}

std::string verified(int errors) {
  return "verify done. found " + std::to_string(errors) + " error(s).\n";
}

std::string unwritable(const std::string& address) {
  return "word ffff at " + address + " cannot be written!\n";
}

std::string dump(const std::vector<std::uint16_t>& words) {
  std::string text;
  char digits[8];
  for (std::size_t line = 0; line < words.size(); line += 8) {
    const std::size_t end = std::min(line + 8, words.size());
    for (std::size_t j = line; j < end; ++j) {
      const char* format = j == line ? "%04x" : " %04x";
      std::snprintf(digits, sizeof digits, format, static_cast<unsigned>(words[j]));
      text += digits;
    }
    text += end - line == 8 ? "\n" : " \n";
  }
  return text;
}

std::string usage(const std::string& argv0) {
  return "Usage: " + argv0 + " port command [param]\n";
}

std::string port_failed(const std::string& port) { return "Opening port " + port + " failed!\n"; }

}  // namespace ttyprog::test
