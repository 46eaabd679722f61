#pragma once
// The simulated station as the backend of the production station: the world
// of bridges and disks, its volumes, system tools and volume files, all below
// one host folder. Header-only, shared by linetool-cli and the tests.

#include <filesystem>
#include <memory>
#include <string>

#include "linetool/run/station_services.h"
#include "platform/linux/host_services.h"
#include "sim/station/sim_system_tools.h"
#include "sim/station/sim_volume_files.h"
#include "sim/station/sim_volume_set.h"
#include "sim/station/sim_volumes.h"
#include "sim/station/station_world.h"

namespace linetool::cli {

class SimStationBackend {
 public:
  // Disk images go to <root>/disks, volume files to <root>/drives; system
  // tools find their scripts in `host_workdir`.
  SimStationBackend(const sim::station::WorldSpec& spec, platform::Clock& clock, const std::filesystem::path& root,
                    const std::string& host_workdir)
      : clock_(clock),
        world_(spec, clock, root / "disks"),
        set_(sim::station::SimVolumeSet::AttachTo(world_, root / "drives")),
        volumes_(set_),
        disks_(set_),
        tools_(set_, host_workdir),
        files_(set_) {}

  app::StationServices Services() {
    return app::StationServices{world_.Services(), disks_, volumes_, tools_, files_, access_, clock_};
  }
  sim::station::StationWorld& World() { return world_; }
  sim::station::SimVolumeSet& VolumeSet() { return set_; }
  std::string DriveRoot() const { return set_.DriveRoot().string(); }

 private:
  platform::Clock& clock_;
  sim::station::StationWorld world_;
  sim::station::SimVolumeSet& set_;
  sim::station::SimVolumes volumes_;
  sim::station::SimDiskRequests disks_;
  sim::station::SimSystemTools tools_;
  sim::station::SimVolumeFiles files_;
  platform::linux_host::HostPathAccess access_;
};

}  // namespace linetool::cli
