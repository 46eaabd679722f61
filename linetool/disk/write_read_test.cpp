#include "linetool/disk/write_read_test.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>

#include "platform/large_pages.h"

namespace linetool::disk {

namespace {

using Outcome = WriteReadTest::Outcome;

// Transfers past the host's cache want their memory aligned to the device's
// block; 4 KiB covers every device. The two buffers lie in one block aligned
// to a large page, which the host can then give in one piece instead of a
// fault per 4 KiB.
constexpr std::size_t kDeviceBlock = 4096;
constexpr std::size_t kAlign = platform::kLargePageBytes;
// The unit in which the reference moves to the volume and in which the
// read-back arrives and is compared with it. Two such buffers stay in the
// processor's cache, where a buffer of the whole file would have the host
// fault in and clear every page of it first, and would fall out of the cache
// between a read and its compare.
constexpr std::size_t kChunk = 1 << 20;

struct AlignedDelete {
  void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t{kAlign}); }
};
using AlignedBytes = std::unique_ptr<std::uint8_t[], AlignedDelete>;

// Null when the memory is not there.
AlignedBytes AllocateAligned(std::size_t bytes) {
  AlignedBytes block(static_cast<std::uint8_t*>(
      ::operator new[](std::max<std::size_t>(bytes, 1), std::align_val_t{kAlign}, std::nothrow)));
  if (block) platform::PreferLargePages(block.get(), bytes);
  return block;
}

// Fills `part` from `file` at `offset`; false when the file ends or fails
// before it is full.
bool ReadWhole(platform::HostFile& file, std::uint64_t offset, std::span<std::uint8_t> part) {
  std::size_t got = 0;
  while (got < part.size()) {
    const auto n = file.ReadAt(offset + got, part.subspan(got));
    if (!n || *n == 0) return false;
    got += *n;
  }
  return true;
}

// The reference file, opened as the station opens it: for reading and
// writing, existing only.
std::unique_ptr<platform::HostFile> OpenReference(const DiskServices& s, const std::string& reference) {
  if (!s.PathUsable(reference)) return nullptr;
  return s.files.Open(s.HostPath(reference), platform::FileOpen::kReadWriteExisting);
}

// Writes the first `length` bytes of the reference file as the new target
// file past the host's cache, a chunk at a time through `chunk`, then puts it
// on the medium. Nothing when every byte arrived, was written and the file's
// size can be queried; else what failed first.
std::optional<Outcome> CopyToTarget(const DiskServices& s, const std::string& reference, const std::string& host_target,
                                    std::uint32_t length, std::span<std::uint8_t> chunk) {
  const auto in = OpenReference(s, reference);
  if (!in) return Outcome::kReadReference;
  const auto out = s.files.Open(host_target, platform::FileOpen::kCreateAlwaysUncached);
  if (!out) return Outcome::kWriteTarget;
  for (std::size_t done = 0; done < length;) {
    // Whole chunks keep every write but the last on whole units, as direct
    // writes want them.
    const auto part = chunk.first(std::min<std::size_t>(chunk.size(), length - done));
    if (!ReadWhole(*in, done, part)) return Outcome::kReadReference;
    if (!out->WriteAt(done, part)) return Outcome::kWriteTarget;
    done += part.size();
  }
  // The data must be on the device, not only in the host's cache, so that
  // the read-back tests the disk path.
  if (!out->Flush() || !out->Size()) return Outcome::kWriteTarget;
  return std::nullopt;
}

// Reads the target file back from the medium through `window` and compares
// every byte with the reference file's, read again through `chunk`; nothing
// when all of it arrived and matched. A reference that changed since it was
// written fails the compare: the test never passes on bytes it did not write.
std::optional<Outcome> CompareTarget(const DiskServices& s, const std::string& reference, const std::string& target,
                                     std::uint32_t length, std::span<std::uint8_t> window, std::span<std::uint8_t> chunk) {
  if (!s.PathUsable(target)) return Outcome::kReadTarget;
  const auto in = s.files.Open(s.HostPath(target), platform::FileOpen::kReadExistingUncached);
  if (!in) return Outcome::kReadTarget;
  const auto ref = OpenReference(s, reference);
  if (!ref) return Outcome::kReadReference;
  for (std::size_t done = 0; done < length;) {
    const std::size_t n = std::min<std::size_t>(window.size(), length - done);
    if (!ReadWhole(*in, done, window.first(n))) return Outcome::kReadTarget;
    if (!ReadWhole(*ref, done, chunk.first(n))) return Outcome::kReadReference;
    if (!std::equal(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(n), chunk.begin())) {
      return Outcome::kMismatch;
    }
    done += n;
  }
  return std::nullopt;
}

}  // namespace

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

  // A chunk of the reference and a window the read-back passes through,
  // aligned so that transfers past the cache need no copy on the way.
  const std::size_t chunk_bytes = std::min<std::size_t>(length, kChunk);
  const std::size_t window_at = (chunk_bytes + kDeviceBlock - 1) / kDeviceBlock * kDeviceBlock;
  const AlignedBytes buffers = AllocateAligned(window_at + chunk_bytes);
  if (!buffers) return Outcome::kReadReference;
  const std::span<std::uint8_t> reference_part(buffers.get(), chunk_bytes);
  const std::span<std::uint8_t> read_back(buffers.get() + window_at, chunk_bytes);
  const auto clear_head = [](std::span<std::uint8_t> v) { std::fill_n(v.begin(), std::min<std::size_t>(4, v.size()), 0); };
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    clear_head(reference_part);
    clear_head(read_back);
    const std::string host_target = s.HostPath(target);
    if (s.files.Exists(host_target)) s.files.RemoveFile(host_target);
    if (const auto failed = CopyToTarget(s, reference, host_target, length, reference_part)) return *failed;
    // The read-back proves the disk only when nothing on the way (the file's
    // pages, the volume device's cache under a driver outside the kernel)
    // still holds what was written.
    if (!s.volumes.DropDeviceCache(letter)) return Outcome::kWriteTarget;
    clear_head(read_back);
    if (const auto failed = CompareTarget(s, reference, target, length, read_back, reference_part)) return *failed;
    s.files.RemoveFile(host_target);
    ++cycles_passed_;
  }
  return Outcome::kPassed;
}

}  // namespace linetool::disk
