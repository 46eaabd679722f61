#pragma once
// Formatting the single partition of a bridge disk: FAT32 with the station's
// own formatter, NTFS with the system's format tool; then the label, and a
// read-back of file system and label that decides the result. Two attempts.

#include <chrono>
#include <cstdint>
#include <string>

#include "linetool/disk/disk_queries.h"
#include "linetool/disk/disk_services.h"
#include "linetool/disk/fat32_format.h"
#include "linetool/profile/profile_settings.h"

namespace linetool::disk {

class FormatStep {
 public:
  static constexpr int kAttempts = 2;
  static constexpr std::chrono::milliseconds kFormatTimeout{12'000'000};
  static constexpr std::chrono::milliseconds kLabelTimeout{1'000'000};
  static constexpr std::chrono::milliseconds kProbePause{1000};

  // "NTFS" or "FAT32": disks of 8 TiB or more are always NTFS.
  static const char* FileSystemFor(SizeClass size_class, std::uint8_t format_drive_type);
  // Sectors per cluster the station hands the FAT32 formatter, by disk size:
  // 16, 32 or 64 sectors of 512 bytes (8, 16 or 32 KiB). A disk of larger
  // sectors gets clusters of the same bytes, at least one sector.
  static std::uint32_t FatSectorsPerCluster(std::uint32_t disk_mib, std::uint32_t sector_size = 512);
  // " E:/Q /FS:NTFS /y"
  static std::string FormatParameters(char letter, const std::string& file_system);
  // "E: LABEL"
  static std::string LabelParameters(char letter, const std::string& label);

  // Formats the volume of `port` (its letter must be set) with the label and
  // file-system choice of `settings`. Never formats drive C.
  bool Run(const DiskServices& s, CFat32Format& formatter, const profile::ProfileSettings& settings,
           const PortDisk& port);

  // The file system chosen in the last run ("" before one was chosen).
  const std::string& FileSystem() const { return file_system_; }
  int Attempts() const { return attempts_; }
  // Why the last attempt of the last run failed ("FAT32: 7,664 clusters of 16
  // sectors; ...", "NTFS: the format tool failed: ..."), or empty.
  const std::string& Reason() const { return reason_; }

 private:
  bool Attempt(const DiskServices& s, CFat32Format& formatter, const std::string& label, SizeClass size_class,
               std::uint32_t disk_mib, std::uint8_t format_drive_type, const PortDisk& port);

  std::string file_system_;
  std::string reason_;
  int attempts_ = 0;
};

}  // namespace linetool::disk
