// Opening the HEX input on Windows: a plain text-mode open (CR LF read as one line end).
#include "platform/input_file.h"

namespace ttyprog {

std::FILE* open_hex_file(const char* path, std::chrono::milliseconds) {
  return std::fopen(path, "r");
}

}  // namespace ttyprog
