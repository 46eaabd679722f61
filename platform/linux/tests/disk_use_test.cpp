// A disk the host uses is never the station's to partition: the decision on
// fixture trees (sysfs holders, mount table, swap list) and on loop devices
// where this machine can make them.

#include "platform/linux/disk_use.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/swap.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/linux/tool_runner.h"
#include "temp_tree.h"

namespace fs = std::filesystem;
using namespace platform::linux_host;

namespace {

using Tree = test_files::TempTree;

// sda holds the root file system on sda2; sdb has two partitions, sdc and
// sdd none; dm-0 and md0 are there to hold others.
class DiskUseFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& [name, dev] : std::vector<std::pair<std::string, std::string>>{
             {"sda", "8:0"}, {"sdb", "8:16"}, {"sdc", "8:32"}, {"sdd", "8:48"}}) {
      t_.Write("block/" + name + "/dev", dev);
      t_.Folder("block/" + name + "/holders");
    }
    Partition("sda", "sda2", "8:2");
    Partition("sdb", "sdb1", "8:17");
    Partition("sdb", "sdb2", "8:18");
    sources_.sysfs_block = (t_.root() / "block").string();
    sources_.mountinfo_text =
        "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
        "40 22 0:35 / /proc rw - proc proc rw\n";
    sources_.swaps_text = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n";
    sources_.station_mount_root = "/run/linetool/drives";
  }
  void Partition(const std::string& disk, const std::string& part, const std::string& dev) {
    t_.Write("block/" + disk + "/" + part + "/partition", part.substr(part.size() - 1));
    t_.Write("block/" + disk + "/" + part + "/dev", dev);
    t_.Folder("block/" + disk + "/" + part + "/holders");
  }
  void Mount(const std::string& line) { sources_.mountinfo_text += line + "\n"; }
  std::string Use(const std::string& disk) { return DiskInUse(disk, sources_).value_or("free"); }

  Tree t_;
  DiskUseSources sources_;
};

TEST_F(DiskUseFixture, UnusedDisksAreFreeAndTheRootDiskNever) {
  EXPECT_EQ(Use("sdb"), "free");
  EXPECT_EQ(Use("sdc"), "free");
  EXPECT_EQ(Use("sda"), "sda holds the host's root file system");
}

TEST_F(DiskUseFixture, FileSystemsMountedByOthersButNotTheStationsOwn) {
  // The station's own volume, below its mount folder, does not count.
  Mount("61 22 8:17 / /run/linetool/drives/E rw - vfat /dev/sdb1 rw");
  EXPECT_EQ(Use("sdb"), "free");
  // A mount point whose name only begins like the station's folder does.
  Mount("62 22 8:18 / /run/linetool/drives2 rw - vfat /dev/sdb2 rw");
  EXPECT_EQ(Use("sdb"), "sdb2 is mounted at /run/linetool/drives2");
  // Found by its device number, the escapes of the mount point decoded.
  Mount("63 22 8:32 / /media/usb\\040disk rw - ext4 /dev/disk/by-label/X rw");
  EXPECT_EQ(Use("sdc"), "sdc is mounted at /media/usb disk");
  // Found by its source where the device number is not the disk's (btrfs).
  Mount("64 22 0:48 / /srv rw - btrfs /dev/sdd rw");
  EXPECT_EQ(Use("sdd"), "sdd is mounted at /srv");
}

TEST_F(DiskUseFixture, ActiveSwapOnTheDiskOrAPartition) {
  sources_.swaps_text += "/dev/sdb2                               partition\t1048572\t\t0\t\t-2\n";
  EXPECT_EQ(Use("sdb"), "sdb2 is active swap");
  sources_.swaps_text += "/var/swap\\040file                       file\t\t1048572\t\t0\t\t-3\n";
  EXPECT_EQ(Use("sdc"), "free");
}

TEST_F(DiskUseFixture, MembersOfRaidLvmAndDeviceMapper) {
  t_.Folder("block/sdb/sdb2/holders/md0");
  EXPECT_EQ(Use("sdb"), "sdb2 is a member of the software RAID md0");

  t_.Write("block/dm-0/dm/uuid", "LVM-Kx1nF3b0aE2");
  t_.Write("block/dm-0/dm/name", "vg0-data");
  t_.Folder("block/sdc/holders/dm-0");
  EXPECT_EQ(Use("sdc"), "sdc is a physical volume of the LVM volume vg0-data");

  t_.Write("block/dm-1/dm/uuid", "CRYPT-LUKS2-0f1e-secret");
  t_.Write("block/dm-1/dm/name", "secret");
  t_.Folder("block/sdd/holders/dm-1");
  EXPECT_EQ(Use("sdd"), "sdd is under the encrypted volume secret");
  fs::remove(t_.root() / "block/dm-1/dm/uuid");
  EXPECT_EQ(Use("sdd"), "sdd is under the device-mapper device secret");
}

