// The Linux backend of disk preparation, where it can be checked without a
// bridge disk: device naming from a sysfs tree, the mount table, the tool
// command lines, the page cache after a flush, and libblkid on images.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "platform/linux/drive_naming.h"
#include "platform/linux/linux_disk_requests.h"
#include "platform/linux/host_services.h"
#include "platform/linux/linux_system_tools.h"
#include "platform/linux/linux_volumes.h"
#include "platform/linux/posix_files.h"
#include "platform/linux/tool_runner.h"
#include "temp_tree.h"

namespace fs = std::filesystem;
using namespace platform::linux_host;

namespace {

using test_files::TempTree;

// sda holds the root file system; sdb and nvme0n1 are further disks, sdb with
// one partition; loop0 and sr0 are no disks.
void MakeSysfs(TempTree& t) {
  for (const char* d : {"sda", "sdb", "nvme0n1", "loop0", "sr0", "sdaa"}) {
    fs::create_directories(t.root() / "block" / d / "device");
  }
  t.Write("block/sda/dev", "8:0\n");
  t.Write("block/sda/sda2/partition", "2\n");
  t.Write("block/sda/sda2/dev", "8:2\n");
  t.Write("block/sdb/dev", "8:16\n");
  t.Write("block/sdb/sdb1/partition", "1\n");
  t.Write("block/sdb/sdb1/dev", "8:17\n");
  t.Write("block/sdb/sdb1/start", "2048\n");
  t.Write("block/sdb/sdb1/size", "976771072\n");
}

const char* kMountInfo =
    "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
    "40 22 0:35 / /proc rw - proc proc rw\n"
    "61 22 8:17 / /srv/station\\040drives/E rw,relatime - vfat /dev/sdb1 rw,fmask=0022\n";

}  // namespace

TEST(DriveNaming, SystemDiskIsDriveZeroAndOthersFollowByName) {
  TempTree t;
  MakeSysfs(t);
  EXPECT_EQ(FindSystemDisks(kMountInfo, (t.root() / "block").string()).disks, std::vector<std::string>{"sda"});
  DriveNaming naming((t.root() / "block").string(), "/dev", "sda");
  EXPECT_EQ(naming.Disks(), (std::vector<std::string>{"sda", "sdb", "sdaa", "nvme0n1"}));
  EXPECT_EQ(naming.DiskDevice(1), "/dev/sdb");
  EXPECT_FALSE(naming.DiskDevice(4));
  EXPECT_EQ(naming.PartitionDevice(1, 1), "/dev/sdb1");
  EXPECT_FALSE(naming.PartitionDevice(1, 2));
  EXPECT_EQ(naming.PartitionOf("/dev/sdb1"), (std::pair{1, 1}));
  EXPECT_EQ(naming.PartitionExtent("/dev/sdb1"), (std::pair{std::uint64_t{2048}, std::uint64_t{976771072}}));

  const auto mounts = ParseMountInfo(kMountInfo);
  ASSERT_EQ(mounts.size(), 3u);
  EXPECT_EQ(mounts[2].mount_point, "/srv/station drives/E");
  EXPECT_EQ(mounts[2].source, "/dev/sdb1");
  EXPECT_EQ(mounts[2].fs_type, "vfat");

  // Letters live below the drive root; a letter maps to its partition and
  // its extents lie on the drive numbered above.
  const std::string drive_root = (t.root() / "station drives").string();
  std::string escaped = drive_root;
  for (std::size_t at; (at = escaped.find(' ')) != std::string::npos;) escaped.replace(at, 1, "\\040");
  t.Write("mountinfo", std::string(kMountInfo) + "62 22 8:17 / " + escaped + "/E rw - vfat /dev/sdb1 rw\n");
  LinuxVolumes volumes(drive_root, naming, (t.root() / "mountinfo").string());
  EXPECT_EQ(volumes.DeviceOf('E'), "/dev/sdb1");  // found mounted at its letter
  EXPECT_EQ(volumes.MountPoint('e'), drive_root + "/E");
  EXPECT_TRUE(volumes.Mounted('E'));
  EXPECT_FALSE(volumes.Mounted('F'));
  EXPECT_EQ(volumes.LetterOfDevice("/dev/sdb1"), 'E');
  volumes.Assign('G', "/dev/sdb1");  // a partition has one letter
  EXPECT_FALSE(volumes.DeviceOf('E'));
  const auto extents = volumes.Extents("/dev/sdb1");
  ASSERT_TRUE(extents);
  EXPECT_EQ(extents->front().disk_number, 1u);
  EXPECT_EQ(extents->front().starting_offset, 2048u * 512);
  EXPECT_EQ(volumes.TypeOf('C'), platform::DriveType::kFixed);
  EXPECT_EQ(volumes.TypeOf('Q'), platform::DriveType::kNoRootDir);
}

