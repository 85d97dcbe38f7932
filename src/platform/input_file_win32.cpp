// The HEX input on Windows: a plain text-mode open (CR LF read as one line end). A directory does
// not open as a file here; a device (a COM port, CON) opens but never ends or never starts, so it
// is refused. Windows has no named pipes in the file system to wait for, and the input is read
// with fread, the stop check asked between reads.
#include "platform/input_file.h"

#include <io.h>
#include <windows.h>

#include <cerrno>

namespace ttyprog {

hex_file open_hex_file(const char* path, std::chrono::milliseconds, input_stop_check) {
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

input_chunk read_hex_input(std::FILE* file, std::span<char> into, input_stop_check stop) {
  if (stop != nullptr && stop()) return {input_read::stopped, 0};
  const std::size_t count = std::fread(into.data(), 1, into.size(), file);
  if (std::ferror(file) != 0) return {input_read::failed, count};
  // fread fills the buffer unless the input ends first; asking a console again after its end
  // (Ctrl-Z) would wait for a second one.
  return {count < into.size() ? input_read::end : input_read::more, count};
}

}  // namespace ttyprog
