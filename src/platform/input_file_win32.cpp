// Opening the HEX input on Windows: a plain text-mode open (CR LF read as one line end). A
// directory or a device does not open as a file here.
#include "platform/input_file.h"

#include <cerrno>

namespace ttyprog {

hex_file open_hex_file(const char* path, std::chrono::milliseconds) {
  errno = 0;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return {nullptr, hex_file_refusal::system, errno};
  return {file, hex_file_refusal::none, 0};
}

}  // namespace ttyprog
