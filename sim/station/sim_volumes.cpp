#include "sim/station/sim_volumes.h"

#include <cctype>
#include <cstdio>

namespace sim::station {

namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

constexpr char kVolumePrefix[] = "\\\\?\\Volume{5e1d0000-0000-0000-0000-";

std::optional<int> DriveNumberAfter(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size()) return std::nullopt;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != std::toupper(static_cast<unsigned char>(prefix[i]))) {
      return std::nullopt;
    }
  }
  int n = 0;
  std::size_t i = prefix.size();
  for (; i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])); ++i) n = n * 10 + (name[i] - '0');
  if (i == prefix.size() || i - prefix.size() > 12) return std::nullopt;
  return n;
}

// A disk, or the partition of a volume, of the simulated world.
class SimDiskDevice final : public platform::DiskDevice {
 public:
  SimDiskDevice(SimVolumeSet& set, std::shared_ptr<SimDisk> disk, int drive_number,
                std::optional<platform::PartitionInfo> partition, char letter)
      : set_(set), disk_(std::move(disk)), drive_number_(drive_number), partition_(partition), letter_(letter) {}

  std::optional<platform::DriveGeometry> Geometry() override {
    if (!Present()) return std::nullopt;
    return disk_->Geometry();
  }
  std::optional<platform::PartitionInfo> PartitionInformation() override {
    if (!Present()) return std::nullopt;
    if (partition_) return partition_;
    platform::PartitionInfo whole;
    whole.length = disk_->SizeBytes();
    return whole;
  }
  std::optional<std::vector<platform::PartitionInfo>> DriveLayout() override {
    if (!Present()) return std::nullopt;
    return set_.Layout(drive_number_);
  }
  bool SetPartitionType(std::uint8_t type) override {
    return Present() && partition_ && set_.SetPartitionType(letter_, type);
  }
  bool UpdateProperties() override {
    if (!Present()) return false;
    if (partition_) {
      const auto p = set_.FirstPartition(drive_number_);
      if (p) partition_ = p;
    }
    return true;
  }
  bool Lock() override { return Present(); }
  // A volume's file system is mounted again at its next use; a dismount
  // through the disk makes the system take the volume off and find it again,
  // which takes the return delay.
  bool Dismount() override {
    if (!Present()) return false;
    if (!partition_) set_.Dismounted(drive_number_);
    return true;
  }
  bool Unlock() override { return Present(); }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override {
    if (!Present() || !Inside(offset, data.size())) return false;
    return disk_->Read(Base() + offset, data);
  }
  bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (!Present() || !Inside(offset, data.size())) return false;
    return disk_->Write(Base() + offset, data);
  }

 private:
  // The disk is still on its port under the same number.
  bool Present() { return set_.World().DiskImage(drive_number_) == disk_; }
  std::uint64_t Base() const { return partition_ ? partition_->starting_offset : 0; }
  bool Inside(std::uint64_t offset, std::size_t n) const {
    const std::uint64_t length = partition_ ? partition_->length : disk_->SizeBytes();
    return offset <= length && n <= length - offset;
  }

  SimVolumeSet& set_;
  std::shared_ptr<SimDisk> disk_;
  int drive_number_;
  std::optional<platform::PartitionInfo> partition_;
  char letter_;
};

}  // namespace

platform::DriveType SimVolumes::TypeOf(char letter) {
  return set_.MountedDisk(letter) ? platform::DriveType::kFixed : platform::DriveType::kNoRootDir;
}

std::optional<std::string> SimVolumes::VolumeName(char letter) {
  const auto disk = set_.MountedDisk(letter);
  if (!disk) return std::nullopt;
  char tail[24];
  std::snprintf(tail, sizeof tail, "%012d}\\", *disk);
  return std::string(kVolumePrefix) + tail;
}

std::optional<std::vector<platform::DiskExtent>> SimVolumes::Extents(const std::string& volume_name) {
  const auto disk = DriveNumberAfter(volume_name, kVolumePrefix);
  if (!disk) return std::nullopt;
  if (*disk == 0) {
    const auto info = set_.World().DiskByDriveNumber(0);
    if (!info) return std::nullopt;
    return std::vector<platform::DiskExtent>{{0, 1048576, info->size_bytes - 1048576}};
  }
  const auto letter = set_.LetterOf(*disk);
  const auto part = set_.FirstPartition(*disk);
  if (!letter || !part || !set_.MountedDisk(*letter)) return std::nullopt;
  return std::vector<platform::DiskExtent>{
      {static_cast<std::uint32_t>(*disk), part->starting_offset, part->length}};
}

std::optional<platform::VolumeInformation> SimVolumes::Information(char letter) {
  return set_.Information(letter);
}

bool SimVolumes::SetLabel(char letter, const std::string& label) { return set_.SetLabel(letter, label); }

std::optional<platform::FreeSpace> SimVolumes::Free(char letter) { return set_.Free(letter); }

std::string SimVolumes::DriveRoot() const { return set_.DriveRoot().string(); }

bool SimVolumes::UnmountDisk(std::uint32_t disk_number) {
  if (disk_number != 0) set_.Unmounted(static_cast<int>(disk_number));
  return disk_number != 0;  // the system's own volume is never taken off
}

std::optional<std::string> SimDiskRequests::InUse(int drive_number) {
  if (drive_number == 0) return "drive 0 is the system disk";
  const auto disk = set_.World().DiskImage(drive_number);
  if (!disk || disk->InUse().empty()) return std::nullopt;
  return disk->InUse();
}

std::unique_ptr<platform::DiskDevice> SimDiskRequests::Open(const platform::DeviceOpenRequest& request) {
  const std::string& name = request.name;
  if (const auto n = DriveNumberAfter(name, "\\\\.\\PHYSICALDRIVE")) {
    auto disk = set_.World().DiskImage(*n);
    if (!disk || !disk->HasMedium()) return nullptr;
    return std::make_unique<SimDiskDevice>(set_, std::move(disk), *n, std::nullopt, 0);
  }
  if (name.size() == 6 && name.compare(0, 4, "\\\\.\\") == 0 && name[5] == ':') {
    const char letter = Upper(name[4]);
    const auto n = set_.MountedDisk(letter);
    if (!n || *n == 0) return nullptr;
    auto disk = set_.World().DiskImage(*n);
    const auto part = set_.FirstPartition(*n);
    if (!disk || !part) return nullptr;
    return std::make_unique<SimDiskDevice>(set_, std::move(disk), *n, part, letter);
  }
  return nullptr;
}

}  // namespace sim::station
