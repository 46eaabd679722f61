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
// Drive 0 is left to nobody when the root file system's disk is not known
// (the root's source resolves to no disk), and a disk on USB is never drive 0.
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

// The whole disks below the root file system: the disk of the partition its
// mount source names (a device node, links such as /dev/disk/by-uuid/...
// resolved, or its major:minor), every member of a btrfs
// (/sys/fs/btrfs/<uuid>/devices/), the disks below the slaves of a
// device-mapper, LVM or RAID device. `unknown` says why they could not be
// found (an overlay or ZFS root, a source that names no block device); the
// host's system disk is then not known and every disk may be it.
struct SystemDisks {
  std::vector<std::string> disks;  // the disk the source names first
  std::string unknown;
};
SystemDisks FindSystemDisks(const std::string& mountinfo_text, const std::string& sysfs_block,
                            const std::string& dev = "/dev");

class DriveNaming {
 public:
  // `sysfs_block` is the folder of the block devices (/sys/block), `dev` the
  // device folder (/dev), `system_disk` the name of the disk holding the root
  // file system ("sda"; empty: find it from /proc/self/mountinfo).
  DriveNaming(std::string sysfs_block = "/sys/block", std::string dev = "/dev", std::string system_disk = {});
  // The same with the root file system's disks as found (FindSystemDisks).
  DriveNaming(std::string sysfs_block, std::string dev, SystemDisks system);
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
  // The disks of the host's root file system, as found when the object was
  // made. Pinned numbers reach only the station's own loop devices, which
  // are never the root's: there the list is empty and known.
  const SystemDisks& System() const { return system_; }

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
  std::string system_disk_;  // drive 0; empty: nobody's
  SystemDisks system_;
  PinnedDisks pinned_;
};


}  // namespace platform::linux_host
