#include "sim/station/sim_volume_set.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace sim::station {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kTable = 446;
constexpr std::size_t kMiB = 1024 * 1024;

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutLe(std::uint8_t* p, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

std::string Trimmed(const char* p, std::size_t n) {
  std::string s(p, n);
  const auto nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// One sector of a disk, as long as the disk's sectors; sector numbers (LBA)
// count the disk's own sectors.
using Sector = std::vector<std::uint8_t>;

Sector BlankSector(const SimDisk& disk) { return Sector(disk.SectorSize(), 0); }
bool ReadSector(SimDisk& disk, std::uint64_t lba, Sector& s) {
  s.assign(disk.SectorSize(), 0);
  return disk.Read(lba * disk.SectorSize(), s);
}
bool WriteSector(SimDisk& disk, std::uint64_t lba, const Sector& s) { return disk.Write(lba * disk.SectorSize(), s); }

// The used entries of the partition table in a disk's first sector, numbered
// in table order.
std::vector<platform::PartitionInfo> ParseTable(const Sector& mbr) {
  std::vector<platform::PartitionInfo> out;
  const std::uint64_t sector_size = mbr.size();
  if (sector_size < 512) return out;
  if (mbr[510] != 0x55 || mbr[511] != 0xAA) return out;
  std::uint32_t number = 0;
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t* e = &mbr[kTable + 16 * i];
    if (e[4] == 0) continue;
    platform::PartitionInfo p;
    p.boot_indicator = e[0] == 0x80;
    p.type = e[4];
    p.hidden_sectors = Le32(e + 8);
    p.starting_offset = p.hidden_sectors * sector_size;
    p.length = Le32(e + 12) * sector_size;
    p.number = ++number;
    out.push_back(p);
  }
  return out;
}

}  // namespace

SimVolumeSet::SimVolumeSet(StationWorld& world, fs::path drive_root)
    : world_(world), drive_root_(std::move(drive_root)) {
  std::error_code ec;
  fs::create_directories(drive_root_, ec);
}

SimVolumeSet& SimVolumeSet::AttachTo(StationWorld& world, fs::path drive_root) {
  auto set = std::make_unique<SimVolumeSet>(world, std::move(drive_root));
  SimVolumeSet& ref = *set;
  world.AddService(std::move(set));
  return ref;
}

fs::path SimVolumeSet::FolderOf(char letter) const { return drive_root_ / std::string(1, Upper(letter)); }

std::optional<int> SimVolumeSet::DriveNumberOfImage(const fs::path& image) {
  for (const auto& d : world_.Disks()) {
    if (d.image_path == image) return d.drive_number;
  }
  return std::nullopt;
}

bool SimVolumeSet::AwayLocked(const fs::path& image) {
  auto it = away_until_.find(image);
  if (it == away_until_.end()) return false;
  if (!it->second) return true;
  if (world_.GetClock().Now() >= *it->second) {
    away_until_.erase(it);
    return false;
  }
  return true;
}

std::optional<SimDiskInfo> SimVolumeSet::DiskOfLetterLocked(char letter) {
  letter = Upper(letter);
  if (letter == 'C') return world_.DiskByDriveNumber(0);
  auto it = letters_.find(letter);
  if (it == letters_.end()) return std::nullopt;
  for (const auto& d : world_.Disks()) {
    if (d.image_path == it->second.image) return d;
  }
  return std::nullopt;
}

std::optional<int> SimVolumeSet::MountedDisk(char letter) {
  std::lock_guard lock(mutex_);
  const auto disk = DiskOfLetterLocked(letter);
  if (!disk) return std::nullopt;
  if (disk->system_disk) return disk->drive_number;
  if (AwayLocked(disk->image_path)) return std::nullopt;
  auto image = world_.DiskImage(disk->drive_number);
  Sector mbr{};
  if (!image || !ReadSector(*image, 0, mbr) || ParseTable(mbr).empty()) return std::nullopt;
  return disk->drive_number;
}

std::optional<char> SimVolumeSet::LetterOf(int drive_number) {
  if (drive_number == 0) return 'C';
  std::lock_guard lock(mutex_);
  const auto disk = world_.DiskByDriveNumber(drive_number);
  if (!disk) return std::nullopt;
  for (const auto& [l, entry] : letters_) {
    if (entry.image == disk->image_path) return l;
  }
  return std::nullopt;
}

std::optional<std::vector<platform::PartitionInfo>> SimVolumeSet::Layout(int drive_number) {
  auto image = world_.DiskImage(drive_number);
  if (!image) return std::nullopt;
  {
    std::lock_guard lock(mutex_);
    auto it = layout_unreadable_.find(image->ImagePath());
    if (it != layout_unreadable_.end() && it->second) return std::nullopt;
  }
  Sector mbr{};
  if (!ReadSector(*image, 0, mbr)) return std::nullopt;
  return ParseTable(mbr);
}

