#include "sim/station/sim_disk.h"

#include <algorithm>

namespace sim::station {

namespace {

// ATA text fields: two characters per word, the first in the high byte,
// padded with spaces.
void PutAtaText(std::span<std::uint8_t> identify, std::size_t first_word, std::size_t words,
                const std::string& text) {
  for (std::size_t i = 0; i < words * 2; ++i) {
    const char c = i < text.size() ? text[i] : ' ';
    const std::size_t byte = (first_word * 2) + (i ^ 1u);
    identify[byte] = static_cast<std::uint8_t>(c);
  }
}

void PutWord(std::span<std::uint8_t> identify, std::size_t word, std::uint16_t value) {
  identify[word * 2] = static_cast<std::uint8_t>(value & 0xFF);
  identify[word * 2 + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

SimDisk::SimDisk(std::filesystem::path image, std::uint64_t size_bytes, std::string ata_serial,
                 std::uint32_t sector_size)
    : image_(std::move(image)),
      sector_size_(sector_size == kSim4KnSectorSize ? kSim4KnSectorSize : kSimSectorSize),
      // World files refuse larger disks; a world built in code is held to the same bound.
      size_(std::min(size_bytes, kMaxSimDiskBytes) / sector_size_ * sector_size_),
      ata_serial_(std::move(ata_serial)) {
  std::error_code ec;
  if (!image_.parent_path().empty()) std::filesystem::create_directories(image_.parent_path(), ec);
  // An image that already holds data may have it anywhere: no area is a hole.
  const bool reused = std::filesystem::exists(image_, ec) && std::filesystem::file_size(image_, ec) > 0 && !ec;
  { std::ofstream touch(image_, std::ios::binary | std::ios::app); }
  std::filesystem::resize_file(image_, size_, ec);
  written_.assign(static_cast<std::size_t>(size_ / kAreaSize + (size_ % kAreaSize != 0 ? 1 : 0)), reused);
  file_.open(image_, std::ios::binary | std::ios::in | std::ios::out);
}

std::string SimDisk::InUse() const {
  std::lock_guard lock(mutex_);
  return in_use_;
}

void SimDisk::SetInUse(std::string why) {
  std::lock_guard lock(mutex_);
  in_use_ = std::move(why);
}

platform::DriveGeometry SimDisk::Geometry() const {
  platform::DriveGeometry g;
  g.media_type = platform::kMediaFixed;
  g.bytes_per_sector = sector_size_;
  g.sectors_per_track = 63;
  g.tracks_per_cylinder = 255;
  g.cylinders = size_ / (std::uint64_t{63} * 255 * sector_size_);
  g.disk_size = size_;
  return g;
}

bool SimDisk::InRange(std::uint64_t offset, std::size_t length) const {
  return offset % sector_size_ == 0 && length % sector_size_ == 0 && offset <= size_ &&
         length <= size_ - offset;
}

bool SimDisk::Read(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (!InRange(offset, out.size())) return false;
  std::lock_guard lock(mutex_);
  if (!file_.is_open()) return false;
  file_.clear();
  file_.seekg(static_cast<std::streamoff>(offset));
  file_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  const auto got = static_cast<std::size_t>(file_.gcount());
  // Past the written end of a sparse file there are only zeros.
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(got), out.end(), std::uint8_t{0});
  file_.clear();
  return true;
}

bool SimDisk::Write(std::uint64_t offset, std::span<const std::uint8_t> in) {
  if (!InRange(offset, in.size())) return false;
  std::lock_guard lock(mutex_);
  if (!file_.is_open()) return false;
  const bool zeros = std::all_of(in.begin(), in.end(), [](std::uint8_t b) { return b == 0; });
  if (!zeros) {
    for (std::uint64_t a = offset / kAreaSize; a * kAreaSize < offset + in.size(); ++a)
      written_[static_cast<std::size_t>(a)] = true;
    return WriteLocked(offset, in);
  }
  // Zeros: only the parts over written areas need to reach the image; a hole
  // reads as zeros already.
  std::uint64_t pos = offset;
  const std::uint64_t end = offset + in.size();
  while (pos < end) {
    const std::uint64_t area = pos / kAreaSize;
    const std::uint64_t area_end = std::min(end, (area + 1) * kAreaSize);
    if (written_[static_cast<std::size_t>(area)] &&
        !WriteLocked(pos, in.subspan(static_cast<std::size_t>(pos - offset), static_cast<std::size_t>(area_end - pos))))
      return false;
    pos = area_end;
  }
  return true;
}

bool SimDisk::Flush() {
  std::lock_guard lock(mutex_);
  if (!file_.is_open()) return false;
  // A write that failed leaves the stream failed until the next one: say so.
  file_.flush();
  return static_cast<bool>(file_);
}

bool SimDisk::WriteLocked(std::uint64_t offset, std::span<const std::uint8_t> in) {
  file_.clear();
  file_.seekp(static_cast<std::streamoff>(offset));
  file_.write(reinterpret_cast<const char*>(in.data()), static_cast<std::streamsize>(in.size()));
  file_.flush();
  return static_cast<bool>(file_);
}

void SimDisk::FillIdentify(std::span<std::uint8_t> out) const {
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  if (out.size() < 512) return;
  PutWord(out, 0, 0x0040);
  PutAtaText(out, 10, 10, ata_serial_);
  PutAtaText(out, 23, 4, "1.00");
  PutAtaText(out, 27, 20, "SIMULATED SATA DISK");
  const std::uint64_t sectors = size_ / sector_size_;
  const auto sectors28 = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0x0FFFFFFF));
  PutWord(out, 60, static_cast<std::uint16_t>(sectors28 & 0xFFFF));
  PutWord(out, 61, static_cast<std::uint16_t>(sectors28 >> 16));
  PutWord(out, 83, 0x0400);  // 48-bit addressing
  for (std::size_t i = 0; i < 4; ++i) {
    PutWord(out, 100 + i, static_cast<std::uint16_t>((sectors >> (16 * i)) & 0xFFFF));
  }
  if (sector_size_ != kSimSectorSize) {
    // Word 106: valid (bit 14), logical sectors longer than 256 words (bit 12);
    // words 117-118: the logical sector size in words.
    PutWord(out, 106, 0x5000);
    const std::uint32_t words = sector_size_ / 2;
    PutWord(out, 117, static_cast<std::uint16_t>(words & 0xFFFF));
    PutWord(out, 118, static_cast<std::uint16_t>(words >> 16));
  }
}

}  // namespace sim::station
