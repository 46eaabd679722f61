#include "platform/linux/image_disk.h"

#include "platform/linux/fd_io.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform::linux_host {

namespace {
// The geometry an image reports when the host has none: the usual translation
// of large disks (255 heads, 63 sectors per track).
constexpr std::uint32_t kDefaultHeads = 255;
constexpr std::uint32_t kDefaultSectorsPerTrack = 63;
constexpr std::uint32_t kFixedMedia = 12;
}  // namespace

std::unique_ptr<ImageDisk> ImageDisk::Open(const std::string& path, std::string& error) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) {
    error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  const bool block = S_ISBLK(st.st_mode);
  if (!block && !S_ISREG(st.st_mode)) {
    error = path + ": not an image file or block device";
    return nullptr;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (block ? O_EXCL : 0));
  if (fd < 0) {
    error = path + ": " + std::strerror(errno) + (block && errno == EBUSY ? " (mounted or in use)" : "");
    return nullptr;
  }
  std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  std::uint32_t sector = 512;
  std::uint32_t heads = kDefaultHeads;
  std::uint32_t spt = kDefaultSectorsPerTrack;
  if (block) {
    int ssz = 0;
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0 || ::ioctl(fd, BLKSSZGET, &ssz) != 0 || ssz <= 0) {
      error = path + ": cannot read the device size: " + std::strerror(errno);
      ::close(fd);
      return nullptr;
    }
    sector = static_cast<std::uint32_t>(ssz);
    hd_geometry geo{};
    if (::ioctl(fd, HDIO_GETGEO, &geo) == 0 && geo.heads != 0 && geo.sectors != 0) {
      heads = geo.heads;
      spt = geo.sectors;
    }
  }
  return std::unique_ptr<ImageDisk>(new ImageDisk(fd, block, size, sector, heads, spt));
}

ImageDisk::ImageDisk(int fd, bool block_device, std::uint64_t size, std::uint32_t sector_size,
                     std::uint32_t heads, std::uint32_t sectors_per_track)
    : fd_(fd),
      block_device_(block_device),
      size_(size),
      sector_size_(sector_size),
      heads_(heads),
      sectors_per_track_(sectors_per_track) {}

ImageDisk::~ImageDisk() { ::close(fd_); }

std::optional<DriveGeometry> ImageDisk::Geometry() {
  DriveGeometry g;
  g.bytes_per_sector = sector_size_;
  g.sectors_per_track = sectors_per_track_;
  g.tracks_per_cylinder = heads_;
  g.media_type = kFixedMedia;
  g.cylinders = size_ / (static_cast<std::uint64_t>(sector_size_) * heads_ * sectors_per_track_);
  g.disk_size = size_;
  return g;
}

std::optional<PartitionInfo> ImageDisk::PartitionInformation() {
  PartitionInfo p;
  p.starting_offset = 0;
  p.length = size_;
  p.hidden_sectors = 0;
  p.number = 0;
  return p;
}

std::optional<std::vector<PartitionInfo>> ImageDisk::DriveLayout() {
  return std::vector<PartitionInfo>{};
}

// There is no partition table whose entry could change.
bool ImageDisk::SetPartitionType(std::uint8_t) { return true; }

bool ImageDisk::UpdateProperties() {
  if (block_device_) {
    std::uint64_t size = 0;
    if (::ioctl(fd_, BLKGETSIZE64, &size) != 0) return false;
    size_ = size;
  }
  return true;
}

// The image is opened by this process alone (a block device with O_EXCL).
bool ImageDisk::Lock() { return true; }
bool ImageDisk::Unlock() { return true; }

bool ImageDisk::Dismount() { return ::fdatasync(fd_) == 0; }

bool ImageDisk::ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) {
  return ReadFully(fd_, offset, data) == static_cast<long long>(data.size());
}

bool ImageDisk::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) {
  if (offset + data.size() > size_) return false;
  return WriteFully(fd_, offset, data);
}

bool ImageDisk::ZeroRange(std::uint64_t offset, std::uint64_t length) {
  return offset + length <= size_ && ZeroRangeInPlace(fd_, offset, length);
}

}  // namespace platform::linux_host
