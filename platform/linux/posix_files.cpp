#include "platform/linux/posix_files.h"

#include "platform/linux/fd_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform::linux_host {

namespace {

class PosixFile final : public HostFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  std::optional<std::uint64_t> Size() override {
    struct stat st{};
    if (::fstat(fd_, &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
  }

  std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override {
    const long long n = ReadFully(fd_, offset, data);
    if (n < 0) return std::nullopt;
    return static_cast<std::size_t>(n);
  }

  bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    return WriteFully(fd_, offset, data);
  }

  bool Flush() override {
    if (::fdatasync(fd_) != 0) return false;
    // Clean pages can now be dropped; the next read goes to the device.
    return ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED) == 0;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<HostFile> PosixFiles::Open(const std::string& path, FileOpen mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case FileOpen::kReadExisting:
      flags |= O_RDONLY;
      break;
    case FileOpen::kReadWriteExisting:
      flags |= O_RDWR;
      break;
    case FileOpen::kCreateAlways:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case FileOpen::kOpenAlways:
      flags |= O_RDWR | O_CREAT;
      break;
  }
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) return nullptr;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixFile>(fd);
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
