#include "linetool/disk/write_read_test.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

namespace linetool::disk {

namespace {

using Outcome = WriteReadTest::Outcome;

// Transfers past the host's cache want their memory aligned to the device's
// block; 4 KiB covers every device.
constexpr std::size_t kAlign = 4096;
// The unit in which the reference moves from the station to the volume.
constexpr std::size_t kChunk = 1 << 20;
// The unit in which the read-back arrives and is compared. A direct read of
// several MiB lets a file system in user space (ntfs-3g) have its parts in
// flight together, instead of waiting for this thread between them.
constexpr std::size_t kReadBackWindow = 8 << 20;

struct AlignedDelete {
  void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t{kAlign}); }
};
using AlignedBytes = std::unique_ptr<std::uint8_t[], AlignedDelete>;

// Null when the memory is not there.
AlignedBytes AllocateAligned(std::size_t bytes) {
  return AlignedBytes(static_cast<std::uint8_t*>(
      ::operator new[](std::max<std::size_t>(bytes, 1), std::align_val_t{kAlign}, std::nothrow)));
}

// Reads the reference file into `data` and writes it as the new target file
// past the host's cache, then puts it on the medium. Each chunk goes to the
// volume as soon as it is in memory: the reading and the writing overlap.
// Nothing when every byte arrived, was written and the file's size can be
// queried; else what failed first.
std::optional<Outcome> CopyToTarget(const DiskServices& s, const std::string& reference,
                                    const std::string& host_target, std::span<std::uint8_t> data) {
  if (!s.PathUsable(reference)) return Outcome::kReadReference;
  const auto in = s.files.Open(s.HostPath(reference), platform::FileOpen::kReadWriteExisting);
  if (!in) return Outcome::kReadReference;
  const auto out = s.files.Open(host_target, platform::FileOpen::kCreateAlwaysUncached);
  if (!out) return Outcome::kWriteTarget;

  std::mutex lock;
  std::condition_variable changed;
  std::size_t ready = 0;  // bytes of `data` read so far
  bool reading = true;
  bool write_failed = false;
  std::thread writer([&] {
    std::size_t written = 0;
    for (;;) {
      std::size_t upto = 0;
      {
        std::unique_lock held(lock);
        changed.wait(held, [&] { return ready > written || !reading; });
        upto = ready;
      }
      if (upto == written) return;
      const bool ok = out->WriteAt(written, data.subspan(written, upto - written));
      if (!ok) {
        const std::lock_guard held(lock);
        write_failed = true;
        return;
      }
      written = upto;
    }
  });
  bool read_ok = true;
  std::size_t done = 0;
  while (done < data.size()) {
    {
      const std::lock_guard held(lock);
      if (write_failed) break;
    }
    const auto n = in->ReadAt(done, data.subspan(done, std::min(kChunk, data.size() - done)));
    if (!n || *n == 0) {
      read_ok = false;
      break;
    }
    done += *n;
    // Direct writes start on whole units: hand over at unit boundaries and at
    // the end.
    if (done % kAlign == 0 || done == data.size()) {
      const std::lock_guard held(lock);
      ready = done;
      changed.notify_one();
    }
  }
  {
    const std::lock_guard held(lock);
    reading = false;
    changed.notify_one();
  }
  writer.join();
  if (!read_ok) return Outcome::kReadReference;
  if (write_failed) return Outcome::kWriteTarget;
  // The data must be on the device, not only in the host's cache, so that
  // the read-back tests the disk path.
  if (!out->Flush() || !out->Size()) return Outcome::kWriteTarget;
  return std::nullopt;
}

// Reads the target file back from the medium through `window` and compares
// every byte with `data`; nothing when all of it arrived and matched.
std::optional<Outcome> CompareTarget(const DiskServices& s, const std::string& target, std::span<const std::uint8_t> data,
                                     std::span<std::uint8_t> window) {
  if (!s.PathUsable(target)) return Outcome::kReadTarget;
  const auto in = s.files.Open(s.HostPath(target), platform::FileOpen::kReadExistingUncached);
  if (!in) return Outcome::kReadTarget;
  std::size_t done = 0;
  while (done < data.size()) {
    const auto part = window.first(std::min(window.size(), data.size() - done));
    std::size_t got = 0;
    while (got < part.size()) {
      const auto n = in->ReadAt(done + got, part.subspan(got));
      if (!n || *n == 0) return Outcome::kReadTarget;
      got += *n;
    }
    if (!std::equal(part.begin(), part.end(), data.begin() + static_cast<std::ptrdiff_t>(done))) return Outcome::kMismatch;
    done += part.size();
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

  // The reference data, and a window the read-back passes through. Both are
  // aligned so that transfers past the cache need no copy on the way.
  const std::size_t window_bytes = std::min<std::size_t>(length, kReadBackWindow);
  const AlignedBytes data = AllocateAligned(length);
  const AlignedBytes window = AllocateAligned(window_bytes);
  if (!data || !window) return Outcome::kReadReference;
  const std::span<std::uint8_t> bytes(data.get(), length);
  const std::span<std::uint8_t> read_back(window.get(), window_bytes);
  const auto clear_head = [](std::span<std::uint8_t> v) { std::fill_n(v.begin(), std::min<std::size_t>(4, v.size()), 0); };
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    clear_head(bytes);
    const std::string host_target = s.HostPath(target);
    if (s.files.Exists(host_target)) s.files.RemoveFile(host_target);
    if (const auto failed = CopyToTarget(s, reference, host_target, bytes)) return *failed;
    // The read-back proves the disk only when nothing on the way (the file's
    // pages, the volume device's cache under a driver outside the kernel)
    // still holds what was written.
    if (!s.volumes.DropDeviceCache(letter)) return Outcome::kWriteTarget;
    clear_head(read_back);
    if (const auto failed = CompareTarget(s, target, bytes, read_back)) return *failed;
    s.files.RemoveFile(host_target);
    ++cycles_passed_;
  }
  return Outcome::kPassed;
}

}  // namespace linetool::disk
