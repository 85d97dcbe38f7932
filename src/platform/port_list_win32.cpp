// The serial ports present on Windows: the COM names the system has handed out to the serial
// devices attached now, as its registry lists them. Windows keeps no stable names beside them.
#include "platform/port_list.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <memory>
#include <type_traits>

namespace ttyprog {

namespace {

struct key_closer {
  void operator()(HKEY key) const noexcept { ::RegCloseKey(key); }
};

}  // namespace

void for_each_serial_port(const port_list_roots&, port_visitor visit, void* context) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                      &opened) != ERROR_SUCCESS) {
    return;  // no serial device was ever attached since the system started
  }
  const std::unique_ptr<std::remove_pointer_t<HKEY>, key_closer> key(opened);
  // Each value names the driver's device ("\Device\Serial0") and holds its COM name ("COM1").
  for (DWORD index = 0;; ++index) {
    std::array<char, 256> driver_device{};
    DWORD driver_device_length = static_cast<DWORD>(driver_device.size());
    listed_port port;
    DWORD port_length = static_cast<DWORD>(port.device.chars.size() - 1);  // the last NUL stays
    DWORD type = 0;
    const LONG status =
        ::RegEnumValueA(key.get(), index, driver_device.data(), &driver_device_length, nullptr,
                        &type, reinterpret_cast<BYTE*>(port.device.chars.data()), &port_length);
    if (status == ERROR_MORE_DATA) continue;  // a name too long to be a COM name
    if (status != ERROR_SUCCESS) break;       // the end of the list, or the key went away
    if (type != REG_SZ || port.device.empty()) continue;
    visit(context, port);
  }
}

}  // namespace ttyprog