TEST(LinuxVolumes, LettersOfADiskArePresentOrGoneAndOnlyTheStationGivesThem) {
  EXPECT_EQ(DiskNameOfPartition("/dev/sdb1"), "sdb");
  EXPECT_EQ(DiskNameOfPartition("/dev/sdaa12"), "sdaa");
  EXPECT_EQ(DiskNameOfPartition("/dev/nvme0n1p2"), "nvme0n1");
  EXPECT_EQ(DiskNameOfPartition("/dev/loop3p1"), "loop3");
  EXPECT_EQ(DiskNameOfPartition("/dev/sdb"), "");

  TempTree t;
  MakeSysfs(t);
  DriveNaming naming((t.root() / "block").string(), "/dev", "sda");
  t.Write("mountinfo", kMountInfo);
  const std::string drive_root = (t.root() / "drives").string();
  LinuxVolumes volumes(drive_root, naming, (t.root() / "mountinfo").string());
  EXPECT_FALSE(volumes.LetterMayAppear(1));  // no letter given yet: nothing to wait for
  volumes.Assign('E', "/dev/sdb1");
  EXPECT_TRUE(volumes.LetterMayAppear(1));
  EXPECT_FALSE(volumes.LetterMayAppear(2));
  // The bridge is pulled: its letter is still found by the disk's name.
  fs::remove_all(t.root() / "block/sdb");
  EXPECT_EQ(volumes.LettersOfDisk(1), std::vector<char>{'E'});
  EXPECT_TRUE(volumes.UnmountDisk(1));  // not mounted: nothing to do
}

