// What the system can tell about serial devices when a port would not open: which devices are
// attached, who holds a device, and whether this user's groups give access to it.
//
// Everything here only looks; nothing opens a device or changes anything. Where the platform
// cannot tell, the answers are empty and the caller says less.
#pragma once

#include <array>
#include <cstddef>

namespace ttyprog {

// A name or a path, NUL-terminated; an empty text means unknown.
template <std::size_t N>
struct fixed_text {
  std::array<char, N> chars{};
  const char* c_str() const noexcept { return chars.data(); }
  bool empty() const noexcept { return chars[0] == '\0'; }
};

// Stable device names: the place where the system lists the attached serial devices by the
// identity of the device, so that a name stays the same whichever order they were plugged in.
// nullptr on a platform that has no such place.
extern const char* const SERIAL_BY_ID_DIR;

inline constexpr std::size_t MAX_LISTED_DEVICES = 8;

struct serial_device_list {
  std::array<fixed_text<160>, MAX_LISTED_DEVICES> paths{};  // full paths, sorted
  std::size_t count = 0;
  bool more = false;  // further devices exist than `paths` holds
};

// The devices listed in `directory` (normally SERIAL_BY_ID_DIR), as full paths in name order.
// Empty when the directory does not exist or is nullptr.
serial_device_list list_serial_devices(const char* directory);

inline constexpr std::size_t MAX_LISTED_HOLDERS = 4;

struct device_holder {
  int pid = 0;
  fixed_text<64> name;  // the program's name as the system reports it; empty when unknown
};

struct holder_list {
  std::array<device_holder, MAX_LISTED_HOLDERS> holders{};
  std::size_t count = 0;
  bool more = false;
};

// The processes (this one included) that have the device at `device_path` open, as far as the
// system lets this user see them (other users' processes usually stay hidden), and a live process
// other than this one that a lock file in the system's lock directory names for the device.
holder_list find_device_holders(const char* device_path);

struct device_access {
  bool known = false;            // the device could be examined at all
  fixed_text<64> group;          // the group that owns the device; empty when it has no name
  bool group_may_use = false;    // that group may read and write the device
  bool in_group_now = false;     // this process has the group
  bool listed_in_group = false;  // the user database makes this user a member of the group
  fixed_text<64> user;           // this user's login name; empty when unknown
};

// Who may use the device at `device_path` and how this user stands with its group.
device_access examine_device_access(const char* device_path);

// The system's own words for the error code an open reported (open_result::system_error), without
// a final period; empty when it has none.
fixed_text<160> system_error_text(int code);

}  // namespace ttyprog
