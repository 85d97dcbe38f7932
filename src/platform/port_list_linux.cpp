// The serial ports present on Linux: the stable-name directory for the named ones, the tty class
// directory for the others, where a tty with hardware behind it has a `device` link.
#include "platform/port_list.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace ttyprog {

namespace {

using path_text = fixed_text<160>;

struct directory_closer {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
struct file_closer {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// Formats a path into `into`; false when it does not fit, for a cut-off path names another thing.
[[gnu::format(printf, 2, 3)]] bool format_path(path_text& into, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(into.chars.data(), into.chars.size(), format, args);
  va_end(args);
  return length >= 0 && static_cast<std::size_t>(length) < into.chars.size();
}

bool exists(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0;
}

// `path` with "." and ".." resolved on the text alone: the name the user opens is kept, also when
// it is itself a link.
bool resolve_dots(const char* path, path_text& into) {
  std::size_t used = 0;
  for (const char* part = path; *part != '\0';) {
    while (*part == '/') ++part;
    const std::size_t length = std::strcspn(part, "/");
    if (length == 2 && part[0] == '.' && part[1] == '.') {
      while (used > 0 && into.chars[used - 1] != '/') --used;
      if (used > 0) --used;
    } else if (length > 0 && !(length == 1 && part[0] == '.')) {
      if (used + 1 + length >= into.chars.size()) return false;
      if (used > 0 || path[0] == '/') into.chars[used++] = '/';
      std::memcpy(into.chars.data() + used, part, length);
      used += length;
    }
    part += length;
  }
  if (used == 0 && path[0] == '/') into.chars[used++] = '/';
  into.chars[used] = '\0';
  return true;
}

// The device the stable name `link` points to; false when it is no link or the path is too long.
bool link_target(const char* link, path_text& device) {
  std::array<char, 160> target{};
  const ssize_t length = ::readlink(link, target.data(), target.size() - 1);
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size() - 1) return false;
  if (target[0] == '/') return resolve_dots(target.data(), device);
  const char* name = std::strrchr(link, '/');
  path_text joined;
  return name != nullptr &&
         format_path(joined, "%.*s/%s", static_cast<int>(name - link), link, target.data()) &&
         resolve_dots(joined.c_str(), device);
}

// Calls `found(stable_name, device)` for each entry of the stable-name directory that is a link
// leading to a device that exists: a dead link, a looping one (stat fails) or anything that is
// no link is passed over.
template <typename Found>
void for_each_stable_name(const char* by_id, Found found) {
  if (by_id == nullptr) return;
  const std::unique_ptr<DIR, directory_closer> names(::opendir(by_id));
  if (!names) return;
  while (const dirent* entry = ::readdir(names.get())) {
    if (entry->d_name[0] == '.') continue;
    path_text stable_name, device;
    if (format_path(stable_name, "%s/%s", by_id, entry->d_name) &&
        link_target(stable_name.c_str(), device) && exists(device.c_str())) {
      found(stable_name, device);
    }
  }
}

// True when a stable name leads to `device`.
bool has_stable_name(const char* by_id, const path_text& device) {
  bool named = false;
  for_each_stable_name(by_id, [&](const path_text&, const path_text& target) {
    named = named || std::strcmp(target.c_str(), device.c_str()) == 0;
  });
  return named;
}

// True when the tty has hardware behind it. Every tty of a device has a `device` link; ports of the
// serial core (built-in UARTs) also say which UART they found, 0 for none: the kernel keeps such
// placeholders (ttyS0 to ttyS31 of the 8250 driver) whether or not a UART answers there.
bool has_hardware(const char* tty_class, const char* name) {
  path_text path;
  if (!format_path(path, "%s/%s/device", tty_class, name) || !exists(path.c_str())) return false;
  if (!format_path(path, "%s/%s/type", tty_class, name)) return false;
  const std::unique_ptr<std::FILE, file_closer> type(std::fopen(path.c_str(), "r"));
  int uart = -1;
  return type == nullptr || std::fscanf(type.get(), "%d", &uart) != 1 || uart != 0;
}

}  // namespace

void for_each_serial_port(const port_list_roots& roots, port_visitor visit, void* context) {
  for_each_stable_name(roots.by_id, [&](const path_text& stable_name, const path_text& device) {
    visit(context, listed_port{stable_name, device});
  });

  const std::unique_ptr<DIR, directory_closer> ttys(::opendir(roots.tty_class));
  if (!ttys) return;
  while (const dirent* entry = ::readdir(ttys.get())) {
    const char* name = entry->d_name;
    if (name[0] == '.' || !has_hardware(roots.tty_class, name)) continue;
    path_text device;
    if (!format_path(device, "%s/%s", roots.dev, name)) continue;
    // The kernel writes a '/' in a device's name as '!' in its class directory.
    for (char* c = device.chars.data() + std::strlen(roots.dev); *c != '\0'; ++c) {
      if (*c == '!') *c = '/';
    }
    if (!exists(device.c_str()) || has_stable_name(roots.by_id, device)) continue;
    visit(context, listed_port{{}, device});
  }
}

}  // namespace ttyprog