// A volume left mounted on a disk that has gone is taken off by the disk's
// number (a tmpfs stands in for the file system of the pulled disk).
TEST(LinuxVolumes, UnmountDiskTakesOffTheVolumesOfAGoneDisk) {
  TempTree t;
  MakeSysfs(t);
  DriveNaming naming((t.root() / "block").string(), "/dev", "sda");
  const std::string drive_root = (t.root() / "drives").string();
  LinuxVolumes volumes(drive_root, naming);
  volumes.Assign('E', "/dev/sdb1");
  volumes.Assign('F', "/dev/nvme0n1p1");
  ASSERT_EQ(naming.DriveNumberOf("sdb"), 1);
  fs::create_directories(volumes.MountPoint('E'));
  fs::create_directories(volumes.MountPoint('F'));
  if (::mount("tmpfs", volumes.MountPoint('E').c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "mounting needs CAP_SYS_ADMIN: " << std::strerror(errno);
  }
  struct Undo {
    std::vector<std::string> points;
    ~Undo() {
      for (const auto& p : points) ::umount2(p.c_str(), MNT_DETACH);
    }
  } undo{{volumes.MountPoint('E'), volumes.MountPoint('F')}};
  ASSERT_EQ(::mount("tmpfs", volumes.MountPoint('F').c_str(), "tmpfs", 0, "size=1m"), 0);
  fs::remove_all(t.root() / "block/sdb");
  ASSERT_TRUE(volumes.Mounted('E'));
  EXPECT_TRUE(volumes.UnmountDisk(1));
  EXPECT_FALSE(volumes.Mounted('E'));
  EXPECT_FALSE(fs::exists(volumes.MountPoint('E')));
  EXPECT_TRUE(volumes.Mounted('F'));  // another disk's volume stays
  // Looking at a letter mounts nothing: a volume taken off stays off.
  EXPECT_EQ(volumes.TypeOf('E'), platform::DriveType::kNoRootDir);
}

// A station of loop-backed disks: only the loop devices it pins have drive
// numbers, so the system disk and every other disk of the host stay out of
// reach of the partition tool, even when they carry the numbers the world
// gives its disks.
TEST(DriveNaming, PinnedNumbersReachOnlyTheStationsLoopDevices) {
  TempTree t;
  MakeSysfs(t);
  t.Write("block/loop0/loop0p1/partition", "1\n");
  t.Write("block/loop0/loop0p1/start", "2048\n");
  t.Write("block/loop0/loop0p1/size", "129024\n");
  t.Write("mountinfo", kMountInfo);
  std::map<int, std::string> pinned{{2, "loop0"}};
  DriveNaming naming([&] { return pinned; }, (t.root() / "block").string(), "/dev");
  EXPECT_EQ(naming.Disks(), (std::vector<std::string>{"loop0"}));
  EXPECT_FALSE(naming.DiskDevice(0));
  EXPECT_FALSE(naming.DiskDevice(1));
  EXPECT_FALSE(naming.DriveNumberOf("sda"));
  EXPECT_FALSE(naming.DriveNumberOf(""));
  EXPECT_FALSE(naming.PartitionOf("/dev/sdb1"));
  EXPECT_EQ(naming.DiskDevice(2), "/dev/loop0");
  EXPECT_EQ(naming.PartitionDevice(2, 1), "/dev/loop0p1");
  EXPECT_EQ(naming.PartitionOf("/dev/loop0p1"), (std::pair{2, 1}));
  EXPECT_EQ(naming.PartitionExtent("/dev/loop0p1"), (std::pair{std::uint64_t{2048}, std::uint64_t{129024}}));

  LinuxVolumes volumes((t.root() / "drives").string(), naming, (t.root() / "mountinfo").string());
  platform::ManualClock clock;
  LinuxSystemTools tools(clock, t.root().string(), naming, volumes);
  for (const char* disk : {"0", "1", "3"}) {
    t.Write("Target.sc", std::string(" select disk ") + disk + "\n clean \n create partition primary\n");
    EXPECT_EQ(tools.Launch("diskpart.exe", " /s Target.sc"), nullptr) << "disk " << disk;
  }
  // A disk pulled from the station loses its number; the next one keeps its own.
  pinned = {{3, "loop0"}};
  EXPECT_FALSE(naming.DiskDevice(2));
  EXPECT_EQ(naming.DriveNumberOf("loop0"), 3);
}

// /proc/filesystems lists vfat only once its module is loaded, and mount(2)
// loads it: the kernel is asked first, FUSE only where it has no vfat.
TEST(MountFatVolume, TheKernelsVfatFirstAndFuseOnlyWithoutIt) {
  std::vector<std::string> asked;
  std::vector<std::vector<std::string>> ran;
  int kernel_answer = 0;
  const KernelMount kernel = [&](const std::string& d, const std::string& p, const std::string& type) {
    asked.push_back(type + " " + d + " " + p);
    return kernel_answer;
  };
  const ToolRun tool = [&](const std::vector<std::string>& argv) {
    ran.push_back(argv);
    return 0;
  };
  EXPECT_TRUE(MountFatVolume("/dev/sdb1", "/run/d/E", kernel, tool));
  EXPECT_EQ(asked, std::vector<std::string>{"vfat /dev/sdb1 /run/d/E"});
  EXPECT_TRUE(ran.empty());
  kernel_answer = ENODEV;  // no vfat in this kernel
  EXPECT_TRUE(MountFatVolume("/dev/sdb1", "/run/d/E", kernel, tool));
  ASSERT_EQ(ran.size(), 1u);
  EXPECT_EQ(ran[0], (std::vector<std::string>{"fusefat", "-o", "rw+", "/dev/sdb1", "/run/d/E"}));
  kernel_answer = EINVAL;  // vfat refuses the volume: FUSE would not do better
  EXPECT_FALSE(MountFatVolume("/dev/sdb1", "/run/d/E", kernel, tool));
  EXPECT_EQ(ran.size(), 1u);
}

TEST(FatMountDriver, TheKernelsVfatWhereItHasOne) {
  EXPECT_TRUE(KernelHasFileSystem("nodev\tsysfs\n\text4\n\tvfat\n", "vfat"));
  EXPECT_FALSE(KernelHasFileSystem("nodev\tfuse\n\tfuseblk\n\tmsdos\n", "vfat"));
  EXPECT_FALSE(KernelHasFileSystem("nodev\tvfatx\n", "vfat"));
}

TEST(ProcessesHolding, FindsTheProcessesThatHoldAFileOpen) {
  const fs::path file = fs::temp_directory_path() / ("holding_" + std::to_string(::getpid()));
  { std::ofstream(file) << "x"; }
  using platform::linux_host::ProcessesHolding;
  EXPECT_TRUE(ProcessesHolding(file.string()).empty());
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ProcessesHolding(file.string()), std::vector<int>{::getpid()});
  ::close(fd);
  EXPECT_TRUE(ProcessesHolding(file.string()).empty());
  EXPECT_TRUE(ProcessesHolding(file.string(), "/nonexistent").empty());
  fs::remove(file);
}

