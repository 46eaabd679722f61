#pragma once
// CFat32Format: the station's own FAT32 formatter. It writes the reserved area
// (boot sector, FSInfo and their backups), the first sector of both file
// allocation tables and a volume-label entry in the root directory of an
// existing partition, then marks the partition as FAT32 (type 0x0C). Only the
// system area is written, so a format takes the same time whatever the size
// of the data area.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "linetool/disk/disk_services.h"
#include "platform/clock.h"
#include "platform/disk_requests.h"

namespace linetool::disk {

class CFat32Format {
 public:
  static constexpr std::uint32_t kReservedSectors = 32;
  static constexpr std::uint32_t kNumberOfFats = 2;
  static constexpr std::uint32_t kBackupBootSector = 6;
  static constexpr std::uint8_t kPartitionTypeFat32Lba = 0x0C;
  static constexpr std::uint32_t kMinimumSectors = 65536;
  static constexpr std::uint32_t kZeroChunkSectors = 128;
  static constexpr std::uint32_t kRootBlockBytes = 4096;
  // The sector sizes FAT32 describes: 512, 1,024, 2,048 and 4,096 bytes.
  static constexpr std::uint32_t kMinimumSectorBytes = 512;
  static constexpr std::uint32_t kMaximumSectorBytes = 4096;
  // Cluster counts that every FAT driver reads as FAT32.
  static constexpr std::uint64_t kMinimumClusters = 65525;
  static constexpr std::uint64_t kMaximumClusters = 0x0FFFFFF5 - 2;

  // What one format computed; kept after the run for the caller to show.
  struct Layout {
    std::uint32_t bytes_per_sector = 0;
    std::uint32_t sectors_per_cluster = 0;
    std::uint32_t total_sectors = 0;
    std::uint64_t total_sectors_64 = 0;
    std::uint32_t fat_size = 0;  // sectors per FAT
    std::uint32_t cluster_count = 0;
    std::uint32_t system_area = 0;  // reserved area, both FATs and the root cluster
    std::uint32_t first_data_sector = 0;
    std::uint32_t volume_id = 0;
  };

  // Why the last format failed.
  enum class Failure {
    kNone,
    kNoTarget,      // no valid letter or cluster size
    kSystemDrive,   // drive C
    kOpen,          // the volume device could not be opened
    kLock,          // the volume could not be locked
    kQuery,         // geometry or partition information missing
    kSectorSize,    // not 512, 1,024, 2,048 or 4,096 bytes per sector
    kSize,          // below 65,536 sectors or not below 0xFFFFFFFF
    kClusterCount,  // too few or too many clusters for FAT32
    kWrite,         // a sector write failed
    kFinish,        // partition type or dismount failed
  };

  CFat32Format(platform::DiskRequests& disks, const platform::Clock& clock);
  virtual ~CFat32Format();
  CFat32Format(const CFat32Format&) = delete;
  CFat32Format& operator=(const CFat32Format&) = delete;

  // Called while zeros are written over the system area, on a device that
  // cannot clear it itself (a large volume's FATs are many megabytes): the
  // bytes written so far and in all.
  std::function<void(std::uint64_t done, std::uint64_t total)> on_zero_progress;

  // Chooses the volume and the sectors per cluster (0 = by partition size).
  // A cluster size above 64 sectors, or one that is not a power of two, is
  // refused: the letter becomes invalid and the result is false.
  bool SetTarget(char drive_letter, std::uint32_t sectors_per_cluster);

  // Formats the volume "\\.\X:" of the target letter with `label` (at most
  // 11 characters) in the root directory. Never formats drive C.
  bool Format(std::string_view label);

  // The same on a device the caller opened for reading and writing: locks it,
  // writes the file system, sets the partition type, dismounts and unlocks.
  bool FormatDevice(platform::DiskDevice& volume, std::string_view label);

  char DriveLetter() const { return drive_letter_; }
  std::uint32_t RequestedSectorsPerCluster() const { return requested_spc_; }
  const Layout& LastLayout() const { return layout_; }
  Failure LastFailure() const { return failure_; }
  // Why the last format failed, with the figures that decided it ("7,664
  // clusters of 16 sectors; FAT32 needs 65,525 to 268,435,443"), or empty.
  std::string FailureText() const;

  // Sectors per FAT for a volume of `total_sectors`.
  static std::uint32_t FatSizeSectors(std::uint64_t total_sectors, std::uint32_t sectors_per_cluster,
                                      std::uint32_t bytes_per_sector);
  // Sectors per cluster by partition length when none was requested.
  static std::uint32_t DefaultSectorsPerCluster(std::uint64_t partition_bytes,
                                                std::uint32_t bytes_per_sector);
  // The 32-bit volume identifier made from the local time.
  static std::uint32_t VolumeId(const platform::LocalTime& t);
  // Directory-entry time and date words.
  static std::uint16_t DirectoryTime(const platform::LocalTime& t);
  static std::uint16_t DirectoryDate(const platform::LocalTime& t);
  // The label padded with blanks (or cut) to 11 bytes.
  static std::array<char, 11> PaddedLabel(std::string_view label);

 private:
  void Reset();
  bool WriteSystemArea(platform::DiskDevice& volume, std::string_view label);
  bool Fail(Failure why) {
    failure_ = why;
    return false;
  }

  platform::DiskRequests& disks_;
  const platform::Clock& clock_;
  char drive_letter_ = kNoDriveLetter;
  std::uint32_t requested_spc_ = 0;
  platform::DriveGeometry geometry_{};
  platform::PartitionInfo partition_{};
  Layout layout_{};
  Failure failure_ = Failure::kNone;
  std::vector<std::uint8_t> boot_sector_;
  std::vector<std::uint8_t> fs_info_;
  std::vector<std::uint8_t> first_fat_sector_;
};

}  // namespace linetool::disk