// --- Loop devices -----------------------------------------------------------------------------

// A loop device over a sparse file, detached on every path.
class LoopDevice {
 public:
  explicit LoopDevice(const fs::path& image) {
    if (::geteuid() != 0) {
      why_ = "making loop devices needs root";
      return;
    }
    const int file = ::open(image.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    if (file >= 0 && ::ftruncate(file, 64 << 20) == 0 && control >= 0) {
      // Another process may take the free device first: ask again.
      for (int attempt = 0; attempt < 5 && device_.empty(); ++attempt) {
        const int n = ::ioctl(control, LOOP_CTL_GET_FREE);
        if (n < 0) break;
        const std::string device = "/dev/loop" + std::to_string(n);
        const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0 && ::ioctl(fd, LOOP_SET_FD, file) == 0) {
          device_ = device;
          fd_ = fd;
        } else if (fd >= 0) {
          ::close(fd);
        }
      }
    }
    if (device_.empty()) why_ = std::string("no loop device can be attached here: ") + std::strerror(errno);
    if (control >= 0) ::close(control);
    if (file >= 0) ::close(file);
  }
  ~LoopDevice() {
    if (fd_ >= 0) {
      ::ioctl(fd_, LOOP_CLR_FD, 0);
      ::close(fd_);
    }
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  const std::string& Device() const { return device_; }
  std::string Name() const { return fs::path(device_).filename().string(); }
  const std::string& WhyNot() const { return why_; }

 private:
  std::string device_;
  int fd_ = -1;
  std::string why_;
};

// A mount that is undone on every path.
class MountGuard {
 public:
  MountGuard(const std::string& device, const fs::path& point) : point_(point) {
    fs::create_directories(point);
    ok_ = ::mount(device.c_str(), point.c_str(), "ext4", 0, nullptr) == 0;
    if (!ok_) error_ = std::strerror(errno);
  }
  ~MountGuard() {
    if (ok_) ::umount2(point_.c_str(), MNT_DETACH);
  }
  MountGuard(const MountGuard&) = delete;
  MountGuard& operator=(const MountGuard&) = delete;
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

 private:
  fs::path point_;
  bool ok_ = false;
  std::string error_;
};

TEST(DiskUseOnLoopDevices, MountsAndSwapOfTheHostAreSeenTheStationsOwnMountIsNot) {
  Tree t;
  LoopDevice loop(t.root() / "disk.img");
  if (loop.Device().empty()) GTEST_SKIP() << loop.WhyNot();
  const std::string sysfs = "/sys/block";
  const std::string station_root = (t.root() / "drives").string();
  const SystemDisks system = DriveNaming(sysfs, "/dev").System();
  if (!system.unknown.empty()) GTEST_SKIP() << "this host's system disk is not known: " << system.unknown;
  ASSERT_EQ(HostDiskInUse(loop.Name(), sysfs, station_root, system), std::nullopt);

  // The mounts below happen in a mount namespace of this process's own, so
  // no other process on the machine (a test counting mounts) ever sees them.
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    GTEST_SKIP() << "no mount namespace of its own here: " << std::strerror(errno);
  }
  ASSERT_EQ(RunTool({"mkfs.ext4", "-q", "-F", loop.Device()}, nullptr), 0);
  {
    MountGuard mounted(loop.Device(), t.root() / "elsewhere");
    if (!mounted.ok()) GTEST_SKIP() << "cannot mount a loop device here: " << mounted.error();
    EXPECT_EQ(HostDiskInUse(loop.Name(), sysfs, station_root, system),
              loop.Name() + " is mounted at " + (t.root() / "elsewhere").string());
  }
  EXPECT_EQ(HostDiskInUse(loop.Name(), sysfs, station_root, system), std::nullopt);
  {
    MountGuard station(loop.Device(), t.root() / "drives" / "E");
    ASSERT_TRUE(station.ok()) << station.error();
    EXPECT_EQ(HostDiskInUse(loop.Name(), sysfs, station_root, system), std::nullopt);
  }

  ASSERT_EQ(RunTool({"mkswap", loop.Device()}, nullptr), 0);
  if (::swapon(loop.Device().c_str(), 0) != 0) {
    GTEST_SKIP() << "cannot switch swap on here: " << std::strerror(errno);
  }
  struct SwapOff {
    std::string device;
    ~SwapOff() { ::swapoff(device.c_str()); }
  } swap_off{loop.Device()};
  EXPECT_EQ(HostDiskInUse(loop.Name(), sysfs, station_root, system), loop.Name() + " is active swap");
}

}  // namespace
