#pragma once
// A station whose bridges are simulated and whose disks are real: every
// loop-backed bridge of the world gets a loop device over its sparse image
// (kept in the world's disk folder after the run), and everything below the
// bridge (drive numbers, partition table, file system, mounts, files) goes
// through the Linux host's disk, volume and tool backends as a host run does.
// Only the station's own loop devices have drive numbers: drive 0 and every
// other disk of the host are out of reach. Header-only, shared by
// linetool-cli and the tests.

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "linetool/app/cli/host_disk_services.h"
#include "linetool/run/station_services.h"
#include "platform/linux/drive_naming.h"
#include "platform/linux/loop_device.h"
#include "sim/station/station_world.h"

namespace linetool::cli {

class LoopStationBackend {
 public:
  // Disk images go to `disk_folder`, mounts below <drive_root>/<letter>.
  // Check Error() before use: loop devices may not be available here.
  LoopStationBackend(const sim::station::WorldSpec& spec, platform::Clock& clock,
                     const std::filesystem::path& disk_folder, const std::filesystem::path& drive_root,
                     const std::string& host_workdir)
      : world_(spec, clock, disk_folder),
        naming_([this] { return Pinned(); }),
        disk_side_(clock, host_workdir, drive_root.string(), naming_) {
    for (const auto& image : world_.LoopBackedImages()) {
      auto loop = platform::linux_host::LoopDevice::Attach(image.string(), error_);
      if (!loop) break;
      loops_.emplace(image, std::move(loop));
    }
  }
  ~LoopStationBackend() { Release(); }
  LoopStationBackend(const LoopStationBackend&) = delete;
  LoopStationBackend& operator=(const LoopStationBackend&) = delete;

  // Why the loop devices could not all be attached, or empty.
  const std::string& Error() const { return error_; }

  app::StationServices Services() {
    return disk_side_.With(world_.Services());
  }
  sim::station::StationWorld& World() { return world_; }
  std::string DriveRoot() const { return disk_side_.DriveRoot(); }
  // The loop device over a disk image ("/dev/loop3"), or empty.
  std::string LoopOf(const std::filesystem::path& image) const {
    const auto it = loops_.find(image);
    return it == loops_.end() ? std::string() : it->second->Path();
  }
  // Pulls a disk: its loop device goes away under the run.
  bool Detach(const std::filesystem::path& image) {
    const auto it = loops_.find(image);
    return it != loops_.end() && it->second->Detach();
  }
  // Unmounts every volume of the station and detaches its loop devices.
  void Release() {
    for (char letter = 'D'; letter <= 'Z'; ++letter) disk_side_.Volumes().Unmount(letter);
    loops_.clear();
  }

 private:
  // Drive number -> loop device, for the loop-backed disks present now. A
  // pulled disk has none: its old loop device may be someone else's by now.
  std::map<int, std::string> Pinned() {
    std::map<int, std::string> out;
    for (const auto& d : world_.Disks()) {
      const auto it = loops_.find(d.image_path);
      if (!d.system_disk && it != loops_.end() && it->second->Attached()) out[d.drive_number] = it->second->Name();
    }
    return out;
  }

  sim::station::StationWorld world_;
  std::map<std::filesystem::path, std::unique_ptr<platform::linux_host::LoopDevice>> loops_;
  std::string error_;
  platform::linux_host::DriveNaming naming_;
  HostDiskServices disk_side_;
};

}  // namespace linetool::cli
