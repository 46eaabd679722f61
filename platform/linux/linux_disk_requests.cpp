#include "platform/linux/linux_disk_requests.h"

#include "platform/linux/disk_use.h"
#include "platform/linux/fd_io.h"
#include "platform/linux/tool_runner.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <filesystem>

namespace platform::linux_host {

namespace {

constexpr std::size_t kTable = 446;

class BlockDevice final : public DiskDevice {
 public:
  // `letter` is 0 for a whole disk.
  BlockDevice(int fd, std::string device, int drive_number, char letter, DriveNaming& naming, LinuxVolumes& volumes)
      : fd_(fd), device_(std::move(device)), drive_number_(drive_number), letter_(letter), naming_(naming),
        volumes_(volumes) {}
  ~BlockDevice() override { ::close(fd_); }
  BlockDevice(const BlockDevice&) = delete;
  BlockDevice& operator=(const BlockDevice&) = delete;

  std::optional<DriveGeometry> Geometry() override {
    std::uint64_t size = 0;
    int sector = 0;
    if (::ioctl(fd_, BLKGETSIZE64, &size) != 0 || ::ioctl(fd_, BLKSSZGET, &sector) != 0 || sector <= 0) {
      return std::nullopt;
    }
    DriveGeometry g;
    g.bytes_per_sector = static_cast<std::uint32_t>(sector);
    g.media_type = kMediaFixed;
    g.tracks_per_cylinder = 255;
    g.sectors_per_track = 63;
    hd_geometry geo{};
    if (::ioctl(fd_, HDIO_GETGEO, &geo) == 0 && geo.heads != 0 && geo.sectors != 0) {
      g.tracks_per_cylinder = geo.heads;
      g.sectors_per_track = geo.sectors;
    }
    g.cylinders = size / (static_cast<std::uint64_t>(sector) * g.tracks_per_cylinder * g.sectors_per_track);
    g.disk_size = size;
    if (letter_ != 0) {  // the geometry is the disk's, as for a volume on the station's system
      if (const auto disk = naming_.DiskDevice(drive_number_)) {
        const int dfd = ::open(disk->c_str(), O_RDONLY | O_CLOEXEC);
        if (dfd >= 0) {
          std::uint64_t disk_size = 0;
          if (::ioctl(dfd, BLKGETSIZE64, &disk_size) == 0) g.disk_size = disk_size;
          ::close(dfd);
        }
      }
    }
    return g;
  }

  std::optional<PartitionInfo> PartitionInformation() override {
    const auto g = Geometry();
    if (!g) return std::nullopt;
    PartitionInfo p;
    if (letter_ == 0) {
      p.length = g->disk_size;
      return p;
    }
    const auto extent = naming_.PartitionExtent(device_);
    const auto number = naming_.PartitionOf(device_);
    if (!extent || !number) return std::nullopt;
    p.starting_offset = extent->first * 512;
    p.length = extent->second * 512;
    p.hidden_sectors = static_cast<std::uint32_t>(p.starting_offset / g->bytes_per_sector);
    p.number = static_cast<std::uint32_t>(number->second);
    if (const auto mbr = Mbr(); mbr && p.number >= 1 && p.number <= 4) {
      p.type = (*mbr)[kTable + 16 * (p.number - 1) + 4];
      p.boot_indicator = (*mbr)[kTable + 16 * (p.number - 1)] == 0x80;
    }
    return p;
  }

  std::optional<std::vector<PartitionInfo>> DriveLayout() override {
    const auto mbr = Mbr();
    if (!mbr) return std::nullopt;
    std::vector<PartitionInfo> out;
    for (int n = 1; n <= 4; ++n) {
      const auto dev = naming_.PartitionDevice(drive_number_, n);
      if (!dev) continue;
      PartitionInfo p;
      p.number = static_cast<std::uint32_t>(n);
      if (const auto extent = naming_.PartitionExtent(*dev)) {
        p.starting_offset = extent->first * 512;
        p.length = extent->second * 512;
      }
      p.type = (*mbr)[kTable + 16 * (n - 1) + 4];
      p.boot_indicator = (*mbr)[kTable + 16 * (n - 1)] == 0x80;
      out.push_back(p);
    }
    return out;
  }