TEST(ParseMountInfo, DecodesTheKernelsEscapesAndKeepsOtherBackslashes) {
  // The kernel writes a space, tab, newline and backslash of a path as \040,
  // \011, \012 and \134; any other backslash is part of the text.
  const std::string text =
      "70 22 8:17 / /mnt/a\\040b\\011c\\012d\\134e rw - vfat /dev/sdb1 rw\n"
      "71 22 8:18 / /mnt/\\9ab rw - vfat /dev/sdb\\0402 rw\n"
      "72 22 8:19 / /mnt/\\18x\\101\\04 rw - ext4 \\ rw\n"
      "73 22 8:20 / /mnt/end\\ rw - ext4 /dev/sdb4\\1 rw\n";
  std::vector<MountEntry> m;
  ASSERT_NO_THROW(m = ParseMountInfo(text));
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0].mount_point, "/mnt/a b\tc\nd\\e");
  EXPECT_EQ(m[1].mount_point, "/mnt/\\9ab");
  EXPECT_EQ(m[1].source, "/dev/sdb 2");
  EXPECT_EQ(m[2].mount_point, "/mnt/\\18x\\101\\04");
  EXPECT_EQ(m[2].source, "\\");
  EXPECT_EQ(m[3].mount_point, "/mnt/end\\");
  EXPECT_EQ(m[3].source, "/dev/sdb4\\1");
}

TEST(LinuxSystemTools, CommandLinesForTheStationsTools) {
  const std::string script =
      " list disk\n select disk 3\n clean \ncreate partition primary \n active\n select partition 1\n assign letter=G\n";
  const auto r = ParsePartitionScript(script);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->disk, 3);
  EXPECT_EQ(r->letter, 'G');
  EXPECT_TRUE(r->clean && r->create_primary && r->active);
  EXPECT_EQ(SfdiskInput(*r), "label: dos\nstart=2048, type=7, bootable\n");
  EXPECT_EQ(SfdiskCommand("/dev/sdd"),
            (std::vector<std::string>{"sfdisk", "--quiet", "--wipe", "always", "--wipe-partitions", "always", "/dev/sdd"}));
  EXPECT_FALSE(ParsePartitionScript(" select disk 3\n delete partition override\n"));
  EXPECT_FALSE(ParsePartitionScript(" clean\n"));  // no disk selected

  EXPECT_EQ(MkntfsCommand("/dev/sdd1"), (std::vector<std::string>{"mkntfs", "--quick", "--force", "/dev/sdd1"}));
  EXPECT_EQ(ParseFormatParameters(" g:/Q /FS:NTFS /y"), (std::pair{'G', std::string("NTFS")}));
  EXPECT_FALSE(ParseFormatParameters(" G:/Q /y"));
  EXPECT_EQ(ParseLabelParameters("G: SHIP 01"), (std::pair{'G', std::string("SHIP 01")}));
  EXPECT_EQ(FirstPartitionDevice("/dev/sdd"), "/dev/sdd1");
  EXPECT_EQ(FirstPartitionDevice("/dev/nvme0n1"), "/dev/nvme0n1p1");
  EXPECT_EQ(FirstPartitionDevice("/dev/mmcblk0"), "/dev/mmcblk0p1");
}

// The disk is held with a BSD lock, as udev's convention asks, on a
// read-only descriptor whose close makes udev re-read nothing.
TEST(LinuxDiskRequests, HoldLocksTheWholeDiskUntilReleased) {
  TempTree t;
  MakeSysfs(t);
  t.Write("dev/sdb", "a disk");
  DriveNaming naming((t.root() / "block").string(), (t.root() / "dev").string(), "sda");
  LinuxVolumes volumes((t.root() / "drives").string(), naming, (t.root() / "mountinfo").string());
  platform::ManualClock clock{platform::Clock::Millis{0}, true};
  LinuxDiskRequests disks(naming, volumes, clock);
  const std::string node = (t.root() / "dev/sdb").string();
  const auto other_can_lock = [&] {
    const int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
  };
  EXPECT_FALSE(disks.Hold(0));  // the system disk is never the station's
  EXPECT_FALSE(disks.Hold(4));  // no such drive
  {
    auto hold = disks.Hold(1);
    ASSERT_TRUE(hold);
    EXPECT_FALSE(other_can_lock());
    // A second hold waits its limit on the clock and gives up.
    const auto before = clock.Now();
    EXPECT_FALSE(disks.Hold(1));
    EXPECT_GE(clock.Now() - before, LinuxDiskRequests::kHoldLimit);
  }
  EXPECT_TRUE(other_can_lock());
  const auto fdinfo = [&] {
    auto hold = disks.Hold(1);
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (fs::read_symlink(e.path(), ec) == node) {
        std::ifstream in("/proc/self/fdinfo/" + e.path().filename().string());
        std::string line;
        while (std::getline(in, line))
          if (line.rfind("flags:", 0) == 0) return std::stoul(line.substr(6), nullptr, 8);
      }
    }
    return ~0ul;
  }();
  EXPECT_EQ(fdinfo & O_ACCMODE, static_cast<unsigned long>(O_RDONLY));
}

