#include "platform/linux/instance_lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace platform::linux_host {

InstanceLockFile::InstanceLockFile(std::string path) : path_(std::move(path)) {}

InstanceLockFile::~InstanceLockFile() { Release(); }

bool InstanceLockFile::TryAcquire() {
  fault_.clear();
  if (fd_ >= 0) return true;
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // flock needs no write access: a lock file this user may only read still
  // serves (made by another user, or on a read-only folder).
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fault_ = path_ + ": " + std::strerror(errno);
    return false;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (errno != EWOULDBLOCK) fault_ = path_ + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void InstanceLockFile::Release() {
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

std::string MachineLockPath(const std::string& name) {
  if (::access("/run/lock", W_OK | X_OK) == 0) return (std::filesystem::path("/run/lock") / name).string();
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code ec;
  std::filesystem::path folder = (runtime != nullptr && *runtime != '\0') ? std::filesystem::path(runtime)
                                                                            : std::filesystem::temp_directory_path(ec);
  if (ec) folder = "/tmp";
  return (folder / name).string();
}

}  // namespace platform::linux_host
