#pragma once
// The volumes of bridge disks on a Linux host. A drive letter names one
// partition device; the station assigns letters when it partitions a disk
// (the partition tool's "assign letter") and mounts the volume at
// <drive root>/<letter>, a folder the station owns. The mount point exists
// only while the volume is mounted, so nothing is ever written into an
// unmounted letter's folder. "C" is the host's root file system.
//
// A volume is mounted when the station uses its files (free space, a
// property update of the volume, the format tool), not when a letter is
// only looked at: a volume taken off at the end of a job stays off.
//
// File system, label and serial come from libblkid, free space from statvfs.
// Mounting needs root.

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/drive_naming.h"
#include "platform/volumes.h"

namespace platform::linux_host {

// One line of /proc/self/mountinfo that matters here.
struct MountEntry {
  std::string mount_point;
  std::string source;
  std::string fs_type;
  std::string device_number;  // "8:17", the mounted device's major and minor number
};

// The entries of a mountinfo text, mount points and sources unescaped.
std::vector<MountEntry> ParseMountInfo(const std::string& text);
// A field of the kernel's mount or swap tables with its escapes decoded.
std::string UnescapeMountText(const std::string& field);

// What libblkid reads from a device or image: nullopt when it finds no file
// system. FAT32 is "FAT32", NTFS "NTFS", others by their blkid type in upper case.
std::optional<VolumeInformation> ProbeVolume(const std::string& device);

// The whole disk a partition device names, by the kernel's naming rules:
// "/dev/sdb1" -> "sdb", "/dev/nvme0n1p2" -> "nvme0n1", "/dev/loop3p1" ->
// "loop3"; empty for a name without a partition number. By the name alone a
// disk such as "loop3" reads as partition 3 of "loop": the caller takes the
// result only when it names a disk it knows.
std::string DiskNameOfPartition(const std::string& device);

// The processes below `proc_root` (/proc) that hold `device` open.
std::vector<int> ProcessesHolding(const std::string& device, const std::string& proc_root = "/proc");

// True when a /proc/filesystems text lists `type` ("vfat").
bool KernelHasFileSystem(const std::string& filesystems_text, const std::string& type);
// "vfat" when the kernel's FAT driver is loaded now, else "fusefat". Before
// the first FAT mount that is only a guess: /proc/filesystems lists vfat
// once its module is loaded, and mount(2) loads it by itself.
std::string FatMountDriver();

// Mounts a FAT volume: the kernel's vfat first, and the FUSE driver (fusefat,
// read-write) only where the kernel has no vfat at all (ENODEV). `kernel`
// mounts a device (mount(2): 0 or an errno), `tool` runs a program (its exit
// code). NTFS always goes through ntfs-3g.
using KernelMount = std::function<int(const std::string& device, const std::string& point, const std::string& type)>;
using ToolRun = std::function<int(const std::vector<std::string>& argv)>;
bool MountFatVolume(const std::string& device, const std::string& point, const KernelMount& kernel,
                    const ToolRun& tool);

class LinuxVolumes final : public Volumes {
 public:
  LinuxVolumes(std::string drive_root, DriveNaming& naming, std::string mountinfo = "/proc/self/mountinfo");

  DriveType TypeOf(char letter) override;
  std::optional<std::string> VolumeName(char letter) override;
  std::optional<std::vector<DiskExtent>> Extents(const std::string& volume_name) override;
  std::optional<VolumeInformation> Information(char letter) override;
  bool SetLabel(char letter, const std::string& label) override;
  std::optional<FreeSpace> Free(char letter) override;
  std::string DriveRoot() const override { return drive_root_; }
  // BLKFLSBUF on the letter's device, or where that is refused, fdatasync
  // and POSIX_FADV_DONTNEED.
  bool DropDeviceCache(char letter) override;
  // Only the station letters volumes here: a disk none of whose partitions
  // holds a letter shows none, however long one waits.
  bool LetterMayAppear(std::uint32_t disk_number) override;
  // Syncs, then unmounts every letter whose partition is on the disk, found
  // by the disk's name also when the disk has gone.
  bool UnmountDisk(std::uint32_t disk_number) override;

  // The letter's partition device is `device` from now on.
  void Assign(char letter, const std::string& device);
  void Unassign(char letter);
  std::optional<std::string> DeviceOf(char letter);
  std::optional<char> LetterOfDevice(const std::string& device);
  std::string MountPoint(char letter) const;
  // Mounts the letter's volume at its mount point when it holds a file system
  // and is not mounted yet; true when it is mounted afterwards.
  bool EnsureMounted(char letter);
  // Unmounts it and removes the mount point; true when it is not mounted.
  // A FUSE volume's driver lets go of its device after the unmount has
  // returned: the unmount waits for that (10 s at most), so nothing it still
  // writes lands on the device after the station has moved on.
  bool Unmount(char letter);
  bool Mounted(char letter);
  // The letters whose partitions lie on drive `disk_number`, present or gone.
  std::vector<char> LettersOfDisk(std::uint32_t disk_number);

 private:
  std::optional<MountEntry> MountAt(const std::string& mount_point);

  std::string drive_root_;
  DriveNaming& naming_;
  std::string mountinfo_;
  std::mutex mutex_;
  std::map<char, std::string> devices_;
};

}  // namespace platform::linux_host
