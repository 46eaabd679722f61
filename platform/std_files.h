#pragma once
// HostFiles with the C++ standard library alone. Flush hands the data to the
// host but cannot drop its cached pages; the Linux backend's files do both.

#include "platform/host_files.h"

namespace platform {

class StdFiles : public HostFiles {
 public:
  std::unique_ptr<HostFile> Open(const std::string& path, FileOpen mode) override;
  bool Exists(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  bool RemoveFolder(const std::string& path) override;
  std::optional<std::vector<FolderEntry>> List(const std::string& path) override;
};

}  // namespace platform