  bool SetPartitionType(std::uint8_t type) override {
    const auto info = PartitionInformation();
    const auto disk = naming_.DiskDevice(drive_number_);
    if (letter_ == 0 || !info || info->number < 1 || info->number > 4 || !disk) return false;
    const int dfd = ::open(disk->c_str(), O_RDWR | O_CLOEXEC);
    if (dfd < 0) return false;
    std::array<std::uint8_t, 512> mbr{};
    bool ok = ::pread(dfd, mbr.data(), mbr.size(), 0) == 512 && mbr[510] == 0x55 && mbr[511] == 0xAA;
    if (ok) {
      mbr[kTable + 16 * (info->number - 1) + 4] = type;
      ok = ::pwrite(dfd, mbr.data(), mbr.size(), 0) == 512 && ::fdatasync(dfd) == 0;
    }
    ::close(dfd);
    return ok;
  }

  bool UpdateProperties() override {
    if (letter_ != 0) return volumes_.EnsureMounted(letter_);
    const bool reread = ::ioctl(fd_, BLKRRPART) == 0;
    // A kernel that scans no partitions of this disk on a re-read (a loop
    // device in a container) takes the table from partx instead.
    if (naming_.PartitionDevice(drive_number_, 1)) return reread;
    const auto disk = naming_.DiskDevice(drive_number_);
    const bool updated = disk && RunTool({"partx", "--update", *disk}, nullptr) == 0;
    return reread || updated;
  }

  bool Lock() override {
    for (char l : Letters()) {
      if (volumes_.Mounted(l)) {
        if (!volumes_.Unmount(l)) return false;
        unmounted_.push_back(l);
      }
    }
    return true;
  }

  bool Dismount() override {
    for (char l : Letters()) {
      if (!volumes_.Unmount(l)) return false;
    }
    return ::fdatasync(fd_) == 0 || errno == EINVAL;
  }

  bool Unlock() override {
    bool ok = true;
    for (char l : unmounted_) ok = volumes_.EnsureMounted(l) && ok;
    unmounted_.clear();
    return ok;
  }

  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override {
    return ReadFully(fd_, offset, data) == static_cast<long long>(data.size());
  }

  bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    return WriteFully(fd_, offset, data);
  }

  bool ZeroRange(std::uint64_t offset, std::uint64_t length) override {
    return ZeroRangeInPlace(fd_, offset, length);
  }

 private:
  std::optional<std::array<std::uint8_t, 512>> Mbr() {
    const auto disk = naming_.DiskDevice(drive_number_);
    if (!disk) return std::nullopt;
    const int dfd = ::open(disk->c_str(), O_RDONLY | O_CLOEXEC);
    if (dfd < 0) return std::nullopt;
    std::array<std::uint8_t, 512> mbr{};
    const bool ok = ::pread(dfd, mbr.data(), mbr.size(), 0) == 512;
    ::close(dfd);
    if (!ok) return std::nullopt;
    return mbr;
  }

  // The letters of this volume, or of every partition of this disk.
  std::vector<char> Letters() {
    if (letter_ != 0) return {letter_};
    std::vector<char> out;
    for (int n = 1; n <= 4; ++n) {
      if (const auto dev = naming_.PartitionDevice(drive_number_, n)) {
        if (const auto l = volumes_.LetterOfDevice(*dev)) out.push_back(*l);
      }
    }
    return out;
  }

  int fd_;
  std::string device_;
  int drive_number_;
  char letter_;
  DriveNaming& naming_;
  LinuxVolumes& volumes_;
  std::vector<char> unmounted_;
};

// flock(LOCK_EX) on `fd` within `limit` of the clock: a probe of udev's own
// holds the disk shared for a moment.
bool LockWithin(int fd, Clock& clock, std::chrono::milliseconds limit) {
  const auto deadline = clock.Now() + limit;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || clock.Now() >= deadline) return false;
    clock.WaitFor(std::chrono::milliseconds(20));
  }
  return true;
}

