#include "linetool/disk/fat32_format.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "linetool/disk/le_bytes.h"

namespace linetool::disk {

namespace {

constexpr std::uint8_t kJump[3] = {0xEB, 0x5A, 0x90};
constexpr char kOemName[] = "MSWIN4.1";
constexpr char kBootLabel[] = "NO NAME    ";
constexpr char kFsType[] = "FAT32   ";
constexpr std::uint32_t kFsInfoLead = 0x41615252;    // "RRaA"
constexpr std::uint32_t kFsInfoStruct = 0x61417272;  // "rrAa"
constexpr std::uint32_t kFsInfoTrail = 0xAA550000;

bool IsPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// 7664 -> "7,664"
std::string Grouped(std::uint64_t v) {
  std::string digits = std::to_string(v);
  for (auto at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

// Restores the unlocked state on every way out of a locked format.
class VolumeLock {
 public:
  explicit VolumeLock(platform::DiskDevice& d) : device_(d), locked_(d.Lock()) {}
  ~VolumeLock() {
    if (locked_) device_.Unlock();
  }
  VolumeLock(const VolumeLock&) = delete;
  VolumeLock& operator=(const VolumeLock&) = delete;
  bool locked() const { return locked_; }
  bool Release() {
    locked_ = false;
    return device_.Unlock();
  }

 private:
  platform::DiskDevice& device_;
  bool locked_;
};

}  // namespace

CFat32Format::CFat32Format(platform::DiskRequests& disks, const platform::Clock& clock)
    : disks_(disks), clock_(clock) {}

CFat32Format::~CFat32Format() = default;

bool CFat32Format::SetTarget(char drive_letter, std::uint32_t sectors_per_cluster) {
  if (sectors_per_cluster > 64 || (sectors_per_cluster != 0 && !IsPowerOfTwo(sectors_per_cluster))) {
    drive_letter_ = kNoDriveLetter;
    requested_spc_ = 0xFFFFFFFF;
    return false;
  }
  drive_letter_ = drive_letter;
  requested_spc_ = sectors_per_cluster;
  return true;
}

void CFat32Format::Reset() {
  boot_sector_ = {};
  fs_info_ = {};
  first_fat_sector_ = {};
  geometry_ = {};
  partition_ = {};
  layout_ = {};
  failure_ = Failure::kNone;
}

bool CFat32Format::Format(std::string_view label) {
  Reset();
  if (drive_letter_ == kNoDriveLetter || requested_spc_ > 64) return Fail(Failure::kNoTarget);
  // The system volume is never formatted.
  if (std::toupper(static_cast<unsigned char>(drive_letter_)) == 'C') return Fail(Failure::kSystemDrive);
  auto volume = disks_.Open(ExclusiveRequest(VolumeDeviceName(drive_letter_)));
  if (!volume) return Fail(Failure::kOpen);
  return WriteSystemArea(*volume, label);
}

bool CFat32Format::FormatDevice(platform::DiskDevice& volume, std::string_view label) {
  Reset();
  if (requested_spc_ > 64) return Fail(Failure::kNoTarget);
  return WriteSystemArea(volume, label);
}

std::string CFat32Format::FailureText() const {
  switch (failure_) {
    case Failure::kNone:
      return {};
    case Failure::kNoTarget:
      return "no volume or cluster size chosen";
    case Failure::kSystemDrive:
      return "drive C is the system's volume";
    case Failure::kOpen:
      return "the volume device could not be opened";
    case Failure::kLock:
      return "the volume could not be locked";
    case Failure::kQuery:
      return "the volume's geometry or partition could not be read";
    case Failure::kSectorSize:
      return Grouped(layout_.bytes_per_sector) +
             "-byte sectors; FAT32 describes sectors of 512, 1,024, 2,048 or 4,096 bytes only";
    case Failure::kSize:
      return Grouped(layout_.total_sectors_64) + " sectors; FAT32 needs 65,536 to 4,294,967,294";
    case Failure::kClusterCount:
      return Grouped(layout_.cluster_count) + " clusters of " + std::to_string(layout_.sectors_per_cluster) +
             " sectors; FAT32 needs 65,525 to 268,435,443";
    case Failure::kWrite:
      return "writing the file system failed";
    case Failure::kFinish:
      return "the partition type could not be set or the volume not dismounted";
  }
  return {};
}

std::uint32_t CFat32Format::FatSizeSectors(std::uint64_t total_sectors, std::uint32_t sectors_per_cluster,
                                           std::uint32_t bytes_per_sector) {
  const std::uint64_t numerator = (total_sectors - kReservedSectors) * 4;
  const std::uint64_t denominator =
      static_cast<std::uint64_t>(sectors_per_cluster) * bytes_per_sector + 2 * 4;
  return static_cast<std::uint32_t>(numerator / denominator + 1);
}

std::uint32_t CFat32Format::DefaultSectorsPerCluster(std::uint64_t partition_bytes,
                                                     std::uint32_t bytes_per_sector) {
  const std::uint64_t mib = partition_bytes / 1048576;
  if (mib <= 512) return 1;
  std::uint32_t kib = 32;
  if (mib <= 8192) {
    kib = 4;
  } else if (mib <= 16384) {
    kib = 8;
  } else if (mib <= 32768) {
    kib = 16;
  }
  return std::max<std::uint32_t>(1, kib * 1024 / bytes_per_sector);
}

std::uint32_t CFat32Format::VolumeId(const platform::LocalTime& t) {
  const auto lo = static_cast<std::uint16_t>(t.day + t.month * 256 + t.millisecond / 10 + t.second * 256);
  const auto hi = static_cast<std::uint16_t>(t.minute + t.hour * 256 + t.year);
  return (static_cast<std::uint32_t>(hi) << 16) | lo;
}

std::uint16_t CFat32Format::DirectoryTime(const platform::LocalTime& t) {
  return static_cast<std::uint16_t>(t.hour * 2048 + t.minute * 32 + t.second / 2);
}

std::uint16_t CFat32Format::DirectoryDate(const platform::LocalTime& t) {
  return static_cast<std::uint16_t>(((t.year - 1980) % 64) * 512 + t.month * 32 + t.day);
}

std::array<char, 11> CFat32Format::PaddedLabel(std::string_view label) {
  std::array<char, 11> out;
  out.fill(' ');
  std::copy_n(label.begin(), std::min<std::size_t>(label.size(), out.size()), out.begin());
  return out;
}

bool CFat32Format::WriteSystemArea(platform::DiskDevice& volume, std::string_view label) {
  const platform::LocalTime now = clock_.LocalNow();
  layout_.volume_id = VolumeId(now);

  VolumeLock lock(volume);
  if (!lock.locked()) return Fail(Failure::kLock);

  const auto geometry = volume.Geometry();
  const auto partition = volume.PartitionInformation();
  if (!geometry || !partition) return Fail(Failure::kQuery);
  geometry_ = *geometry;
  partition_ = *partition;
  const std::uint32_t bps = geometry_.bytes_per_sector;
  // A boot sector needs room for its signature at bytes 510 and 511, and
  // FAT32 describes sectors of 512 to 4,096 bytes only (its 16-bit field
  // would hold 65,536 as 0).
  layout_.bytes_per_sector = bps;
  if (bps < kMinimumSectorBytes || bps > kMaximumSectorBytes || !IsPowerOfTwo(bps)) return Fail(Failure::kSectorSize);
  const std::uint64_t total64 = partition_.length / bps;
  layout_.total_sectors_64 = total64;
  if (total64 < kMinimumSectors || total64 >= 0xFFFFFFFFull) return Fail(Failure::kSize);
  const auto total = static_cast<std::uint32_t>(total64);

  const std::uint32_t spc = requested_spc_ != 0 ? requested_spc_ : DefaultSectorsPerCluster(partition_.length, bps);
  std::uint32_t fat_size = FatSizeSectors(total, spc, bps);
  std::uint64_t clusters = (total - static_cast<std::uint64_t>(fat_size) * kNumberOfFats - kReservedSectors) / spc;
  // The formula leaves out the two reserved FAT entries, so now and then the
  // FAT it gives is one entry short for the last cluster (32 GiB at 16 KiB
  // clusters, for one). Such a FAT grows by sectors until every cluster has
  // its entry; where the formula suffices its result stands.
  while (static_cast<std::uint64_t>(fat_size) * (bps / 4) < clusters + 2) {
    ++fat_size;
    clusters = (total - static_cast<std::uint64_t>(fat_size) * kNumberOfFats - kReservedSectors) / spc;
  }
  // Fewer clusters than FAT32 needs, or more than its table can number, would
  // give a volume that FAT drivers read as another FAT type or refuse.
  layout_.sectors_per_cluster = spc;
  layout_.total_sectors = total;
  layout_.fat_size = fat_size;
  layout_.cluster_count = static_cast<std::uint32_t>(clusters);
  if (clusters < kMinimumClusters || clusters > kMaximumClusters) return Fail(Failure::kClusterCount);

  layout_.first_data_sector = kReservedSectors + kNumberOfFats * fat_size;
  layout_.system_area = layout_.first_data_sector + spc;

  boot_sector_.assign(bps, 0);
  fs_info_.assign(bps, 0);
  first_fat_sector_.assign(bps, 0);

  std::span<std::uint8_t> bs(boot_sector_);
  std::copy(std::begin(kJump), std::end(kJump), bs.begin());
  std::memcpy(&bs[3], kOemName, 8);
  PutLe16(bs, 11, static_cast<std::uint16_t>(bps));
  bs[13] = static_cast<std::uint8_t>(spc);
  PutLe16(bs, 14, kReservedSectors);
  bs[16] = kNumberOfFats;
  bs[21] = 0xF8;
  PutLe16(bs, 24, static_cast<std::uint16_t>(geometry_.sectors_per_track));
  PutLe16(bs, 26, static_cast<std::uint16_t>(geometry_.tracks_per_cylinder));
  PutLe32(bs, 28, partition_.hidden_sectors);
  PutLe32(bs, 32, total);
  PutLe32(bs, 36, fat_size);
  PutLe32(bs, 44, 2);
  PutLe16(bs, 48, 1);
  PutLe16(bs, 50, kBackupBootSector);
  bs[64] = 0x80;
  bs[66] = 0x29;
  PutLe32(bs, 67, layout_.volume_id);
  std::memcpy(&bs[71], kBootLabel, 11);
  std::memcpy(&bs[82], kFsType, 8);
  bs[510] = 0x55;
  bs[511] = 0xAA;
  if (bps > 512) {
    bs[bps - 2] = 0x55;
    bs[bps - 1] = 0xAA;
  }

  std::span<std::uint8_t> fsi(fs_info_);
  PutLe32(fsi, 0, kFsInfoLead);
  PutLe32(fsi, 484, kFsInfoStruct);
  PutLe32(fsi, 488, layout_.cluster_count - 1);
  PutLe32(fsi, 492, 3);
  PutLe32(fsi, 508, kFsInfoTrail);

  std::span<std::uint8_t> fat(first_fat_sector_);
  PutLe32(fat, 0, 0x0FFFFFF8);
  PutLe32(fat, 4, 0x0FFFFFFF);
  PutLe32(fat, 8, 0x0FFFFFFF);

  bool written = true;
  const std::uint64_t sector_bytes = bps;
  // The device clears the system area itself where it can (a large disk's
  // FATs are many megabytes); else zeros are written over it.
  if (!volume.ZeroRange(0, layout_.system_area * sector_bytes)) {
    const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(kZeroChunkSectors) * bps, 0);
    for (std::uint32_t s = 0; written && s < layout_.system_area; s += kZeroChunkSectors) {
      const std::uint32_t n = std::min(kZeroChunkSectors, layout_.system_area - s);
      written = volume.WriteAt(s * sector_bytes, std::span(zeros).first(static_cast<std::size_t>(n) * bps));
      if (written && on_zero_progress) on_zero_progress((s + n) * sector_bytes, layout_.system_area * sector_bytes);
    }
  }
  const auto write_sector = [&](std::uint64_t sector, const std::vector<std::uint8_t>& data) {
    written = written && volume.WriteAt(sector * sector_bytes, data);
  };
  write_sector(0, boot_sector_);
  write_sector(1, fs_info_);
  write_sector(kBackupBootSector, boot_sector_);
  write_sector(kBackupBootSector + 1, fs_info_);
  write_sector(kReservedSectors, first_fat_sector_);
  write_sector(kReservedSectors + static_cast<std::uint64_t>(fat_size), first_fat_sector_);

  std::vector<std::uint8_t> root(std::max<std::size_t>(kRootBlockBytes, bps), 0);
  const auto padded = PaddedLabel(label);
  std::copy(padded.begin(), padded.end(), root.begin());
  root[11] = 0x08;
  PutLe16(root, 22, DirectoryTime(now));
  PutLe16(root, 24, DirectoryDate(now));
  write_sector(layout_.first_data_sector, root);

  const bool type_set = volume.SetPartitionType(kPartitionTypeFat32Lba);
  const bool dismounted = volume.Dismount();
  lock.Release();
  volume.UpdateProperties();
  boot_sector_ = {};
  fs_info_ = {};
  first_fat_sector_ = {};
  if (!written) return Fail(Failure::kWrite);
  if (!type_set || !dismounted) return Fail(Failure::kFinish);
  return true;
}

}  // namespace linetool::disk
