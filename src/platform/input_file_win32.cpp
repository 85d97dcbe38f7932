// Opening the HEX input on Windows: a plain text-mode open (CR LF read as one line end). A
// directory does not open as a file here; a device (a COM port, CON) opens but never ends or never
// starts, so it is refused.
#include "platform/input_file.h"

#include <io.h>
#include <windows.h>

#include <cerrno>

namespace ttyprog {

hex_file open_hex_file(const char* path, std::chrono::milliseconds) {
  errno = 0;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return {nullptr, hex_file_refusal::system, errno};
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (::GetFileType(handle) == FILE_TYPE_CHAR) {
    std::fclose(file);
    return {nullptr, hex_file_refusal::character_device, 0};
  }
  return {file, hex_file_refusal::none, 0};
}

}  // namespace ttyprog
