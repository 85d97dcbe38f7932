// Serial device facts on Linux: /dev/serial/by-id for the attached devices, /proc/<pid>/fd and
// the lock directory for the processes holding one, the group database for access.
#include "platform/port_diagnosis.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace ttyprog {

const char* const SERIAL_BY_ID_DIR = "/dev/serial/by-id";

namespace {

// A directory, read straight into a fixed buffer; closes itself. The process scan opens and reads
// a directory for every process, so the C library's allocation and extra calls per directory
// would show.
class directory {
 public:
  // `path` relative to the directory `at` (or to the working directory). `in_proc`: a directory
  // of /proc, whose listing comes whole in as few calls as the buffer allows.
  explicit directory(const char* path, int at = AT_FDCWD, bool in_proc = false)
      : fd_(::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC)), whole_when_short_(in_proc) {}
  directory(const directory&) = delete;
  directory& operator=(const directory&) = delete;
  ~directory() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool is_open() const noexcept { return fd_ >= 0; }
  int fd() const noexcept { return fd_; }
  // The next entry's name, skipping "." and ".." and hidden names; nullptr at the end.
  const char* next() {
    for (;;) {
      if (at_ == filled_) {
        // A listing that left room for more entries was whole: /proc fills the buffer as far as
        // its entries go, so the call that would only say "no more" is spared.
        if (fd_ < 0 ||
            (whole_when_short_ && filled_ != 0 && filled_ + ENTRY_ROOM < buffer_.size())) {
          return nullptr;
        }
        const ssize_t got = ::getdents64(fd_, buffer_.data(), buffer_.size());
        if (got <= 0) return nullptr;
        filled_ = static_cast<std::size_t>(got);
        at_ = 0;
      }
      const auto* entry = reinterpret_cast<const dirent64*>(buffer_.data() + at_);
      at_ += entry->d_reclen;
      if (entry->d_name[0] != '.') return entry->d_name;
    }
  }

 private:
  // Room for one more entry of the longest name.
  static constexpr std::size_t ENTRY_ROOM = sizeof(dirent64);

  int fd_;
  bool whole_when_short_;
  alignas(dirent64) std::array<char, 8192> buffer_;
  std::size_t at_ = 0;
  std::size_t filled_ = 0;
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

// A text that is a number of at most nine digits (a process, a descriptor), or -1.
int number_of(std::string_view text) {
  if (text.empty() || text.size() > 9) return -1;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// True when one of the open descriptors of the process named `pid` (an entry of the /proc
// directory `proc`) is the character device `device`. The file system behind a descriptor is
// asked not to go to its server, so a network share that no longer answers cannot stall the scan.
bool holds_device(int proc, const char* pid, dev_t device) {
  std::array<char, 32> fd_dir{};
  std::snprintf(fd_dir.data(), fd_dir.size(), "%s/fd", pid);
  directory fds(fd_dir.data(), proc, true);  // fails for other users' processes unless privileged
  while (const char* name = fds.next()) {
    struct statx info {};
    if (::statx(fds.fd(), name, AT_STATX_DONT_SYNC, STATX_TYPE, &info) == 0 &&
        S_ISCHR(info.stx_mode) && makedev(info.stx_rdev_major, info.stx_rdev_minor) == device) {
      return true;
    }
  }
  return false;
}

// The system's lock directory, where programs that follow the UUCP convention leave a file
// LCK..NAME (NAME the device's base name) holding their process ID.
constexpr const char* LOCK_DIR = "/var/lock";

// The process ID a lock file holds: ASCII digits, possibly padded with blanks, or the binary int
// of older programs. 0 when the file is missing or says nothing readable.
int lock_file_pid(const char* device_name) {
  std::array<char, 300> path{};
  const int length = std::snprintf(path.data(), path.size(), "%s/LCK..%s", LOCK_DIR, device_name);
  if (length < 0 || static_cast<std::size_t>(length) >= path.size()) return 0;
  const int fd = ::open(path.data(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  std::array<char, 32> content{};
  const ssize_t size = ::read(fd, content.data(), content.size() - 1);
  ::close(fd);
  if (size <= 0) return 0;
  const std::size_t used = static_cast<std::size_t>(size);
  const bool text = std::strspn(content.data(), " \t\n0123456789") == used;
  if (!text) {
    int binary = 0;
    if (used != sizeof binary) return 0;
    std::memcpy(&binary, content.data(), sizeof binary);
    return binary > 0 ? binary : 0;
  }
  const char* digits = content.data() + std::strspn(content.data(), " \t");
  const int pid = number_of(std::string_view(digits, std::strcspn(digits, " \t\n")));
  return pid > 0 ? pid : 0;
}

bool process_is_alive(int pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// A live process other than this one that a lock file names for the device, or 0. The lock may
// carry the base name of the path as given or of the device it leads to.
int lock_file_owner(const char* device_path) {
  std::array<char, PATH_MAX> resolved{};
  const char* names[] = {device_path, ::realpath(device_path, resolved.data())};
  for (const char* path : names) {
    if (path == nullptr) continue;
    const char* slash = std::strrchr(path, '/');
    const int pid = lock_file_pid(slash != nullptr ? slash + 1 : path);
    if (pid != 0 && pid != ::getpid() && process_is_alive(pid)) return pid;
  }
  return 0;
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
  struct stat device {};
  if (::stat(device_path, &device) != 0 || !S_ISCHR(device.st_mode)) return list;
  directory processes("/proc", AT_FDCWD, true);
  if (!processes.is_open()) return list;
  auto add = [&list](int pid) {
    if (list.count == list.holders.size()) {
      list.more = true;
      return;
    }
    device_holder& holder = list.holders[list.count++];
    holder.pid = pid;
    read_process_name(pid, holder.name);
  };
  while (const char* name = processes.next()) {
    const int pid = number_of(name);
    if (pid < 0 || !holds_device(processes.fd(), name, device.st_rdev)) continue;
    add(pid);
    if (list.more) return list;
  }
  if (const int locker = lock_file_owner(device_path); locker != 0) {
    bool listed = false;
    for (std::size_t i = 0; i < list.count; ++i) listed = listed || list.holders[i].pid == locker;
    if (!listed) add(locker);
  }
  return list;
}

device_access examine_device_access(const char* device_path) {
  device_access access;
  struct stat device {};
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
