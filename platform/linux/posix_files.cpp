#include "platform/linux/posix_files.h"

#include "platform/linux/fd_io.h"
#include "platform/replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace platform::linux_host {

namespace {

// Direct transfers go through a buffer aligned to this, in whole units of it
// (any device's logical block divides it).
constexpr std::size_t kDirectAlign = 4096;
constexpr std::size_t kDirectChunk = 1 << 20;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

class PosixFile final : public HostFile {
 public:
  // `direct`: the file is open with O_DIRECT. `new_in_folder`: the open
  // created the file there, so its name is durable only once that folder is
  // synced (done with the first Flush).
  PosixFile(int fd, bool direct, std::string new_in_folder)
      : fd_(fd), direct_(direct), new_in_folder_(std::move(new_in_folder)) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  std::optional<std::uint64_t> Size() override {
    struct stat st{};
    if (::fstat(fd_, &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
  }

  std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override {
    if (direct_) {
      if (const auto n = ReadDirect(offset, data)) return n;
      if (!LeaveDirect()) return std::nullopt;
    }
    const long long n = ReadFully(fd_, offset, data);
    if (n < 0) return std::nullopt;
    return static_cast<std::size_t>(n);
  }

  bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (direct_ && offset % kDirectAlign == 0) {
      // Whole units go straight to the device; a tail shorter than one unit
      // goes through the cache, which Flush empties.
      const std::size_t whole = data.size() / kDirectAlign * kDirectAlign;
      const std::size_t done = WriteDirect(offset, data.first(whole));
      if (done == data.size()) return true;
      // The tail, or the rest after the file system refused a direct
      // transfer, through the cache.
      return LeaveDirect() && WriteFully(fd_, offset + done, data.subspan(done));
    }
    if (direct_ && !LeaveDirect()) return false;
    return WriteFully(fd_, offset, data);
  }

  bool Flush() override {
    if (::fdatasync(fd_) != 0) return false;
    if (!new_in_folder_.empty()) {
      if (!SyncFolder(new_in_folder_)) return false;
      new_in_folder_.clear();
    }
    // Clean pages can now be dropped; the next read goes to the device.
    return ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED) == 0;
  }

 private:
  bool Bounce() {
    if (!bounce_) {
      void* p = nullptr;
      if (::posix_memalign(&p, kDirectAlign, kDirectChunk) != 0) return false;
      bounce_.reset(p);
    }
    return true;
  }

  static bool Aligned(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % kDirectAlign == 0; }

