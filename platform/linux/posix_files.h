#pragma once
// The host's files through POSIX calls. Flush writes the file's data to the
// device (fdatasync) and then drops its pages from the page cache
// (posix_fadvise DONTNEED), so a read that follows comes from the disk and
// not from memory: the write/read test checks the device, not the cache.

#include "platform/host_files.h"

namespace platform::linux_host {

class PosixFiles final : public HostFiles {
 public:
  std::unique_ptr<HostFile> Open(const std::string& path, FileOpen mode) override;
  bool Exists(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  bool RemoveFolder(const std::string& path) override;
  // Entries are classified with lstat: a symbolic link is reported as a link
  // and never followed.
  std::optional<std::vector<FolderEntry>> List(const std::string& path) override;
};

}  // namespace platform::linux_host
