// The HEX input on Windows: the file opened by its wide name, so that a name in any script opens,
// and read as bytes: in text mode the C runtime ends the text at a Ctrl-Z byte, which would let
// the first records of a damaged file pass as the whole file (the line reader takes CR LF as one
// line end itself). A directory does not open as a file here; a device (a COM port, CON) opens but
// never ends or never starts, so it is refused. Windows has no named pipes in the file system to
// wait for, and the input is read with fread, the stop check asked between reads.
#include "platform/input_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "platform/utf16_win32.h"

namespace ttyprog {

hex_file open_hex_file(const char* path, std::chrono::milliseconds, input_stop_check) {
  static wide_path name;  // 64 KiB: kept off the stack
  if (!to_wide_path("", path, name)) return {nullptr, hex_file_refusal::system, ENAMETOOLONG};
  errno = 0;
  std::FILE* file = ::_wfopen(name.c_str(), L"rb");
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
  // Standard input comes in text mode: a file or pipe behind it is read as bytes too (the first
  // call switches it, before anything was read). Text typed at a console keeps its text mode,
  // where Ctrl-Z on a line of its own ends it.
  const int descriptor = _fileno(file);
  if (_isatty(descriptor) == 0) (void)_setmode(descriptor, _O_BINARY);
  const std::size_t count = std::fread(into.data(), 1, into.size(), file);
  if (std::ferror(file) != 0) return {input_read::failed, count};
  // fread fills the buffer unless the input ends first; asking a console again after its end
  // (Ctrl-Z) would wait for a second one.
  return {count < into.size() ? input_read::end : input_read::more, count};
}

}  // namespace ttyprog
