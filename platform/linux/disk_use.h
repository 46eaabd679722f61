#pragma once
// Whether the host itself uses a whole disk, so that the station must not
// partition it: the disk holds the root file system, one of its devices (the
// disk or a partition) carries a file system mounted anywhere but below the
// station's own mount folder, is active swap, or is held by another block
// device (a software RAID member, an LVM physical volume, a device-mapper
// target such as an encrypted volume).
//
// The decision reads the sysfs block tree (holders/ of the disk and of its
// partitions, dm/uuid and dm/name of a device-mapper holder) and the texts of
// /proc/self/mountinfo and /proc/swaps, so tests run it on fixture trees.

#include <optional>
#include <string>

#include "platform/linux/drive_naming.h"

namespace platform::linux_host {

struct DiskUseSources {
  std::string sysfs_block = "/sys/block";
  std::string mountinfo_text;  // the text of /proc/self/mountinfo
  std::string swaps_text;      // the text of /proc/swaps
  // File systems mounted in this folder or below it are the station's own.
  std::string station_mount_root;
  // The disks of the root file system; when not given, found from the
  // mount table, the sysfs tree above `sysfs_block` and /dev. While they are
  // not known every disk is refused: any of them may be the host's own.
  std::optional<SystemDisks> system;
};

// Why the disk `disk_name` ("sdb") is in use, as a sentence for the log
// ("sdb1 is mounted at /home"), or nullopt when nothing on the host uses it.
std::optional<std::string> DiskInUse(const std::string& disk_name, const DiskUseSources& sources);

// The same with the host's own tables, read now, and the system disks a
// DriveNaming found (DriveNaming::System()).
std::optional<std::string> HostDiskInUse(const std::string& disk_name, const std::string& sysfs_block,
                                         const std::string& station_mount_root, const SystemDisks& system);

}  // namespace platform::linux_host
