#pragma once
// Host files for the simulated station. Paths below the drive root belong to
// a volume: they work only while the volume is mounted with a file system,
// writes stop when the partition's room is used up, and a volume's faults
// apply (full, different data on read). Every other path is an ordinary host
// file.

#include <optional>

#include "platform/std_files.h"
#include "sim/station/sim_volume_set.h"

namespace sim::station {

class SimVolumeFiles final : public platform::StdFiles {
 public:
  explicit SimVolumeFiles(SimVolumeSet& set) : set_(set) {}

  std::unique_ptr<platform::HostFile> Open(const std::string& path, platform::FileOpen mode) override;
  bool Exists(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  bool RemoveFolder(const std::string& path) override;
  std::optional<std::vector<platform::FolderEntry>> List(const std::string& path) override;

  // The letter whose volume holds `path`, nullopt for ordinary host paths.
  std::optional<char> VolumeOf(const std::string& path) const;

 private:
  // False for a path on a volume that is not mounted with a file system.
  bool Usable(const std::string& path);

  SimVolumeSet& set_;
};

}  // namespace sim::station