// After the new table the hold lets the disk go until its partitions' nodes
// are usable (udev holds back their owner and mode while the disk is locked),
// then holds it again; it fails when another program took the disk meanwhile.
TEST(LinuxDiskRequests, AfterANewTableTheHoldWaitsUnlockedForThePartitionNodes) {
  TempTree t;
  MakeSysfs(t);
  t.Write("dev/sdb", "a disk");
  DriveNaming naming((t.root() / "block").string(), (t.root() / "dev").string(), "sda");
  LinuxVolumes volumes((t.root() / "drives").string(), naming, (t.root() / "mountinfo").string());
  platform::ManualClock clock{platform::Clock::Millis{0}, false};
  LinuxDiskRequests disks(naming, volumes, clock);
  const std::string node = (t.root() / "dev/sdb").string();
  const int other = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  const auto other_can_lock = [&] {
    const bool locked = ::flock(other, LOCK_EX | LOCK_NB) == 0;
    if (locked) ::flock(other, LOCK_UN);
    return locked;
  };
  const auto await_waiter = [&] {
    for (int i = 0; i < 2000 && clock.Waiters() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return clock.Waiters() > 0;
  };
  {
    auto hold = disks.Hold(1);
    ASSERT_TRUE(hold);
    // sdb1 is in sysfs but has no node yet: the hold waits, with the disk free.
    std::thread renew([&] { EXPECT_TRUE(hold->AwaitNewPartitions()); });
    ASSERT_TRUE(await_waiter());
    EXPECT_TRUE(other_can_lock());
    t.Write("dev/sdb1", "a partition");
    clock.Advance(std::chrono::milliseconds(20));
    renew.join();
    EXPECT_FALSE(other_can_lock());  // held again
  }
  {
    auto hold = disks.Hold(1);
    ASSERT_TRUE(hold);
    fs::remove(t.root() / "dev/sdb1");
    std::atomic<bool> done{false};
    std::thread renew([&] {
      EXPECT_FALSE(hold->AwaitNewPartitions());
      done = true;
    });
    ASSERT_TRUE(await_waiter());
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);  // another program takes the disk
    t.Write("dev/sdb1", "a partition");
    // The node is there now, the disk is not: the hold gives up after its limit.
    for (int i = 0; i < 20000 && !done; ++i) {
      if (clock.Waiters() > 0) clock.Advance(std::chrono::milliseconds(20));
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    renew.join();
    EXPECT_GE(clock.Now(), platform::Clock::Millis{LinuxDiskRequests::kHoldLimit.count()});
    ::flock(other, LOCK_UN);
  }
  ::close(other);
}

// After a new table the kernel must show the partition where the table says,
// with its node: sfdisk ends well even where the kernel kept the old table.
TEST(LinuxSystemTools, ThePartitionMustBeAsWrittenWithItsNode) {
  struct stat st{};
  if (::stat("/dev/loop0", &st) != 0 || !S_ISBLK(st.st_mode)) GTEST_SKIP() << "no /dev/loop0 to stand for a node";
  TempTree t;
  const std::string disk = (t.root() / "block/sdb").string();
  const std::string dev = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  const fs::path node = t.root() / "dev/sdb1";
  fs::create_directories(node.parent_path());
  fs::create_symlink("/dev/loop0", node);  // stat follows it to a block device
  EXPECT_EQ(PartitionNotAsWritten(disk, node.string(), 2048, 5000), "the kernel shows no sdb1 after the new table");
  t.Write("block/sdb/sdb1/start", "63\n");
  t.Write("block/sdb/sdb1/size", "1000\n");
  t.Write("block/sdb/sdb1/dev", dev + "\n");
  EXPECT_EQ(PartitionNotAsWritten(disk, node.string(), 2048, 5000),
            "the kernel kept sdb1 at 63 + 1000 sectors, the new table says 2048 + 5000 (is a partition of the disk in use?)");
  t.Write("block/sdb/sdb1/start", "2048\n");
  t.Write("block/sdb/sdb1/size", "5000\n");
  EXPECT_EQ(PartitionNotAsWritten(disk, node.string(), 2048, 5000), std::nullopt);
  EXPECT_EQ(PartitionNotAsWritten(disk, (t.root() / "dev/sdb2").string(), 2048, 5000),
            "the kernel shows no sdb2 after the new table");
  t.Write("block/sdb/sdb1/dev", "8:17\n");  // the node is another device's
  EXPECT_EQ(PartitionNotAsWritten(disk, node.string(), 2048, 5000), node.string() + " is not the kernel's sdb1 (8:17)");
  fs::remove(node);
  EXPECT_EQ(PartitionNotAsWritten(disk, node.string(), 2048, 5000), node.string() + " has not appeared");
}

TEST(LinuxSystemTools, RefusesTheSystemDiskAndUnknownTools) {
  TempTree t;
  MakeSysfs(t);
  DriveNaming naming((t.root() / "block").string(), "/dev", "sda");
  t.Write("mountinfo", kMountInfo);
  LinuxVolumes volumes((t.root() / "drives").string(), naming, (t.root() / "mountinfo").string());
  platform::ManualClock clock;
  LinuxSystemTools tools(clock, t.root().string(), naming, volumes);
  t.Write("DiskPartTarget0.sc", " select disk 0\n clean \n");
  EXPECT_EQ(tools.Launch("diskpart.exe", " /s DiskPartTarget0.sc"), nullptr);
  EXPECT_EQ(tools.Launch("diskpart.exe", " /s Missing.sc"), nullptr);
  EXPECT_EQ(tools.Launch("format.com", " C:/Q /FS:NTFS /y"), nullptr);
  EXPECT_EQ(tools.Launch("format.com", " H:/Q /FS:NTFS /y"), nullptr);  // no volume under H
  EXPECT_EQ(tools.Launch("regedit.exe", ""), nullptr);
}

TEST(ToolRunner, ExitCodesInputAndMissingPrograms) {
  EXPECT_EQ(RunTool({"true"}, nullptr), 0);
  EXPECT_EQ(RunTool({"false"}, nullptr), 1);
  const std::string input = "hello\n";
  EXPECT_EQ(RunTool({"grep", "-q", "hello"}, &input), 0);
  EXPECT_EQ(RunTool({"no-such-program-here"}, nullptr), -1);
}

// Why a tool failed is the last line it wrote on stderr; stdout is not kept.
TEST(ToolRunner, TheLastLineOnStderrIsKeptForTheReason) {
  auto child = ChildProcess::Start(
      {"sh", "-c", "echo progress; echo 'first complaint' >&2; printf 'Error opening /dev/sdb1: busy\\r\\n\\n' >&2; exit 3"},
      nullptr);
  ASSERT_TRUE(child);
  EXPECT_EQ(child->Wait(), 3);
  EXPECT_EQ(child->LastErrorLine(), "Error opening /dev/sdb1: busy");
  auto quiet = ChildProcess::Start({"sh", "-c", "echo only stdout"}, nullptr);
  ASSERT_TRUE(quiet);
  EXPECT_EQ(quiet->Wait(), 0);
  EXPECT_EQ(quiet->LastErrorLine(), "");
}

// A started tool holds CAP_SYS_ADMIN, and only it, as an ambient capability:
// what it starts keeps it too (sh runs grep here).
TEST(ToolRunner, ToolsInheritTheStationsSysAdminCapabilityAndNoOther) {
  std::ifstream in("/proc/self/status");
  std::uint64_t permitted = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("CapPrm:", 0) == 0) permitted = std::strtoull(line.c_str() + 7, nullptr, 16);
  }
  if ((permitted >> 21 & 1) == 0) GTEST_SKIP() << "this process has no CAP_SYS_ADMIN to pass on";
  EXPECT_EQ(RunTool({"sh", "-c", "grep -qx 'CapAmb:[[:space:]]*0000000000200000' /proc/self/status"}, nullptr), 0);
  EXPECT_EQ(RunTool({"sh", "-c", "sh -c \"grep -qx 'CapAmb:[[:space:]]*0000000000200000' /proc/self/status\""},
                    nullptr),
            0);
}

