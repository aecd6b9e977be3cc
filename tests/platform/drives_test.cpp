// The drive list: parsing the mount table and choosing the mount points worth browsing.
#include "platform/drives.h"

#include <gtest/gtest.h>

using namespace pixmoor;

TEST(Drives, MountTableParsingDecodesEscapedBlanks) {
    const auto mounts = parseMountTable("/dev/sdb1 /media/My\\040Disk vfat rw 0 0\n"
                                        "proc /proc proc rw 0 0\n\n");
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].device, "/dev/sdb1");
    EXPECT_EQ(mounts[0].mountPoint, "/media/My Disk");
    EXPECT_EQ(mounts[0].fileSystem, "vfat");
    EXPECT_EQ(mounts[1].mountPoint, "/proc");
}

TEST(Drives, RealFileSystemsOnlyRootFirstNoDuplicates) {
    const auto mounts = parseMountTable("sysfs /sys sysfs rw 0 0\n"
                                        "/dev/sda2 /home ext4 rw 0 0\n"
                                        "proc /proc proc rw 0 0\n"
                                        "devpts /dev/pts devpts rw 0 0\n"
                                        "tmpfs /run tmpfs rw 0 0\n"
                                        "tmpfs /run/user/1000 tmpfs rw 0 0\n"
                                        "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
                                        "/dev/sda1 / ext4 rw 0 0\n"
                                        "tmpfs /tmp tmpfs rw 0 0\n"
                                        "server:/export /mnt/nfs nfs4 rw 0 0\n"
                                        "mqueue /dev/mqueue mqueue rw 0 0\n"
                                        "/dev/sda2 /home ext4 rw 0 0\n"
                                        "/dev/sdb1 /media/usb vfat rw 0 0\n");
    EXPECT_EQ(driveMountPoints(mounts),
              QStringList({"/", "/home", "/tmp", "/mnt/nfs", "/media/usb"}));
}

TEST(Drives, TheDriveOfADirectoryIsItsLongestMountPoint) {
    const QStringList drives{"/", "/home", "/home/user/net", "/media/usb"};
    EXPECT_EQ(driveOf("/home/user/pics", drives), "/home");
    EXPECT_EQ(driveOf("/home/user/net/a", drives), "/home/user/net");
    EXPECT_EQ(driveOf("/homework", drives), "/");
    EXPECT_EQ(driveOf("/media/usb", drives), "/media/usb");
    EXPECT_EQ(driveOf("/etc", drives), "/");
}

TEST(Drives, ThisMachineListsRootFirst) {
    const QStringList drives = mountedDrives();
    ASSERT_FALSE(drives.isEmpty());
    EXPECT_EQ(drives.first(), "/");
    EXPECT_FALSE(drives.contains("/proc"));
    EXPECT_FALSE(drives.contains("/sys"));
}
