#include "linetool/disk/preload_copy.h"

#include <algorithm>
#include <new>
#include <vector>

#include "linetool/disk/disk_queries.h"
#include "linetool/disk/write_read_test.h"

namespace linetool::disk {

namespace {

std::string Child(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The station path without one trailing backslash.
std::string WithoutTrailingBackslash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

double PreloadCopy::FolderSize(const DiskServices& s, const std::string& host_path, bool single_file) {
  if (single_file) {
    auto f = s.files.Open(host_path, platform::FileOpen::kReadExisting);
    const auto size = f ? f->Size() : std::nullopt;
    return size ? static_cast<double>(*size) : 0.0;
  }
  double total = 0;
  const auto entries = s.files.List(host_path);
  if (!entries) return 0;
  for (const auto& e : *entries) {
    if (e.kind == platform::EntryKind::kFolder) {
      total += FolderSize(s, Child(host_path, e.name), false);
    } else if (e.kind == platform::EntryKind::kFile) {
      total += static_cast<double>(e.size);
    }
  }
  return total;
}

bool PreloadCopy::CopyFile(const DiskServices& s, const std::string& source, const std::string& destination) {
  auto in = s.files.Open(source, platform::FileOpen::kReadExisting);
  const auto size = in ? in->Size() : std::nullopt;
  if (!size) return false;
  if (s.files.Exists(destination)) s.files.RemoveFile(destination);
  // Whole units go straight to the volume: a file system in user space
  // otherwise takes the cache's writes a page at a time.
  auto out = s.files.Open(destination, platform::FileOpen::kCreateAlwaysUncached);
  if (!out) return false;
  try {
    const auto need = static_cast<std::size_t>(std::min<std::uint64_t>(*size, kCopyChunkBytes));
    if (chunk_.size() < need) chunk_.resize(need);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (std::uint64_t offset = 0; offset < *size;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(*size - offset, kCopyChunkBytes));
    const std::span<std::uint8_t> part(chunk_.data(), n);
    const auto got = in->ReadAt(offset, part);
    if (!got || *got != n) return false;
    if (!out->WriteAt(offset, part)) return false;
    ++report_.chunks;
    offset += n;
  }
  unflushed_.push_back({std::move(out), source, *size});
  return unflushed_.size() < kFlushBatch || FlushCopied();
}

bool PreloadCopy::FlushCopied() {
  bool ok = true;
  for (auto& f : unflushed_) {
    if (ok && f.file->Flush()) {
      report_.bytes += f.bytes;
      ++report_.files;
    } else if (ok) {
      ok = false;
      if (report_.failed_path.empty()) report_.failed_path = f.source;
    }
  }
  unflushed_.clear();
  return ok;
}

bool PreloadCopy::CopyFolder(const DiskServices& s, const std::string& source, const std::string& destination) {
  const bool copied = CopyTree(s, source, destination);
  const bool flushed = FlushCopied();
  return copied && flushed;
}

bool PreloadCopy::CopyTree(const DiskServices& s, const std::string& source, const std::string& destination) {
  const auto entries = s.files.List(source);
  if (!entries) return true;
  for (const auto& e : *entries) {
    const std::string from = Child(source, e.name);
    const std::string to = Child(destination, e.name);
    bool ok = true;
    switch (e.kind) {
      case platform::EntryKind::kFolder:
        s.files.CreateFolder(to);  // an existing folder is fine
        ++report_.folders;
        ok = CopyTree(s, from, to);
        break;
      case platform::EntryKind::kFile:
        ok = CopyFile(s, from, to);
        if (!ok && report_.failed_path.empty()) report_.failed_path = from;
        break;
      case platform::EntryKind::kLink:
        ++report_.links_skipped;
        break;
      case platform::EntryKind::kOther:
        break;
    }
    if (!ok) return false;
  }
  return true;
}

PreloadCopy::Outcome PreloadCopy::Run(const DiskServices& s, std::mutex& preload_lock, PortDisk& port,
                                      const std::string& preload_folder) {
  report_ = {};
  std::lock_guard lock(preload_lock);
  port.drive_letter = DriveLetterOfDisk(s, port.drive_number);
  if (port.drive_letter == kNoDriveLetter) return Outcome::kNoLetter;
  const std::string source = WithoutTrailingBackslash(preload_folder);
  if (!s.PathUsable(source)) return Outcome::kSourceUnusable;
  const std::string host_source = s.HostPath(source);
  const std::string host_destination = s.HostPath(WithoutTrailingBackslash(RootPath(port.drive_letter)));

  const double bytes = FolderSize(s, host_source, false);
  const std::uint32_t free = FreeSpaceMiB(s.volumes, port.drive_letter);
  if (free != kUnknownMiB && bytes / 1048576.0 > free) return Outcome::kTooLittleRoom;

  const bool copied = CopyFolder(s, host_source, host_destination);
  chunk_ = {};

  // Everything written goes to the medium and the volume is mounted afresh.
  s.clock.WaitFor(kSettlePause, s.stop);
  if (auto disk = s.disks.Open(ExclusiveRequest(PhysicalDriveName(port.drive_number)))) {
    disk->Lock();
    disk->Dismount();
    disk->Unlock();
    disk->UpdateProperties();
  }
  return copied ? Outcome::kCopied : Outcome::kCopyFailed;
}

}  // namespace linetool::disk
