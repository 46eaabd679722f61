#pragma once
// A simulated disk: a sparse image file on the host, its size, its sector
// size (512 bytes, or 4,096 for an advanced-format 4Kn disk) and the serial
// number its IDENTIFY data carries. A 2 TB disk costs
// nothing until sectors are written, and zeros written where nothing was
// written before stay holes: a formatter clearing a 2 TB disk's FATs costs
// no host disk space and no host I/O.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/device_io.h"

namespace sim::station {

inline constexpr std::uint32_t kSimSectorSize = 512;
inline constexpr std::uint32_t kSim4KnSectorSize = 4096;
// The largest simulated disk: its sparse image must fit the host's file size
// limit (16 TiB less a block on ext4).
inline constexpr std::uint64_t kMaxSimDiskBytes = (16ULL << 40) - (1ULL << 20);

class SimDisk {
 public:
  // Creates (or reuses, resizing) the image file at `image`. `size_bytes` is
  // rounded down to whole sectors; 0 means a bridge with no medium.
  // `sector_size` is kSimSectorSize or kSim4KnSectorSize.
  SimDisk(std::filesystem::path image, std::uint64_t size_bytes, std::string ata_serial,
          std::uint32_t sector_size = kSimSectorSize);

  const std::filesystem::path& ImagePath() const { return image_; }
  std::uint64_t SizeBytes() const { return size_; }
  std::uint32_t SectorSize() const { return sector_size_; }
  const std::string& AtaSerial() const { return ata_serial_; }
  bool HasMedium() const { return size_ > 0; }

  // Why the simulated host uses the disk (a mount, swap, a RAID member...);
  // empty while it does not.
  std::string InUse() const;
  void SetInUse(std::string why);

  // Geometry as a disk driver reports it: 255 heads, 63 sectors per track.
  platform::DriveGeometry Geometry() const;

  // Whole-sector access inside the disk; false when out of range or the
  // image cannot be read or written. Thread-safe.
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out);
  bool Write(std::uint64_t offset, std::span<const std::uint8_t> in);
  // Hands what the image's stream still holds to the host file; false when the
  // image cannot be written. Writes are passed on as they are made, so this
  // only reports whether the image is still sound. Thread-safe.
  bool Flush();

  // The 512-byte IDENTIFY DEVICE data: serial number (words 10-19), model
  // (words 27-46), the count of logical sectors (words 60-61, 100-103) and,
  // for sectors other than 512 bytes, their size (words 106, 117-118).
  void FillIdentify(std::span<std::uint8_t> out) const;

 private:
  bool InRange(std::uint64_t offset, std::size_t length) const;
  bool WriteLocked(std::uint64_t offset, std::span<const std::uint8_t> in);

  // Areas of this size are tracked as written or still holes.
  static constexpr std::uint64_t kAreaSize = 1024 * 1024;

  std::filesystem::path image_;
  std::uint32_t sector_size_;
  std::uint64_t size_;
  std::string ata_serial_;
  mutable std::mutex mutex_;
  std::string in_use_;
  std::fstream file_;
  std::vector<bool> written_;  // one flag per area; all set for a reused image
};

}  // namespace sim::station