std::optional<platform::PartitionInfo> SimVolumeSet::FirstPartition(int drive_number) {
  auto image = world_.DiskImage(drive_number);
  Sector mbr{};
  if (!image || !ReadSector(*image, 0, mbr)) return std::nullopt;
  const auto table = ParseTable(mbr);
  if (table.empty()) return std::nullopt;
  return table.front();
}

std::optional<platform::VolumeInformation> SimVolumeSet::Information(char letter) {
  if (Upper(letter) == 'C') return platform::VolumeInformation{"System", 0x5C5C0001, "NTFS"};
  const auto disk = MountedDisk(letter);
  if (!disk) return std::nullopt;
  const auto part = FirstPartition(*disk);
  auto image = world_.DiskImage(*disk);
  Sector boot{};
  if (!part || !image || !ReadSector(*image, part->hidden_sectors, boot)) return std::nullopt;
  if (boot[510] != 0x55 || boot[511] != 0xAA) return std::nullopt;
  platform::VolumeInformation info;
  if (std::memcmp(&boot[3], "NTFS    ", 8) == 0) {
    info.file_system = "NTFS";
    info.serial = Le32(&boot[72]);
    info.label = Trimmed(reinterpret_cast<const char*>(&boot[kSimNtfsLabelOffset]), kSimNtfsLabelSize);
    return info;
  }
  if (std::memcmp(&boot[82], "FAT32   ", 8) == 0) {
    info.file_system = "FAT32";
    info.serial = Le32(&boot[67]);
    const std::uint32_t reserved = boot[14] | (boot[15] << 8);
    const std::uint64_t root = part->hidden_sectors + reserved + 2ull * Le32(&boot[36]);
    Sector dir{};
    // The label lives in the root directory; the boot sector's copy says "NO NAME".
    if (ReadSector(*image, root, dir) && dir[0] != 0 && dir[0] != 0xE5 && dir[11] == 0x08) {
      info.label = Trimmed(reinterpret_cast<const char*>(dir.data()), 11);
    } else {
      info.label = Trimmed(reinterpret_cast<const char*>(&boot[71]), 11);
      if (info.label == "NO NAME") info.label.clear();
    }
    return info;
  }
  return std::nullopt;  // RAW: no file system the system recognises
}

std::uint64_t SimVolumeSet::UsedBytes(char letter, std::uint64_t cluster_bytes) {
  std::uint64_t used = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(FolderOf(letter), ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const auto st = it->symlink_status(ec);
    std::uint64_t size = 0;
    if (fs::is_regular_file(st)) size = it->file_size(ec);
    used += (size + cluster_bytes - 1) / cluster_bytes * cluster_bytes;
    if (fs::is_directory(st)) used += cluster_bytes;
  }
  return used;
}

std::optional<platform::FreeSpace> SimVolumeSet::Free(char letter) {
  const auto info = Information(letter);
  const auto disk = MountedDisk(letter);
  if (!info || !disk) return std::nullopt;
  const auto part = FirstPartition(*disk);
  auto image = world_.DiskImage(*disk);
  Sector boot{};
  if (!part || !image || !ReadSector(*image, part->hidden_sectors, boot)) return std::nullopt;
  platform::FreeSpace f;
  f.bytes_per_sector = boot[11] | (boot[12] << 8);
  f.sectors_per_cluster = boot[13];
  if (f.bytes_per_sector == 0 || f.sectors_per_cluster == 0) return std::nullopt;
  const std::uint64_t cluster = static_cast<std::uint64_t>(f.bytes_per_sector) * f.sectors_per_cluster;
  const std::uint64_t total = part->length / cluster;
  const std::uint64_t used = (UsedBytes(letter, cluster) + cluster - 1) / cluster;
  f.total_clusters = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFF));
  const bool full = Faults(letter).full;
  f.free_clusters = full ? 0 : static_cast<std::uint32_t>(std::min<std::uint64_t>(total - std::min(total, used), 0xFFFFFFFF));
  return f;
}

bool SimVolumeSet::SetLabel(char letter, const std::string& label) {
  if (Faults(letter).label_fails) return false;
  const auto info = Information(letter);
  const auto disk = MountedDisk(letter);
  if (!info || !disk || Upper(letter) == 'C') return false;
  const auto part = FirstPartition(*disk);
  auto image = world_.DiskImage(*disk);
  Sector boot{};
  if (!part || !image || !ReadSector(*image, part->hidden_sectors, boot)) return false;
  if (info->file_system == "NTFS") {
    if (label.size() > kSimNtfsLabelSize) return false;
    std::fill_n(&boot[kSimNtfsLabelOffset], kSimNtfsLabelSize, 0);
    std::copy(label.begin(), label.end(), &boot[kSimNtfsLabelOffset]);
    return WriteSector(*image, part->hidden_sectors, boot);
  }
  if (label.size() > 11) return false;
  const std::uint32_t reserved = boot[14] | (boot[15] << 8);
  const std::uint64_t root = part->hidden_sectors + reserved + 2ull * Le32(&boot[36]);
  Sector dir{};
  if (!ReadSector(*image, root, dir)) return false;
  std::fill_n(dir.begin(), 11, ' ');
  std::transform(label.begin(), label.end(), dir.begin(), [](char c) { return static_cast<std::uint8_t>(Upper(c)); });
  dir[11] = 0x08;
  return WriteSector(*image, root, dir);
}

