#include "sim/station/sim_volume_files.h"

#include <cctype>
#include <filesystem>

namespace sim::station {

namespace fs = std::filesystem;

namespace {

// A file on a simulated volume: its writes use up the partition's room, and
// once the disk has left its port (pulled out) every request fails, as on an
// open handle of a device that is gone.
class VolumeFile final : public platform::HostFile {
 public:
  VolumeFile(std::unique_ptr<platform::HostFile> file, SimVolumeSet& set, char letter, int drive_number,
             std::shared_ptr<SimDisk> disk)
      : file_(std::move(file)), set_(set), letter_(letter), drive_number_(drive_number), disk_(std::move(disk)) {}

  std::optional<std::uint64_t> Size() override {
    if (!Present()) return std::nullopt;
    return file_->Size();
  }

  std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override {
    if (!Present()) return std::nullopt;
    const auto n = file_->ReadAt(offset, data);
    const auto size = file_->Size();
    if (n && *n > 0 && size && offset + *n == *size && set_.Faults(letter_).corrupt_reads) {
      data[*n - 1] ^= 0x5A;
    }
    return n;
  }

  bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (!Present() || !set_.WriteGoesThrough(letter_)) return false;
    const auto free = set_.Free(letter_);
    const auto size = file_->Size();
    if (!free || !size) return false;
    const std::uint64_t room = static_cast<std::uint64_t>(free->free_clusters) * free->sectors_per_cluster *
                               free->bytes_per_sector;
    const std::uint64_t end = offset + data.size();
    if (end > *size && end - *size > room) return false;  // the volume is full
    return file_->WriteAt(offset, data);
  }

  bool Flush() override { return Present() && file_->Flush(); }

 private:
  bool Present() { return set_.World().DiskImage(drive_number_) == disk_; }

  std::unique_ptr<platform::HostFile> file_;
  SimVolumeSet& set_;
  char letter_;
  int drive_number_;
  std::shared_ptr<SimDisk> disk_;
};

}  // namespace

std::optional<char> SimVolumeFiles::VolumeOf(const std::string& path) const {
  const fs::path rel = fs::path(path).lexically_normal().lexically_relative(set_.DriveRoot().lexically_normal());
  if (rel.empty() || *rel.begin() == "..") return std::nullopt;
  const std::string first = rel.begin()->string();
  if (first.size() != 1 || !std::isalpha(static_cast<unsigned char>(first[0]))) return std::nullopt;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(first[0])));
}

bool SimVolumeFiles::Usable(const std::string& path) {
  const auto letter = VolumeOf(path);
  return !letter || set_.Information(*letter).has_value();
}

std::unique_ptr<platform::HostFile> SimVolumeFiles::Open(const std::string& path, platform::FileOpen mode) {
  if (!Usable(path)) return nullptr;
  const auto letter = VolumeOf(path);
  std::optional<int> drive_number;
  if (letter) {
    drive_number = set_.MountedDisk(*letter);
    if (!drive_number) return nullptr;
  }
  auto file = StdFiles::Open(path, mode);
  if (!file || !letter) return file;
  return std::make_unique<VolumeFile>(std::move(file), set_, *letter, *drive_number,
                                      set_.World().DiskImage(*drive_number));
}

bool SimVolumeFiles::Exists(const std::string& path) { return Usable(path) && StdFiles::Exists(path); }

bool SimVolumeFiles::RemoveFile(const std::string& path) { return Usable(path) && StdFiles::RemoveFile(path); }

bool SimVolumeFiles::CreateFolder(const std::string& path) {
  const auto letter = VolumeOf(path);
  if (letter) {
    const auto free = set_.Free(*letter);
    if (!free || free->free_clusters == 0) return false;
  }
  return Usable(path) && StdFiles::CreateFolder(path);
}

bool SimVolumeFiles::RemoveFolder(const std::string& path) { return Usable(path) && StdFiles::RemoveFolder(path); }

std::optional<std::vector<platform::FolderEntry>> SimVolumeFiles::List(const std::string& path) {
  if (!Usable(path)) return std::nullopt;
  return StdFiles::List(path);
}

}  // namespace sim::station