class LockedDisk final : public DiskHold {
 public:
  LockedDisk(int fd, int drive_number, DriveNaming& naming, Clock& clock)
      : fd_(fd), drive_number_(drive_number), naming_(naming), clock_(clock) {}
  ~LockedDisk() override { ::close(fd_); }  // the lock goes with the descriptor
  LockedDisk(const LockedDisk&) = delete;
  LockedDisk& operator=(const LockedDisk&) = delete;

  // udev holds back its work on a disk another process has locked, the
  // owner and mode its rules give the new partitions' nodes among it: a
  // station that is not root could not open them for the format. So the
  // lock is let go until every partition node of the disk is this process's
  // to read and write (at once for root), within a bound, and taken again.
  // udev may also re-read the table itself in the moment the disk is free
  // (a write the station made to the whole disk asks it to), which makes the
  // nodes root's again: they are looked at again once the disk is held, when
  // nobody else can re-read it, and waited for again if need be.
  bool AwaitNewPartitions() override {
    const auto deadline = clock_.Now() + LinuxDiskRequests::kPartitionNodeLimit;
    for (;;) {
      ::flock(fd_, LOCK_UN);
      while (!PartitionNodesUsable() && clock_.Now() < deadline) clock_.WaitFor(std::chrono::milliseconds(20));
      if (!LockWithin(fd_, clock_, LinuxDiskRequests::kHoldLimit)) return false;
      if (PartitionNodesUsable() || clock_.Now() >= deadline) return true;
    }
  }

 private:
  bool PartitionNodesUsable() const {
    for (int n = 1; n <= 4; ++n) {
      const auto node = naming_.PartitionDevice(drive_number_, n);
      if (node && !ReadWritable(*node)) return false;
    }
    return true;
  }

  int fd_;
  int drive_number_;
  DriveNaming& naming_;
  Clock& clock_;
};

}  // namespace

std::unique_ptr<DiskHold> LinuxDiskRequests::Hold(int drive_number) {
  if (drive_number <= 0) return nullptr;
  const auto disk = naming_.DiskDevice(drive_number);
  if (!disk) return nullptr;
  const int fd = ::open(disk->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (!LockWithin(fd, clock_, kHoldLimit)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<LockedDisk>(fd, drive_number, naming_, clock_);
}

std::optional<std::string> LinuxDiskRequests::InUse(int drive_number) {
  if (drive_number == 0) return "drive 0 is the host's system disk";
  const auto disk = naming_.DiskDevice(drive_number);
  if (!disk) return std::nullopt;  // not there: opening it fails by itself
  return HostDiskInUse(std::filesystem::path(*disk).filename().string(), naming_.SysfsBlock(),
                       volumes_.DriveRoot(), naming_.System());
}

std::unique_ptr<DiskDevice> LinuxDiskRequests::Open(const DeviceOpenRequest& request) {
  const std::string& name = request.name;
  std::string device;
  int drive = -1;
  char letter = 0;
  const std::string prefix = "\\\\.\\PHYSICALDRIVE";
  if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) {
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 3 || !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
      return nullptr;
    }
    drive = std::stoi(digits);
    const auto d = naming_.DiskDevice(drive);
    if (!d) return nullptr;
    device = *d;
  } else if (name.size() == 6 && name.compare(0, 4, "\\\\.\\") == 0 && name[5] == ':') {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[4])));
    if (letter == 'C') return nullptr;  // the host's own system is not the station's to open
    const auto d = volumes_.DeviceOf(letter);
    const auto part = d ? naming_.PartitionOf(*d) : std::nullopt;
    if (!part) return nullptr;
    device = *d;
    drive = part->first;
  } else {
    return nullptr;
  }
  const bool write = (request.access & kAccessWrite) != 0;
  const int fd = ::open(device.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<BlockDevice>(fd, device, drive, letter, naming_, volumes_);
}

}  // namespace platform::linux_host