void SimVolumeSet::Unmounted(int drive_number) {
  const auto disk = world_.DiskByDriveNumber(drive_number);
  if (!disk) return;
  std::lock_guard lock(mutex_);
  ++unmounts_[disk->image_path];
}

std::uint32_t SimVolumeSet::UnmountCount(int drive_number) {
  const auto disk = world_.DiskByDriveNumber(drive_number);
  if (!disk) return 0;
  std::lock_guard lock(mutex_);
  const auto it = unmounts_.find(disk->image_path);
  return it == unmounts_.end() ? 0 : it->second;
}

void SimVolumeSet::Dismounted(int drive_number) {
  auto image = world_.DiskImage(drive_number);
  if (!image || drive_number == 0) return;
  std::lock_guard lock(mutex_);
  if (return_delay_) {
    away_until_[image->ImagePath()] = world_.GetClock().Now() + *return_delay_;
  } else {
    away_until_[image->ImagePath()] = std::nullopt;
  }
}

bool SimVolumeSet::Clean(int drive_number) {
  auto image = world_.DiskImage(drive_number);
  if (!image || drive_number == 0) return false;
  const std::vector<std::uint8_t> zeros(kMiB, 0);
  const std::uint64_t size = image->SizeBytes();
  bool ok = image->Write(0, std::span(zeros).first(std::min<std::size_t>(zeros.size(), size)));
  if (size > zeros.size()) ok = image->Write(size - zeros.size(), zeros) && ok;
  std::optional<char> letter;
  {
    std::lock_guard lock(mutex_);
    for (auto it = letters_.begin(); it != letters_.end(); ++it) {
      if (it->second.image == image->ImagePath()) {
        letter = it->first;
        letters_.erase(it);
        break;
      }
    }
  }
  if (letter) DropFiles(*letter);
  return ok;
}

bool SimVolumeSet::CreatePrimaryPartition(int drive_number) {
  auto image = world_.DiskImage(drive_number);
  if (!image || drive_number == 0) return false;
  Sector mbr{};
  if (!ReadSector(*image, 0, mbr)) return false;
  if (!ParseTable(mbr).empty()) return false;  // the tool only creates on a clean disk here
  // The alignment is counted in 512-byte sectors; a disk of larger sectors
  // starts its partition at the same byte or the next whole sector after it.
  const std::uint32_t sector_size = image->SectorSize();
  std::uint64_t start = 0;
  {
    std::lock_guard lock(mutex_);
    start = (std::uint64_t{alignment_} * kSimSectorSize + sector_size - 1) / sector_size;
  }
  const std::uint64_t total = image->SizeBytes() / sector_size;
  if (total <= start) return false;
  const std::uint64_t count = std::min<std::uint64_t>(total - start, 0xFFFFFFFF);
  PutLe(&mbr[440], 0x5E1D0000u + static_cast<std::uint32_t>(drive_number), 4);  // disk signature
  std::uint8_t* e = &mbr[kTable];
  e[0] = 0x00;
  e[1] = 0xFE;
  e[2] = 0xFF;
  e[3] = 0xFF;
  e[4] = 0x07;
  e[5] = 0xFE;
  e[6] = 0xFF;
  e[7] = 0xFF;
  PutLe(e + 8, start, 4);
  PutLe(e + 12, count, 4);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  // A new partition holds no file system yet.
  const Sector zero = BlankSector(*image);
  return WriteSector(*image, 0, mbr) && WriteSector(*image, start, zero);
}

bool SimVolumeSet::SetActive(int drive_number, int partition) {
  auto image = world_.DiskImage(drive_number);
  Sector mbr{};
  if (!image || partition < 1 || partition > 4 || !ReadSector(*image, 0, mbr) || ParseTable(mbr).empty()) {
    return false;
  }
  for (int i = 0; i < 4; ++i) mbr[kTable + 16 * i] = (i == partition - 1) ? 0x80 : 0x00;
  return WriteSector(*image, 0, mbr);
}

