#pragma once
// The station's view of the simulated volumes (platform::Volumes), and the
// disk and volume devices behind them (platform::DiskRequests).

#include "platform/disk_requests.h"
#include "platform/volumes.h"
#include "sim/station/sim_volume_set.h"

namespace sim::station {

class SimVolumes final : public platform::Volumes {
 public:
  explicit SimVolumes(SimVolumeSet& set) : set_(set) {}

  platform::DriveType TypeOf(char letter) override;
  std::optional<std::string> VolumeName(char letter) override;
  std::optional<std::vector<platform::DiskExtent>> Extents(const std::string& volume_name) override;
  std::optional<platform::VolumeInformation> Information(char letter) override;
  bool SetLabel(char letter, const std::string& label) override;
  std::optional<platform::FreeSpace> Free(char letter) override;
  std::string DriveRoot() const override;
  // The simulated system letters volumes itself (the default
  // LetterMayAppear); an unmount counts in the volume set.
  bool UnmountDisk(std::uint32_t disk_number) override;

 private:
  SimVolumeSet& set_;
};

// Opens "\\.\PHYSICALDRIVEn" (a disk of the world) and "\\.\X:" (a mounted
// volume's partition).
class SimDiskRequests final : public platform::DiskRequests {
 public:
  explicit SimDiskRequests(SimVolumeSet& set) : set_(set) {}
  std::unique_ptr<platform::DiskDevice> Open(const platform::DeviceOpenRequest& request) override;
  // Drive 0 is the system disk; another disk is in use while its SimDisk says so.
  std::optional<std::string> InUse(int drive_number) override;

 private:
  SimVolumeSet& set_;
};

}  // namespace sim::station
