// Serial device facts on Linux: /dev/serial/by-id for the attached devices, /proc/<pid>/fd for
// the processes holding one, the group database for access.
#include "platform/port_diagnosis.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace ttyprog {

const char* const SERIAL_BY_ID_DIR = "/dev/serial/by-id";

namespace {

// A directory stream that closes itself.
class directory {
 public:
  explicit directory(const char* path) : dir_(::opendir(path)) {}
  directory(const directory&) = delete;
  directory& operator=(const directory&) = delete;
  ~directory() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  bool is_open() const noexcept { return dir_ != nullptr; }
  // The next entry's name, skipping "." and ".." and hidden names; nullptr at the end.
  const char* next() {
    while (dirent* entry = ::readdir(dir_)) {
      if (entry->d_name[0] != '.') return entry->d_name;
    }
    return nullptr;
  }

 private:
  DIR* dir_;
};

// Copies `text` into `into` whole; false (and `into` left empty) when it does not fit.
template <std::size_t N>
bool copy_text(fixed_text<N>& into, const char* text) {
  const std::size_t length = std::strlen(text);
  if (length >= N) {
    into.chars[0] = '\0';
    return false;
  }
  std::memcpy(into.chars.data(), text, length + 1);
  return true;
}

// Keeps the list sorted and at most MAX_LISTED_DEVICES long, dropping the greatest names.
void insert_sorted(serial_device_list& list, const fixed_text<160>& path) {
  std::size_t at = list.count;
  while (at > 0 && std::strcmp(list.paths[at - 1].c_str(), path.c_str()) > 0) --at;
  if (at == list.paths.size()) {
    list.more = true;
    return;
  }
  if (list.count == list.paths.size()) {
    list.more = true;
  } else {
    ++list.count;
  }
  for (std::size_t i = list.count - 1; i > at; --i) list.paths[i] = list.paths[i - 1];
  list.paths[at] = path;
}

// A directory entry that names a number (a process or a descriptor), or -1.
int number_of(const char* name) {
  int value = 0;
  const char* c = name;
  for (; *c >= '0' && *c <= '9' && c - name < 9; ++c) value = value * 10 + (*c - '0');
  return c != name && *c == '\0' ? value : -1;
}

// True when one of the process's open descriptors is the character device `device`.
bool holds_device(int pid, dev_t device) {
  std::array<char, 64> fd_dir{};
  std::snprintf(fd_dir.data(), fd_dir.size(), "/proc/%d/fd", pid);
  directory fds(fd_dir.data());  // fails for other users' processes unless privileged
  if (!fds.is_open()) return false;
  std::array<char, 96> fd_path{};
  while (const char* name = fds.next()) {
    const int fd = number_of(name);
    if (fd < 0) continue;
    std::snprintf(fd_path.data(), fd_path.size(), "%s/%d", fd_dir.data(), fd);
    struct stat info{};
    if (::stat(fd_path.data(), &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == device) {
      return true;
    }
  }
  return false;
}

// The short program name the kernel keeps for a process. Any program may set its own name to any
// bytes, so control characters become '?' before the name can reach the user's terminal.
void read_process_name(int pid, fixed_text<64>& name) {
  std::array<char, 64> path{};
  std::snprintf(path.data(), path.size(), "/proc/%d/comm", pid);
  std::FILE* comm = std::fopen(path.data(), "r");
  if (comm == nullptr) return;
  if (std::fgets(name.chars.data(), static_cast<int>(name.chars.size()), comm) == nullptr) {
    name.chars[0] = '\0';
  }
  std::fclose(comm);
  name.chars[std::strcspn(name.chars.data(), "\n")] = '\0';
  for (char* c = name.chars.data(); *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) *c = '?';
  }
}

bool process_has_group(gid_t group) {
  if (::getegid() == group) return true;
  std::array<gid_t, 1024> groups{};
  const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<std::size_t>(i)] == group) return true;
  }
  return false;
}

}  // namespace

serial_device_list list_serial_devices(const char* directory_path) {
  serial_device_list list;
  if (directory_path == nullptr) return list;
  directory entries(directory_path);
  if (!entries.is_open()) return list;
  while (const char* name = entries.next()) {
    fixed_text<160> path;
    const int length =
        std::snprintf(path.chars.data(), path.chars.size(), "%s/%s", directory_path, name);
    if (length < 0 || static_cast<std::size_t>(length) >= path.chars.size()) {
      list.more = true;  // a cut-off path would name the wrong thing
      continue;
    }
    insert_sorted(list, path);
  }
  return list;
}

holder_list find_device_holders(const char* device_path) {
  holder_list list;
  struct stat device{};
  if (::stat(device_path, &device) != 0 || !S_ISCHR(device.st_mode)) return list;
  directory processes("/proc");
  if (!processes.is_open()) return list;
  while (const char* name = processes.next()) {
    const int pid = number_of(name);
    if (pid < 0 || !holds_device(pid, device.st_rdev)) continue;
    if (list.count == list.holders.size()) {
      list.more = true;
      break;
    }
    device_holder& holder = list.holders[list.count++];
    holder.pid = pid;
    read_process_name(pid, holder.name);
  }
  return list;
}

device_access examine_device_access(const char* device_path) {
  device_access access;
  struct stat device{};
  if (::stat(device_path, &device) != 0) return access;
  access.known = true;
  access.group_may_use = (device.st_mode & S_IRGRP) != 0 && (device.st_mode & S_IWGRP) != 0;
  access.in_group_now = process_has_group(device.st_gid);

  std::array<char, 16384> buffer{};
  group entry{};
  group* found_group = nullptr;
  if (::getgrgid_r(device.st_gid, &entry, buffer.data(), buffer.size(), &found_group) == 0 &&
      found_group != nullptr) {
    copy_text(access.group, found_group->gr_name);
  }

  std::array<char, 16384> user_buffer{};
  passwd user{};
  passwd* found_user = nullptr;
  if (::getpwuid_r(::getuid(), &user, user_buffer.data(), user_buffer.size(), &found_user) == 0 &&
      found_user != nullptr) {
    copy_text(access.user, found_user->pw_name);
    access.listed_in_group = found_user->pw_gid == device.st_gid;
    for (char** member = found_group != nullptr ? found_group->gr_mem : nullptr;
         member != nullptr && *member != nullptr && !access.listed_in_group; ++member) {
      access.listed_in_group = std::strcmp(*member, found_user->pw_name) == 0;
    }
  }
  return access;
}

fixed_text<160> system_error_text(int code) {
  fixed_text<160> text;
  std::snprintf(text.chars.data(), text.chars.size(), "%s", std::strerror(code));
  return text;
}

}  // namespace ttyprog
