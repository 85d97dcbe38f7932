// The listing of the serial ports present, read from a tty class tree and a device directory
// built in a temporary directory.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/list_ports.h"
#include "support/pty.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

namespace fs = std::filesystem;

// `text` with every "{dev}" and "{by-id}" replaced by the tree's directories.
std::string placed(std::string text, const std::string& dev, const std::string& by_id) {
  for (const auto& [mark, path] : {std::pair{std::string("{dev}"), dev}, {"{by-id}", by_id}}) {
    for (std::size_t at; (at = text.find(mark)) != std::string::npos;) {
      text.replace(at, mark.size(), path);
    }
  }
  return text;
}

// A tty class directory, a device directory and a stable-name directory of a test's own.
struct fake_tree {
  test::temp_dir dir;
  std::string tty_class = (dir / "class-tty").string();
  std::string dev = (dir / "dev").string();
  std::string by_id = dev + "/serial/by-id";

  fake_tree() {
    fs::create_directories(tty_class);
    fs::create_directories(by_id);
  }
  port_list_roots roots() const { return {tty_class.c_str(), dev.c_str(), by_id.c_str()}; }

  // "NAME" is a tty with hardware behind it and a device node; " type=N" adds the UART type the
  // serial core reports, " nodevice" leaves out the hardware, " nonode" the device node.
  void add_tty(const std::string& entry_text) {
    const std::string name = entry_text.substr(0, entry_text.find(' '));
    const fs::path entry = fs::path(tty_class) / name;
    fs::create_directories(entry);
    if (entry_text.find(" nodevice") == std::string::npos) {
      fs::create_directories(dir / "devices" / name);
      fs::create_directory_symlink(dir / "devices" / name, entry / "device");
    }
    if (const std::size_t type = entry_text.find(" type="); type != std::string::npos) {
      const std::size_t digits = type + 6;
      std::ofstream(entry / "type")
          << entry_text.substr(digits, entry_text.find(' ', digits) - digits) << "\n";
    }
    if (entry_text.find(" nonode") == std::string::npos) std::ofstream(fs::path(dev) / name) << "";
  }

  void add_stable_name(const std::string& name, const std::string& target) {
    fs::create_symlink(placed(target, dev, by_id), fs::path(by_id) / name);
  }

  std::string listing() const {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    print_port_list(out, roots());
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
  }
};

struct tree_case {
  const char* what;
  std::vector<std::string> ttys;
  std::vector<std::pair<std::string, std::string>> stable_names;
  const char* expected;
};

TEST(PortList, ListsWhatTheTreeShows) {
  const tree_case cases[] = {
      {"consoles and the built-in placeholders only",
       {"tty0 nodevice", "console nodevice", "ttyS0 type=0", "ttyS1 type=0", "ptmx nodevice"},
       {},
       "no serial ports found\n"},
      {"hardware in name order, numbers by value",
       {"ttyUSB0", "ttyS10 type=4", "ttyS2 type=0", "ttyS3 type=4", "ttyACM1", "ttyUSB1 nonode",
        "tty5 nodevice", "ttyUSB12", "ttyUSB9"},
       {},
       "{dev}/ttyACM1\n{dev}/ttyS3\n{dev}/ttyS10\n{dev}/ttyUSB0\n{dev}/ttyUSB9\n{dev}/ttyUSB12\n"},
      {"stable names first, each device once, gone devices left out",
       {"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS0 type=4"},
       {{"usb-Maker_B_9-if00", "../../ttyUSB1"},
        {"usb-Maker_A_1-if00-port0", "../.././ttyUSB0"},
        {"usb-Maker_C_5-if00", "{dev}/ttyACM0"},
        {"usb-Maker_Gone-if00-port0", "../../ttyUSB7"}},
       "{by-id}/usb-Maker_A_1-if00-port0 -> {dev}/ttyUSB0\n"
       "{by-id}/usb-Maker_B_9-if00 -> {dev}/ttyUSB1\n"
       "{by-id}/usb-Maker_C_5-if00 -> {dev}/ttyACM0\n"
       "{dev}/ttyS0\n"},
  };
  for (const tree_case& row : cases) {
    fake_tree tree;
    for (const std::string& tty : row.ttys) tree.add_tty(tty);
    for (const auto& [name, target] : row.stable_names) tree.add_stable_name(name, target);
    EXPECT_EQ(tree.listing(), placed(row.expected, tree.dev, tree.by_id)) << row.what;
  }
}

// A bench of many adapters: every stable name is listed, dead and looping links among them are
// left out without taking the place of a live one, and there is no limit to the count.
TEST(PortList, ListsEveryStableNameAndEveryPortOfABigBench) {
  fake_tree tree;
  std::string expected;
  for (int i = 0; i < 17; ++i) {
    const std::string tty = "ttyUSB" + std::to_string(i);
    const std::string name =
        "usb-Maker_Bench_" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "-if00";
    tree.add_tty(tty);
    tree.add_stable_name(name, "../../" + tty);
    expected += "{by-id}/" + name + " -> {dev}/" + tty + "\n";
  }
  // Names that sort before the live ones: links to a device that is gone, and loops.
  for (int i = 0; i < 9; ++i) {
    tree.add_stable_name("usb-Maker_A_Gone_" + std::to_string(i) + "-if00",
                         "../../ttyUSB" + std::to_string(40 + i));
  }
  tree.add_stable_name("usb-Maker_A_Loop_1-if00", "{by-id}/usb-Maker_A_Loop_2-if00");
  tree.add_stable_name("usb-Maker_A_Loop_2-if00", "{by-id}/usb-Maker_A_Loop_1-if00");
  tree.add_stable_name("usb-Maker_A_Self-if00", "usb-Maker_A_Self-if00");
  // More ports without a stable name than any fixed list of them would hold.
  for (int i = 0; i < 70; ++i) {
    tree.add_tty("ttyS" + std::to_string(i) + " type=4");
    expected += "{dev}/ttyS" + std::to_string(i) + "\n";
  }
  EXPECT_EQ(tree.listing(), placed(expected, tree.dev, tree.by_id));
}

TEST(PortList, NamesTheProgramHoldingAPort) {
  // The device node is a link to a pseudo-terminal: the name listed stays the one given.
  test::pty_pair pty;
  fake_tree tree;
  tree.add_tty("ttyUSB0 nonode");
  fs::create_symlink(pty.slave_path(), fs::path(tree.dev) / "ttyUSB0");
  tree.add_stable_name("usb-Maker_A_1-if00-port0", "../../ttyUSB0");
  const int fd = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const std::string held = tree.listing();
  ::close(fd);
  std::string own_name;
  std::getline(std::ifstream("/proc/self/comm"), own_name);
  const std::string line = "{by-id}/usb-Maker_A_1-if00-port0 -> {dev}/ttyUSB0 (held by ";
  EXPECT_EQ(held, placed(line, tree.dev, tree.by_id) + own_name + ", pid " +
                      std::to_string(::getpid()) + ")\n");
}

}  // namespace
}  // namespace ttyprog