bool SimVolumeSet::AssignLetter(int drive_number, char letter) {
  letter = Upper(letter);
  auto image = world_.DiskImage(drive_number);
  if (!image || letter < 'D' || letter > 'Z' || drive_number == 0) return false;
  {
    std::lock_guard lock(mutex_);
    auto it = letters_.find(letter);
    if (it != letters_.end() && it->second.image != image->ImagePath()) return false;  // taken
    for (auto i = letters_.begin(); i != letters_.end();) {
      i = i->second.image == image->ImagePath() ? letters_.erase(i) : std::next(i);
    }
    letters_[letter] = Letter{image->ImagePath()};
  }
  std::error_code ec;
  fs::create_directories(FolderOf(letter), ec);
  return true;
}

bool SimVolumeSet::FormatNtfs(char letter) {
  const auto disk = MountedDisk(letter);
  if (!disk || *disk == 0) return false;
  const auto part = FirstPartition(*disk);
  auto image = world_.DiskImage(*disk);
  if (!part || !image) return false;
  const platform::LocalTime t = world_.GetClock().LocalNow();
  Sector boot = BlankSector(*image);
  const std::uint32_t sector_size = image->SectorSize();
  if (boot.size() < 512) return false;
  boot[0] = 0xEB;
  boot[1] = 0x52;
  boot[2] = 0x90;
  std::memcpy(&boot[3], "NTFS    ", 8);
  PutLe(&boot[11], sector_size, 2);
  boot[13] = static_cast<std::uint8_t>(std::max<std::uint32_t>(1, 4096 / sector_size));  // 4 KiB clusters
  boot[21] = 0xF8;
  PutLe(&boot[24], 63, 2);
  PutLe(&boot[26], 255, 2);
  PutLe(&boot[28], part->hidden_sectors, 4);
  PutLe(&boot[40], part->length / sector_size - 1, 8);
  PutLe(&boot[48], 786432, 8);  // $MFT cluster
  PutLe(&boot[56], 2, 8);       // $MFTMirr cluster
  boot[64] = 0xF6;
  boot[68] = 0x01;
  PutLe(&boot[72], (static_cast<std::uint64_t>(t.year * 372 + t.month * 31 + t.day) << 32) |
                       static_cast<std::uint32_t>(t.hour * 3600000 + t.minute * 60000 + t.second * 1000 + t.millisecond),
        8);
  boot[510] = 0x55;
  boot[511] = 0xAA;
  if (!WriteSector(*image, part->hidden_sectors, boot)) return false;
  SetPartitionType(letter, 0x07);
  DropFiles(letter);
  return true;
}

bool SimVolumeSet::SetPartitionType(char letter, std::uint8_t type) {
  std::optional<SimDiskInfo> disk;
  {
    std::lock_guard lock(mutex_);
    disk = DiskOfLetterLocked(letter);
  }
  if (!disk || disk->system_disk) return false;
  auto image = world_.DiskImage(disk->drive_number);
  Sector mbr{};
  if (!image || !ReadSector(*image, 0, mbr) || ParseTable(mbr).empty()) return false;
  mbr[kTable + 4] = type;
  return WriteSector(*image, 0, mbr);
}

void SimVolumeSet::DropFiles(char letter) {
  std::error_code ec;
  const fs::path folder = FolderOf(letter);
  fs::remove_all(folder, ec);
  fs::create_directories(folder, ec);
}

void SimVolumeSet::SetAlignment(std::uint32_t sectors) {
  std::lock_guard lock(mutex_);
  alignment_ = sectors;
}

void SimVolumeSet::SetReturnDelay(std::optional<std::chrono::milliseconds> delay) {
  std::lock_guard lock(mutex_);
  return_delay_ = delay;
}

void SimVolumeSet::SetLayoutUnreadable(int drive_number, bool unreadable) {
  auto image = world_.DiskImage(drive_number);
  if (!image) return;
  std::lock_guard lock(mutex_);
  layout_unreadable_[image->ImagePath()] = unreadable;
}

VolumeFaults SimVolumeSet::Faults(char letter) {
  std::lock_guard lock(mutex_);
  auto it = faults_.find(Upper(letter));
  return it == faults_.end() ? VolumeFaults{} : it->second;
}

void SimVolumeSet::SetFaults(char letter, const VolumeFaults& faults) {
  std::lock_guard lock(mutex_);
  faults_[Upper(letter)] = faults;
  writes_[Upper(letter)] = 0;
}

bool SimVolumeSet::WriteGoesThrough(char letter) {
  std::optional<SimDiskInfo> pulled;
  {
    std::lock_guard lock(mutex_);
    letter = Upper(letter);
    auto it = faults_.find(letter);
    if (it == faults_.end() || !it->second.pulled_at_write) return true;
    if (++writes_[letter] != *it->second.pulled_at_write) return true;
    pulled = DiskOfLetterLocked(letter);
  }
  if (pulled && pulled->device_index >= 0) world_.Unplug(static_cast<std::size_t>(pulled->device_index));
  return false;
}

}  // namespace sim::station
