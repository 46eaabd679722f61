// The host's system disk found from the root mount's source on kernel-shaped
// sysfs trees: btrfs (an anonymous device number) with its members,
// device-mapper slaves, links below /dev, an overlay root whose disk is not
// known; and what that means for drive 0 and for partitioning.

#include <gtest/gtest.h>

#include <filesystem>

#include "kernel_sysfs_tree.h"
#include "platform/linux/disk_use.h"
#include "platform/linux/drive_naming.h"
#include "temp_tree.h"

namespace fs = std::filesystem;
using namespace platform::linux_host;

namespace {

class SystemDisksFixture : public ::testing::Test {
 protected:
  SystemDisksFixture() : sys(t.root() / "sys"), dev((t.root() / "dev").string()), block((t.root() / "sys/block").string()) {
    sys.Xhci("0000:00:04.0", 1, 2, 2);
    test_files::KernelSysfsTree::Storage bridge;
    bridge.serial = "BRIDGEA0001";
    bridge.block = "sda";  // the kernel named the bridge's disk first
    bridge.sectors = 62533296;
    sys.UsbStorage("usb2", 1, bridge);
    sys.SataDisk("sdb", 500118192);
    sys.Partition("sdb", 1, 2048, 1000000);
    sys.Partition("sdb", 2, 1002048, 400000000);
    sys.SataDisk("sdc", 500118192);
    sys.Partition("sdc", 1, 2048, 400000000);
    fs::create_directories(t.root() / "dev");
  }
  std::string Use(const std::string& disk, const std::string& mountinfo) {
    DiskUseSources s;
    s.sysfs_block = block;
    s.mountinfo_text = mountinfo;
    s.system = FindSystemDisks(mountinfo, block, dev);
    return DiskInUse(disk, s).value_or("free");
  }

  test_files::TempTree t;
  test_files::KernelSysfsTree sys;
  std::string dev;
  std::string block;
};

TEST_F(SystemDisksFixture, ABtrfsRootIsItsMembersDisksAndTheBridgeIsNeverDriveZero) {
  // Two-device btrfs on sdb2 and sdc1, mounted through a /dev/disk/by-uuid link.
  for (const char* member : {"sdb2", "sdc1"}) {
    fs::create_directories(t.root() / "sys/fs/btrfs/5f3c/devices");
    fs::create_directory_symlink(fs::canonical(t.root() / "sys/class/block" / member),
                                 t.root() / "sys/fs/btrfs/5f3c/devices" / member);
  }
  fs::create_directories(t.root() / "dev/disk/by-uuid");
  fs::create_symlink("../../sdb2", t.root() / "dev/disk/by-uuid/5f3c");
  const std::string mountinfo = "27 1 0:31 /@rootfs / rw,relatime - btrfs /dev/disk/by-uuid/5f3c rw,subvol=/@rootfs\n";

  const SystemDisks system = FindSystemDisks(mountinfo, block, dev);
  EXPECT_EQ(system.unknown, "");
  EXPECT_EQ(system.disks, (std::vector<std::string>{"sdb", "sdc"}));
  DriveNaming naming(block, dev, system);
  EXPECT_EQ(naming.DriveNumberOf("sdb"), 0);
  EXPECT_NE(naming.DriveNumberOf("sda"), 0);
  EXPECT_EQ(Use("sdc", mountinfo), "sdc holds the host's root file system");
  EXPECT_EQ(Use("sda", mountinfo), "free");
}

TEST_F(SystemDisksFixture, ADeviceMapperRootIsTheDisksBelowItsSlaves) {
  const fs::path dm = t.root() / "sys/devices/virtual/block/dm-0";
  fs::create_directories(dm / "slaves");
  std::ofstream(dm / "dev") << "254:0\n";
  fs::create_directory_symlink(fs::canonical(t.root() / "sys/class/block/sdc1"), dm / "slaves/sdc1");
  fs::create_directory_symlink(dm, t.root() / "sys/class/block/dm-0");
  fs::create_directory_symlink(dm, t.root() / "sys/dev/block/254:0");
  const std::string mountinfo = "27 1 254:0 / / rw,relatime - ext4 /dev/mapper/vg0-root rw\n";
  EXPECT_EQ(FindSystemDisks(mountinfo, block, dev).disks, std::vector<std::string>{"sdc"});
  EXPECT_EQ(Use("sdc", mountinfo), "sdc holds the host's root file system");
  EXPECT_EQ(Use("sdb", mountinfo), "free");
}

TEST_F(SystemDisksFixture, AnOverlayRootLeavesTheSystemDiskUnknownAndEveryDiskRefused) {
  const std::string mountinfo = "27 1 0:45 / / rw,relatime - overlay overlay rw,lowerdir=/l,upperdir=/u,workdir=/w\n";
  const SystemDisks system = FindSystemDisks(mountinfo, block, dev);
  EXPECT_TRUE(system.disks.empty());
  EXPECT_NE(system.unknown, "");
  DriveNaming naming(block, dev, system);
  EXPECT_EQ(naming.DiskDevice(0), std::nullopt);  // drive 0 is nobody's
  EXPECT_NE(naming.DriveNumberOf("sda"), 0);
  EXPECT_EQ(Use("sda", mountinfo).rfind("the host's system disk is not known (", 0), 0u) << Use("sda", mountinfo);
}

// A diskless host (root over 9p or NFS, as a virtual machine or a netbooted
// station has it): no disk is the system's, so bridge disks are partitioned.
TEST_F(SystemDisksFixture, ARootOnANetworkFileSystemIsOnNoDiskAndLeavesEveryDiskFree) {
  for (const std::string mountinfo : {"22 1 0:21 / / ro,relatime - 9p hostroot ro,trans=virtio\n",
                                      "22 1 0:21 / / rw,relatime - nfs4 server:/export rw\n"}) {
    const SystemDisks system = FindSystemDisks(mountinfo, block, dev);
    EXPECT_TRUE(system.disks.empty());
    EXPECT_EQ(system.unknown, "") << mountinfo;
    DriveNaming naming(block, dev, system);
    EXPECT_EQ(naming.DiskDevice(0), std::nullopt);
    EXPECT_EQ(Use("sdc", mountinfo), "free");
  }
}

TEST_F(SystemDisksFixture, ARootOnAUsbDiskLeavesDriveZeroToNobody) {
  const std::string mountinfo = "27 1 8:0 / / rw,relatime - ext4 /dev/sda rw\n";
  DriveNaming naming(block, dev, FindSystemDisks(mountinfo, block, dev));
  EXPECT_EQ(naming.DiskDevice(0), std::nullopt);
  EXPECT_NE(naming.DriveNumberOf("sda"), 0);
  EXPECT_EQ(Use("sda", mountinfo), "sda holds the host's root file system");
}

}  // namespace