TEST(PosixFiles, FlushPutsTheDataOnTheDeviceAndDropsItsCachedPages) {
  TempTree t;
  PosixFiles files;
  const std::string path = (t.root() / "data.bin").string();
  std::vector<std::uint8_t> data(4 << 20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  auto f = files.Open(path, platform::FileOpen::kCreateAlways);
  ASSERT_TRUE(f);
  ASSERT_TRUE(f->WriteAt(0, data));

  // Pages of the file that sit in the host's cache.
  const auto resident = [&] {
    const int fd = ::open(path.c_str(), O_RDONLY);
    void* map = ::mmap(nullptr, data.size(), PROT_READ, MAP_SHARED, fd, 0);
    std::vector<unsigned char> vec(data.size() / static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)));
    ::mincore(map, data.size(), vec.data());
    ::munmap(map, data.size());
    ::close(fd);
    return std::count_if(vec.begin(), vec.end(), [](unsigned char c) { return (c & 1) != 0; });
  };
  if (resident() == 0) GTEST_SKIP() << "this file system keeps no written pages in the cache to drop";
  ASSERT_TRUE(f->Flush());
  EXPECT_EQ(resident(), 0);

  std::vector<std::uint8_t> back(data.size());
  EXPECT_EQ(f->ReadAt(0, back), data.size());
  EXPECT_EQ(back, data);
  EXPECT_EQ(f->ReadAt(data.size() - 1, back), 1u);  // short at the end
}

