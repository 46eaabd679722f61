#include "linetool/disk/write_read_test.h"

#include <algorithm>
#include <new>

namespace linetool::disk {

bool ReadFileInto(const DiskServices& s, const std::string& station_path, std::span<std::uint8_t> buffer,
                  platform::FileOpen mode) {
  if (!s.PathUsable(station_path)) return false;
  auto file = s.files.Open(s.HostPath(station_path), mode);
  if (!file) return false;
  std::size_t done = 0;
  while (done < buffer.size()) {
    const auto n = file->ReadAt(done, buffer.subspan(done));
    if (!n || *n == 0) break;
    done += *n;
  }
  return done == buffer.size();
}

bool WriteFileFrom(const DiskServices& s, const std::string& station_path, std::span<const std::uint8_t> data) {
  auto file = s.files.Open(s.HostPath(station_path), platform::FileOpen::kCreateAlwaysUncached);
  if (!file) return false;
  // The data must be on the device, not only in the host's cache, so that
  // the read-back tests the disk path.
  return file->WriteAt(0, data) && file->Flush() && file->Size().has_value();
}

std::uint32_t FreeSpaceMiB(platform::Volumes& volumes, char letter) {
  const auto free = volumes.Free(letter);
  if (!free) return kUnknownMiB;
  const std::uint64_t mib =
      static_cast<std::uint64_t>(free->free_clusters) / 1024 * free->bytes_per_sector * free->sectors_per_cluster / 1024;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(mib, kUnknownMiB - 1));
}

ReferenceCheck CheckReferenceFile(const DiskServices& s, const std::string& binary_name, std::uint32_t& length) {
  length = 0;
  if (!s.PathUsable(binary_name)) return ReferenceCheck::kUnusable;
  auto file = s.files.Open(s.HostPath(binary_name), platform::FileOpen::kReadExisting);
  const auto size = file ? file->Size() : std::nullopt;
  if (!size) return ReferenceCheck::kUnreadable;
  if (*size > kMaxTestFileBytes) return ReferenceCheck::kTooLarge;
  length = static_cast<std::uint32_t>(*size);
  return ReferenceCheck::kOk;
}

WriteReadTest::Outcome WriteReadTest::Run(const DiskServices& s, char letter, const std::string& binary_name,
                                          std::uint32_t length, std::uint8_t cycles) {
  cycles_passed_ = 0;
  if (letter == kNoDriveLetter) return Outcome::kNoLetter;
  const std::string reference = binary_name;
  const std::string target = RootPath(letter) + binary_name;
  if (!s.PathUsable(reference)) return Outcome::kReferenceUnusable;
  const std::uint32_t free = FreeSpaceMiB(s.volumes, letter);
  const std::uint32_t needed = static_cast<std::uint32_t>(length * 10u) / 1048576u;
  if (free != kUnknownMiB && free < needed) return Outcome::kTooLittleRoom;

  std::vector<std::uint8_t> a;
  std::vector<std::uint8_t> b;
  try {
    a.resize(length);
    b.resize(length);
  } catch (const std::bad_alloc&) {
    return Outcome::kReadReference;
  }
  const auto clear_head = [](std::vector<std::uint8_t>& v) { std::fill_n(v.begin(), std::min<std::size_t>(4, v.size()), 0); };
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    clear_head(a);
    clear_head(b);
    if (!ReadFileInto(s, reference, a)) return Outcome::kReadReference;
    b = a;
    const std::string host_target = s.HostPath(target);
    if (s.files.Exists(host_target)) s.files.RemoveFile(host_target);
    if (!WriteFileFrom(s, target, b)) return Outcome::kWriteTarget;
    // The read-back proves the disk only when nothing on the way (the file's
    // pages, the volume device's cache under a driver outside the kernel)
    // still holds what was written.
    if (!s.volumes.DropDeviceCache(letter)) return Outcome::kWriteTarget;
    clear_head(a);
    if (!ReadFileInto(s, target, a, platform::FileOpen::kReadExistingUncached)) return Outcome::kReadTarget;
    if (a != b) return Outcome::kMismatch;
    s.files.RemoveFile(host_target);
    ++cycles_passed_;
  }
  return Outcome::kPassed;
}

}  // namespace linetool::disk
