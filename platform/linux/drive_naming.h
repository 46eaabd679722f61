#pragma once
// Drive numbers of the station ("\\.\PHYSICALDRIVEn") for the host's block
// devices: the disk that holds the root file system is drive 0, the other
// whole disks (SCSI, SATA, USB, NVMe, virtual) follow in name order. Loop,
// RAM, device-mapper and optical devices are not disks here.
//
// A number, once given, stays with its disk for the life of the object: a
// disk that goes away leaves a gap, one that appears takes the next number
// (a bridge that restarts may come back as a new disk).
//
// A station whose disks are loop devices pins the numbers instead: a source
// tells which block device (by name, "loop3") each drive number is now, and
// no other device of the host has a number, so none can be touched.

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform::linux_host {

class DriveNaming {
 public:
  // `sysfs_block` is the folder of the block devices (/sys/block), `dev` the
  // device folder (/dev), `system_disk` the name of the disk holding the root
  // file system ("sda"; empty: find it from /proc/self/mountinfo).
  DriveNaming(std::string sysfs_block = "/sys/block", std::string dev = "/dev", std::string system_disk = {});
  // Drive numbers pinned by `source` (number -> block device name of the
  // disks present now); the others are absent.
  using PinnedDisks = std::function<std::map<int, std::string>()>;
  explicit DriveNaming(PinnedDisks source, std::string sysfs_block = "/sys/block", std::string dev = "/dev");

  // The present disks in drive-number order ("sda", "sdb", ...).
  std::vector<std::string> Disks() const;
  // "/dev/sdb" for drive 1; nullopt when there is no such drive.
  std::optional<std::string> DiskDevice(int drive_number) const;
  std::optional<int> DriveNumberOf(const std::string& disk_name) const;
  // The number a disk has, or had before it went away; nullopt for one never
  // numbered (not a disk here, or gone before anything looked).
  std::optional<int> NumberGivenTo(const std::string& disk_name) const;
  // "/dev/sdb1" for partition 1 of drive 1 (as sysfs names it).
  std::optional<std::string> PartitionDevice(int drive_number, int partition) const;
  // The disk and partition number of a partition device ("/dev/sdb1").
  std::optional<std::pair<int, int>> PartitionOf(const std::string& device) const;
  // Start and length in 512-byte units of a partition, from sysfs.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> PartitionExtent(const std::string& device) const;

  const std::string& SysfsBlock() const { return sysfs_; }

 private:
  // The disks present now, in name order, the system disk first.
  std::vector<std::string> Present() const;
  // Every disk numbered so far, by number, after taking in the present ones;
  // `present` receives the present set.
  std::vector<std::string> Numbered(std::vector<std::string>* present = nullptr) const;
  bool IsPresent(int number, std::string& name) const;

  mutable std::mutex mutex_;
  mutable std::vector<std::string> numbered_;
  std::string sysfs_;
  std::string dev_;
  std::string system_disk_;
  PinnedDisks pinned_;
};

// The name of the whole disk below the root file system, from a mountinfo
// text ("8:2" of "/" -> the disk of that partition in `sysfs_block`).
std::string SystemDiskName(const std::string& mountinfo_text, const std::string& sysfs_block);

}  // namespace platform::linux_host