TEST(PosixFiles, UncachedFilesKeepEveryByteWhateverTheSizeAndOffset) {
  TempTree t;
  PosixFiles files;
  const std::string path = (t.root() / "direct.bin").string();
  // Two direct chunks and a tail that is no whole unit.
  std::vector<std::uint8_t> data((2 << 20) + 4097);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + i / 4096);
  {
    auto f = files.Open(path, platform::FileOpen::kCreateAlwaysUncached);
    ASSERT_TRUE(f);
    ASSERT_TRUE(f->WriteAt(0, data));
    ASSERT_TRUE(f->Flush());
    EXPECT_EQ(f->Size(), data.size());
  }
  auto f = files.Open(path, platform::FileOpen::kReadExistingUncached);
  ASSERT_TRUE(f);
  std::vector<std::uint8_t> back(data.size() + 100, 0xEE);
  EXPECT_EQ(f->ReadAt(0, back), data.size());  // stops at the end of the file
  back.resize(data.size());
  EXPECT_EQ(back, data);
  // A read that starts and ends inside units.
  std::vector<std::uint8_t> middle(10'000);
  EXPECT_EQ(f->ReadAt(4095, middle), middle.size());
  EXPECT_TRUE(std::equal(middle.begin(), middle.end(), data.begin() + 4095));
  std::vector<std::uint8_t> past(10);
  EXPECT_EQ(f->ReadAt(data.size() + 5, past), 0u);
  // An uncached file can be written over again.
  {
    auto g = files.Open(path, platform::FileOpen::kCreateAlwaysUncached);
    ASSERT_TRUE(g);
    ASSERT_TRUE(g->WriteAt(0, std::span(data).first(100)));
    EXPECT_EQ(g->Size(), 100u);
  }
}

