#pragma once
// A disk device over an image file or a block device of the host, seen as one
// volume without a partition table (hidden sectors 0). Used to format a card
// or an image with the station's own formatter.

#include <memory>
#include <string>

#include "platform/disk_requests.h"

namespace platform::linux_host {

class ImageDisk final : public DiskDevice {
 public:
  // Opens `path` for reading and writing. A block device is opened exclusively
  // (it fails while mounted). nullptr with `error` set when it cannot be used.
  static std::unique_ptr<ImageDisk> Open(const std::string& path, std::string& error);
  ~ImageDisk() override;

  std::optional<DriveGeometry> Geometry() override;
  std::optional<PartitionInfo> PartitionInformation() override;
  std::optional<std::vector<PartitionInfo>> DriveLayout() override;
  bool SetPartitionType(std::uint8_t type) override;
  bool UpdateProperties() override;
  bool Lock() override;
  bool Dismount() override;
  bool Unlock() override;
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override;
  bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override;
  bool ZeroRange(std::uint64_t offset, std::uint64_t length) override;

  bool is_block_device() const { return block_device_; }

 private:
  ImageDisk(int fd, bool block_device, std::uint64_t size, std::uint32_t sector_size,
            std::uint32_t heads, std::uint32_t sectors_per_track);

  int fd_;
  bool block_device_;
  std::uint64_t size_;
  std::uint32_t sector_size_;
  std::uint32_t heads_;
  std::uint32_t sectors_per_track_;
};

}  // namespace platform::linux_host
