#pragma once
// Disks and volumes of a Linux host as the station opens them:
// "\\.\PHYSICALDRIVEn" is the whole disk with drive number n (DriveNaming),
// "\\.\X:" the partition device of letter X (LinuxVolumes). Locking a volume
// unmounts it so the station has the device to itself; unlocking mounts it
// again; a dismount flushes it to the medium. Re-reading a disk's properties
// asks the kernel to read its partition table again.

#include <chrono>

#include "platform/clock.h"
#include "platform/disk_requests.h"
#include "platform/linux/drive_naming.h"
#include "platform/linux/linux_volumes.h"

namespace platform::linux_host {

class LinuxDiskRequests final : public DiskRequests {
 public:
  static constexpr std::chrono::milliseconds kHoldLimit{10'000};
  // How long a hold waits, after a new table, for udev to make the new
  // partitions' nodes usable (DiskHold::AwaitNewPartitions).
  static constexpr std::chrono::milliseconds kPartitionNodeLimit{10'000};

  // Waits for a hold on `clock`.
  LinuxDiskRequests(DriveNaming& naming, LinuxVolumes& volumes, Clock& clock)
      : naming_(naming), volumes_(volumes), clock_(clock) {}
  std::unique_ptr<DiskDevice> Open(const DeviceOpenRequest& request) override;
  // flock(LOCK_EX) on the whole disk's node, opened read-only (so that its
  // close makes udev re-read nothing): udev neither probes a disk another
  // process holds so nor re-reads its table after a write. A probe of udev's
  // own holds the disk shared for a moment: the hold waits kHoldLimit of the
  // clock at most.
  std::unique_ptr<DiskHold> Hold(int drive_number) override;
  // Drive 0, the disks of the root file system (every disk while they are
  // not known, DriveNaming::System()), and disks that hold mounts
  // outside the station's drive folder, swap or RAID, LVM and device-mapper
  // members (platform/linux/disk_use.h).
  std::optional<std::string> InUse(int drive_number) override;

 private:
  DriveNaming& naming_;
  LinuxVolumes& volumes_;
  Clock& clock_;
};

}  // namespace platform::linux_host