TEST(PosixFiles, UncachedPiecesStayPastTheCacheUntilOneStartsInsideAUnit) {
  TempTree t;
  PosixFiles files;
  const std::string path = (t.root() / "pieces.bin").string();
  constexpr std::size_t kMiB = 1 << 20;
  std::vector<std::uint8_t> data(3 * kMiB + 4096 + 777);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 29 + i / 4096);
  // Memory on a unit boundary goes to the device as it is; the rest through
  // the file's own aligned buffer.
  void* raw = nullptr;
  ASSERT_EQ(::posix_memalign(&raw, 4096, data.size()), 0);
  const std::unique_ptr<std::uint8_t, decltype(&std::free)> aligned(static_cast<std::uint8_t*>(raw), &std::free);
  std::copy(data.begin(), data.end(), aligned.get());
  std::vector<std::uint8_t> unaligned(data.size() + 1);
  std::copy(data.begin(), data.end(), unaligned.begin() + 1);

  auto f = files.Open(path, platform::FileOpen::kCreateAlwaysUncached);
  ASSERT_TRUE(f);
  ASSERT_TRUE(f->WriteAt(0, std::span(aligned.get(), kMiB)));
  ASSERT_TRUE(f->WriteAt(kMiB, std::span(unaligned).subspan(1 + kMiB, kMiB)));
  const auto resident = [&] {
    const int fd = ::open(path.c_str(), O_RDONLY);
    void* map = ::mmap(nullptr, 2 * kMiB, PROT_READ, MAP_SHARED, fd, 0);
    std::vector<unsigned char> vec(2 * kMiB / static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)));
    ::mincore(map, 2 * kMiB, vec.data());
    ::munmap(map, 2 * kMiB);
    ::close(fd);
    return std::count_if(vec.begin(), vec.end(), [](unsigned char c) { return (c & 1) != 0; });
  };
  const int probe = ::open((t.root() / "probe").c_str(), O_RDWR | O_CREAT | O_DIRECT, 0600);
  if (probe < 0) GTEST_SKIP() << "this file system takes no direct transfers";
  ::close(probe);
  EXPECT_EQ(resident(), 0) << "whole units written one piece after another went through the cache";
  // A piece that starts inside a unit, and one after it: through the cache.
  ASSERT_TRUE(f->WriteAt(2 * kMiB, std::span(aligned.get() + 2 * kMiB, 1000)));
  ASSERT_TRUE(f->WriteAt(2 * kMiB + 1000, std::span(aligned.get() + 2 * kMiB + 1000, data.size() - 2 * kMiB - 1000)));
  ASSERT_TRUE(f->Flush());
  f.reset();

  // Read back into aligned memory in whole units: the last read ends short at
  // the end of the file.
  auto g = files.Open(path, platform::FileOpen::kReadExistingUncached);
  ASSERT_TRUE(g);
  ASSERT_EQ(::posix_memalign(&raw, 4096, 4 * kMiB), 0);
  const std::unique_ptr<std::uint8_t, decltype(&std::free)> back(static_cast<std::uint8_t*>(raw), &std::free);
  EXPECT_EQ(g->ReadAt(0, std::span(back.get(), 2 * kMiB)), 2 * kMiB);
  EXPECT_EQ(g->ReadAt(2 * kMiB, std::span(back.get() + 2 * kMiB, 2 * kMiB)), data.size() - 2 * kMiB);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), back.get()));
}

TEST(PosixFiles, ListsLinksWithoutFollowingThem) {
  TempTree t;
  t.Write("a.txt", "abc");
  fs::create_directories(t.root() / "sub");
  fs::create_symlink(t.root(), t.root() / "loop");
  PosixFiles files;
  auto entries = files.List(t.root().string());
  ASSERT_TRUE(entries);
  std::sort(entries->begin(), entries->end(), [](auto& a, auto& b) { return a.name < b.name; });
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_EQ((*entries)[0].kind, platform::EntryKind::kFile);
  EXPECT_EQ((*entries)[0].size, 3u);
  EXPECT_EQ((*entries)[1].kind, platform::EntryKind::kLink);
  EXPECT_EQ((*entries)[2].kind, platform::EntryKind::kFolder);
  EXPECT_FALSE(files.CreateFolder((t.root() / "sub").string()));  // exists already
  EXPECT_FALSE(files.Open((t.root() / "sub").string(), platform::FileOpen::kReadExisting));
  EXPECT_FALSE(files.List((t.root() / "none").string()));
}

TEST(ProbeVolume, ReadsFileSystemAndLabelOfImages) {
  TempTree t;
  const std::string ntfs = (t.root() / "ntfs.img").string();
  { std::ofstream(ntfs).close(); }
  fs::resize_file(ntfs, 64ull << 20);
  ASSERT_EQ(RunTool({"mkntfs", "--quick", "--force", "--label", "SHIP01", ntfs}, nullptr), 0);
  const auto info = ProbeVolume(ntfs);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->file_system, "NTFS");
  EXPECT_EQ(info->label, "SHIP01");
  EXPECT_NE(info->serial, 0u);
  ASSERT_EQ(RunTool({"ntfslabel", ntfs, "OTHER"}, nullptr), 0);
  EXPECT_EQ(ProbeVolume(ntfs)->label, "OTHER");

  const std::string raw = (t.root() / "raw.img").string();
  { std::ofstream(raw).close(); }
  fs::resize_file(raw, 1 << 20);
  EXPECT_FALSE(ProbeVolume(raw));
}
