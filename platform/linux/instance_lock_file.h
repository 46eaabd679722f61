#pragma once
// The single-instance lock of the Linux host: an advisory lock (flock) on a
// lock file. The kernel drops it when the process ends, however it ends, so a
// crashed station never blocks the next start.

#include <string>

#include "platform/instance_lock.h"

namespace platform::linux_host {

class InstanceLockFile final : public InstanceLock {
 public:
  // `path`: the lock file (created when missing).
  explicit InstanceLockFile(std::string path);
  ~InstanceLockFile() override;
  InstanceLockFile(const InstanceLockFile&) = delete;
  InstanceLockFile& operator=(const InstanceLockFile&) = delete;

  // The file is made when missing. One another user made (root's, say) may
  // be open to this user for reading only: that is enough for the lock.
  bool TryAcquire() override;
  void Release() override;
  std::string Fault() const override { return fault_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::string fault_;
};

// The lock file of the station on this machine, the same for every user and
// session: in /run/lock when this process may write there (root may), else
// in $XDG_RUNTIME_DIR when set, else in the system's temporary folder.
std::string MachineLockPath(const std::string& name);

}  // namespace platform::linux_host
