#pragma once
// Disks and volumes of a Linux host as the station opens them:
// "\\.\PHYSICALDRIVEn" is the whole disk with drive number n (DriveNaming),
// "\\.\X:" the partition device of letter X (LinuxVolumes). Locking a volume
// unmounts it so the station has the device to itself; unlocking mounts it
// again; a dismount flushes it to the medium. Re-reading a disk's properties
// asks the kernel to read its partition table again.

#include "platform/disk_requests.h"
#include "platform/linux/drive_naming.h"
#include "platform/linux/linux_volumes.h"

namespace platform::linux_host {

class LinuxDiskRequests final : public DiskRequests {
 public:
  LinuxDiskRequests(DriveNaming& naming, LinuxVolumes& volumes) : naming_(naming), volumes_(volumes) {}
  std::unique_ptr<DiskDevice> Open(const DeviceOpenRequest& request) override;
  // Drive 0, the disks of the root file system (every disk while they are
  // not known, DriveNaming::System()), and disks that hold mounts
  // outside the station's drive folder, swap or RAID, LVM and device-mapper
  // members (platform/linux/disk_use.h).
  std::optional<std::string> InUse(int drive_number) override;

 private:
  DriveNaming& naming_;
  LinuxVolumes& volumes_;
};

}  // namespace platform::linux_host
