#include "platform/replace_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

namespace platform {

namespace fs = std::filesystem;

namespace {

// Writes all of `data` from the file's position on (its end when opened for
// appending); false when not all of it went.
bool WriteAll(int fd, std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Puts what was written to `fd` on the medium (`data_only`: its data and
// length, not its times). A device or pipe written in place has nothing to
// sync (EINVAL), nor has a read-only medium (EROFS).
bool OnMedium(int fd, bool data_only) {
  const int r = data_only ? ::fdatasync(fd) : ::fsync(fd);
  return r == 0 || errno == EINVAL || errno == EROFS;
}

// The file `host_path` names, a symbolic link followed.
fs::path Followed(const std::string& host_path) {
  std::error_code ec;
  fs::path target(host_path);
  if (fs::is_symlink(target, ec)) {
    const auto resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;
  }
  return target;
}

fs::path FolderOf(const fs::path& target) { return target.has_parent_path() ? target.parent_path() : fs::path("."); }

// Writes `data` as the whole file and puts it on the medium before it
// answers: a power cut after a rename must never find the new name over an
// empty or half-written file. `create_new` refuses a file that is already
// there (the temporary name must be ours alone).
bool WriteWhole(const fs::path& path, std::string_view data, bool create_new) {
  const int flags = O_WRONLY | O_CLOEXEC | (create_new ? O_CREAT | O_EXCL : O_TRUNC);
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data) && OnMedium(fd, false);
  if (::close(fd) != 0) ok = false;
  return ok;
}

// Writes `data` into a file of `folder` that has no name yet, puts it on the
// medium, and only then names it `temp`: a power cut or a kill while the bytes
// go leaves nothing behind in the folder. False where the file system makes
// no unnamed files or the name cannot be given; the caller then writes `temp`
// by name.
bool WriteUnnamedThenName(const fs::path& folder, const fs::path& temp, std::string_view data) {
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data) && OnMedium(fd, false);
  if (ok) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    ok = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }
  if (::close(fd) != 0 && ok) {
    std::error_code ec;
    fs::remove(temp, ec);
    ok = false;
  }
  return ok;
}

// A name in the folder of `target` that no other writer uses at the same time.
fs::path TemporaryBeside(const fs::path& target) {
  static thread_local std::mt19937 random{std::random_device{}()};
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
  fs::path temp = target;
  temp += std::string(".tmp-") + suffix;
  return temp;
}

}  // namespace

WriteOutcome ReplaceFile(const std::string& host_path, std::string_view data) {
  std::error_code ec;
  const fs::path target = Followed(host_path);
  const fs::path folder = FolderOf(target);
  if (!fs::is_directory(folder, ec)) return WriteOutcome::kFolderMissing;
  const auto status = fs::status(target, ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    return WriteWhole(target, data, false) ? WriteOutcome::kWritten : WriteOutcome::kFailed;
  }

  fs::path temp = TemporaryBeside(target);
  for (int tries = 0; fs::exists(fs::symlink_status(temp, ec)) && tries < 8; ++tries) temp = TemporaryBeside(target);
  if (!WriteUnnamedThenName(folder, temp, data) && !WriteWhole(temp, data, true)) {
    fs::remove(temp, ec);
    return WriteOutcome::kFailed;
  }
  if (fs::exists(status)) fs::permissions(temp, status.permissions(), ec);
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    return WriteOutcome::kFailed;
  }
  // The rename is on the medium only once the folder is.
  return SyncFolder(folder.string()) ? WriteOutcome::kWritten : WriteOutcome::kFailed;
}

bool SyncFolder(const std::string& host_folder) {
  const int fd = ::open(host_folder.empty() ? "." : host_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Some file systems (FUSE drivers among them) take no fsync of a folder.
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOSYS;
  ::close(fd);
  return ok;
}

FileRewriteLock::FileRewriteLock(const std::string& host_path) {
  const fs::path folder = FolderOf(Followed(host_path));
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    ::close(fd_);
    fd_ = -1;
    return;
  }
}

FileRewriteLock::~FileRewriteLock() {
  if (fd_ >= 0) ::close(fd_);  // closing drops the lock
}

bool AppendWhole(const std::string& host_path, std::string_view data, std::uint64_t restart_above) {
  int fd = ::open(host_path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  const bool made = fd < 0 && errno == ENOENT;
  if (made) fd = ::open(host_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = true;
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ok = false;
      break;
    }
  }
  struct stat st{};
  if (ok && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > restart_above) {
    ok = ::ftruncate(fd, 0) == 0;
  }
  if (ok) ok = WriteAll(fd, data);
  // On the medium before the next entry: a power cut otherwise leaves the
  // file's new length over blocks that were never written (NUL bytes).
  if (ok) ok = OnMedium(fd, true);
  if (::close(fd) != 0) ok = false;
  if (ok && made) ok = SyncFolder(FolderOf(fs::path(host_path)).string());
  return ok;
}

WriteOutcome ReplaceFile(const std::string& host_path, std::span<const std::uint8_t> data) {
  return ReplaceFile(host_path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

}  // namespace platform