  // Writes whole units at an aligned `offset` past the cache: from `data`
  // itself when it is aligned, else through the bounce buffer. The count
  // written; short when the file system refused or the device failed.
  std::size_t WriteDirect(std::uint64_t offset, std::span<const std::uint8_t> data) {
    const bool aligned = Aligned(data.data());
    if (!aligned && !Bounce()) return 0;
    std::size_t done = 0;
    while (done < data.size()) {
      const std::size_t n = aligned ? data.size() - done : std::min(kDirectChunk, data.size() - done);
      const void* from = data.data() + done;
      if (!aligned) from = std::memcpy(bounce_.get(), from, n);
      const ssize_t w = ::pwrite(fd_, from, n, static_cast<off_t>(offset + done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;
      done += static_cast<std::size_t>(w);
      if (done % kDirectAlign != 0) break;  // the rest cannot start a direct transfer
    }
    return done;
  }

  // Reads from the aligned unit below `offset` on, straight into `data` when
  // it is aligned and whole units, else through the bounce buffer; nullopt
  // when the file system refused the direct transfer.
  std::optional<std::size_t> ReadDirect(std::uint64_t offset, std::span<std::uint8_t> data) {
    if (Aligned(data.data()) && offset % kDirectAlign == 0 && data.size() % kDirectAlign == 0) {
      std::size_t done = 0;
      while (done < data.size()) {
        const ssize_t n = ::pread(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && done == 0 && errno == EINVAL) return std::nullopt;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
        if (done % kDirectAlign != 0) break;  // the end of the file
      }
      return done;
    }
    if (!Bounce()) return std::nullopt;
    std::size_t done = 0;
    while (done < data.size()) {
      const std::uint64_t at = offset + done;
      const std::uint64_t start = at / kDirectAlign * kDirectAlign;
      const std::size_t lead = static_cast<std::size_t>(at - start);
      const std::size_t want = std::min(kDirectChunk, (lead + data.size() - done + kDirectAlign - 1) / kDirectAlign * kDirectAlign);
      const ssize_t n = ::pread(fd_, bounce_.get(), want, static_cast<off_t>(start));
      if (n < 0) {
        if (errno == EINTR) continue;
        if (done == 0 && errno == EINVAL) return std::nullopt;
        return done;
      }
      if (static_cast<std::size_t>(n) <= lead) break;  // the end of the file
      const std::size_t got = std::min(static_cast<std::size_t>(n) - lead, data.size() - done);
      std::memcpy(data.data() + done, static_cast<std::uint8_t*>(bounce_.get()) + lead, got);
      done += got;
      if (static_cast<std::size_t>(n) < want) break;
    }
    return done;
  }

  // Goes on through the cache from here.
  bool LeaveDirect() {
    direct_ = false;
    const int flags = ::fcntl(fd_, F_GETFL);
    return flags >= 0 && ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT) == 0;
  }

  int fd_;
  bool direct_;
  std::string new_in_folder_;
  std::unique_ptr<void, FreeDeleter> bounce_;
};

}  // namespace

std::unique_ptr<HostFile> PosixFiles::Open(const std::string& path, FileOpen mode) {
  int flags = O_CLOEXEC;
  bool uncached = false;
  switch (mode) {
    case FileOpen::kReadExistingUncached:
      uncached = true;
      [[fallthrough]];
    case FileOpen::kReadExisting:
      flags |= O_RDONLY;
      break;
    case FileOpen::kReadWriteExisting:
      flags |= O_RDWR;
      break;
    case FileOpen::kCreateAlwaysUncached:
      uncached = true;
      [[fallthrough]];
    case FileOpen::kCreateAlways:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case FileOpen::kOpenAlways:
      flags |= O_RDWR | O_CREAT;
      break;
  }
  struct stat before{};
  const bool created = (flags & O_CREAT) != 0 && ::lstat(path.c_str(), &before) != 0 && errno == ENOENT;
  int fd = uncached ? ::open(path.c_str(), flags | O_DIRECT, 0666) : -1;
  const bool direct = fd >= 0;
  // A file system without direct transfers refuses O_DIRECT with EINVAL.
  if (fd < 0) fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) return nullptr;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  // Without direct reads, pages cached from before are dropped first.
  if (uncached && !direct) ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  std::string folder;
  if (created) {
    const auto slash = path.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  }
  return std::make_unique<PosixFile>(fd, direct, std::move(folder));
}

bool PosixFiles::Exists(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0;
}

bool PosixFiles::RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool PosixFiles::CreateFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool PosixFiles::RemoveFolder(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

std::optional<std::vector<FolderEntry>> PosixFiles::List(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<FolderEntry> out;
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry e;
    e.name = name;
    struct stat st{};
    const std::string full = path + (path.empty() || path.back() == '/' ? "" : "/") + name;
    if (::lstat(full.c_str(), &st) == 0) {
      if (S_ISLNK(st.st_mode)) {
        e.kind = EntryKind::kLink;
      } else if (S_ISDIR(st.st_mode)) {
        e.kind = EntryKind::kFolder;
      } else if (S_ISREG(st.st_mode)) {
        e.kind = EntryKind::kFile;
        e.size = static_cast<std::uint64_t>(st.st_size);
      }
    }
    out.push_back(std::move(e));
  }
  ::closedir(dir);
  return out;
}

}  // namespace platform::linux_host
