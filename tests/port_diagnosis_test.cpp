// What the system tells about serial devices: the stable-name listing, the holders of a device,
// and the access a device's group gives.
#include <fcntl.h>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/port_diagnosis.h"
#include "support/pty.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

TEST(ListSerialDevices, SortedFullPathsCappedWithMoreFlag) {
  test::temp_dir dir;
  EXPECT_EQ(list_serial_devices(dir.path().c_str()).count, 0u);
  EXPECT_EQ(list_serial_devices((dir / "absent").c_str()).count, 0u);
  EXPECT_EQ(list_serial_devices(nullptr).count, 0u);

  // More names than the list holds, created out of order; the first ones in name order stay.
  for (const char* name :
       {"usb-j", "usb-c", "usb-a", "usb-i", "usb-e", "usb-b", "usb-h", "usb-d", "usb-g", "usb-f"}) {
    std::filesystem::create_symlink("../../ttyUSB0", dir / name);
  }
  const serial_device_list list = list_serial_devices(dir.path().c_str());
  ASSERT_EQ(list.count, MAX_LISTED_DEVICES);
  EXPECT_TRUE(list.more);
  for (std::size_t i = 0; i < list.count; ++i) {
    EXPECT_EQ(list.paths[i].c_str(), (dir / std::string("usb-").append(1, char('a' + i))).string());
  }
}

TEST(FindDeviceHolders, FindsThisProcessOnlyWhileItHoldsTheDevice) {
  test::pty_pair pty;
  EXPECT_EQ(find_device_holders(pty.slave_path().c_str()).count, 0u);

  const int fd = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const holder_list held = find_device_holders(pty.slave_path().c_str());
  ::close(fd);
  std::string own_name;
  std::getline(std::ifstream("/proc/self/comm"), own_name);
  ASSERT_EQ(held.count, 1u);
  EXPECT_EQ(held.holders[0].pid, ::getpid());
  EXPECT_EQ(held.holders[0].name.c_str(), own_name);

  // A program may name itself with terminal control bytes; they never reach the user's terminal.
  ASSERT_EQ(::prctl(PR_SET_NAME, "x\x1b[2J\ty"), 0);
  const int again = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  const holder_list odd = find_device_holders(pty.slave_path().c_str());
  ::close(again);
  ::prctl(PR_SET_NAME, own_name.c_str());
  ASSERT_EQ(odd.count, 1u);
  EXPECT_STREQ(odd.holders[0].name.c_str(), "x?[2J?y");

  // Only character devices have holders worth naming.
  test::temp_dir dir;
  EXPECT_EQ(find_device_holders(dir.file_with("plain", "x").c_str()).count, 0u);
  EXPECT_EQ(find_device_holders((dir / "absent").c_str()).count, 0u);
}

TEST(ExamineDeviceAccess, ReportsGroupAndItsPermission) {
  test::temp_dir dir;
  const std::string file = dir.file_with("device", "");
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  const group* owner = ::getgrgid(info.st_gid);
  ASSERT_NE(owner, nullptr);
  const std::string group_name = owner->gr_name;

  for (const auto& [mode, may_use] : {std::pair{0660, true}, {0640, false}, {0600, false}}) {
    ASSERT_EQ(::chmod(file.c_str(), static_cast<mode_t>(mode)), 0);
    const device_access access = examine_device_access(file.c_str());
    EXPECT_TRUE(access.known);
    EXPECT_EQ(access.group.c_str(), group_name);
    EXPECT_EQ(access.group_may_use, may_use) << std::oct << mode;
    EXPECT_TRUE(access.in_group_now);  // a file this process created has its group
    EXPECT_FALSE(access.user.empty());
  }
  EXPECT_FALSE(examine_device_access((dir / "absent").c_str()).known);
}

}  // namespace
}  // namespace ttyprog
