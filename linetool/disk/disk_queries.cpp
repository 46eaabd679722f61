#include "linetool/disk/disk_queries.h"

namespace linetool::disk {

bool LetterTaken(platform::Volumes& volumes, char letter) {
  switch (volumes.TypeOf(letter)) {
    case platform::DriveType::kRemovable:
    case platform::DriveType::kFixed:
    case platform::DriveType::kRemote:
    case platform::DriveType::kCdRom:
    case platform::DriveType::kRamDisk:
      return true;
    case platform::DriveType::kUnknown:
    case platform::DriveType::kNoRootDir:
      break;
  }
  return false;
}

char FreeDriveLetter(platform::Volumes& volumes) {
  // Every letter is asked, as the system's drive list is walked whole.
  bool taken[26] = {};
  for (char l = 'A'; l <= 'Z'; ++l) taken[l - 'A'] = LetterTaken(volumes, l);
  for (char l = 'E'; l <= 'Z'; ++l) {
    if (!taken[l - 'A']) return l;
  }
  return kNoDriveLetter;
}

char DriveLetterOfDisk(const DiskServices& s, int drive_number) {
  for (int attempt = 0; attempt < kLetterLookupTries; ++attempt) {
    if (attempt > 0) {
      // Where only the station gives letters, none is coming for this disk.
      if (!s.volumes.LetterMayAppear(static_cast<std::uint32_t>(drive_number))) return kNoDriveLetter;
      if (!s.clock.WaitFor(kLetterLookupPause, s.stop)) return kNoDriveLetter;
    }
    for (char l = 'C'; l <= 'Z'; ++l) {
      const auto name = s.volumes.VolumeName(l);
      if (!name) continue;
      const auto extents = s.volumes.Extents(*name);
      if (extents && !extents->empty() && extents->front().disk_number == static_cast<std::uint32_t>(drive_number)) {
        return l;
      }
    }
  }
  return kNoDriveLetter;
}

std::uint32_t DiskSizeMiB(platform::DiskRequests& disks, int drive_number) {
  auto disk = disks.Open(QueryRequest(PhysicalDriveName(drive_number)));
  if (!disk) return kUnknownMiB;
  const auto g = disk->Geometry();
  if (!g) return kUnknownMiB;
  return static_cast<std::uint32_t>(g->disk_size / 1048576);
}

SizeClass SizeClassOf(std::uint32_t size_mib) {
  if (size_mib == kUnknownMiB) return SizeClass::kUnknown;
  return size_mib < kLargeDiskMiB ? SizeClass::kSmall : SizeClass::kLarge;
}

std::optional<std::uint32_t> PartitionNumber(platform::DiskRequests& disks, int drive_number) {
  auto disk = disks.Open(QueryRequest(PhysicalDriveName(drive_number)));
  if (!disk) return std::nullopt;
  const auto layout = disk->DriveLayout();
  if (!layout) return std::nullopt;
  std::optional<std::uint32_t> number;
  for (const auto& p : *layout) {
    if (p.number != 0) number = p.number;
  }
  return number;
}

}  // namespace linetool::disk
