#pragma once
// The Linux host's disk side of the station, as one bundle: volumes mounted
// below a station-owned folder, disk requests, the system tools (sfdisk,
// mkntfs, ntfslabel, the FAT32 formatter), the host's files and path checks,
// over the drive numbers a DriveNaming gives. The host station and the
// loop-backed station both build their disk side from it.

#include <string>

#include "linetool/run/station_services.h"
#include "platform/linux/drive_naming.h"
#include "platform/linux/host_services.h"
#include "platform/linux/linux_disk_requests.h"
#include "platform/linux/linux_system_tools.h"
#include "platform/linux/linux_volumes.h"
#include "platform/linux/posix_files.h"

namespace linetool::cli {

class HostDiskServices {
 public:
  // `naming` outlives the bundle; the system tools run in `host_workdir` on
  // `clock`; volumes are mounted at <drive_root>/<letter>.
  HostDiskServices(platform::Clock& clock, const std::string& host_workdir, const std::string& drive_root,
                   platform::linux_host::DriveNaming& naming)
      : clock_(clock),
        volumes_(drive_root, naming),
        disks_(naming, volumes_, clock),
        tools_(clock, host_workdir, naming, volumes_) {}

  // The station's bundle: these disk services beside the bridge side `devices`.
  app::StationServices With(platform::DeviceServices devices) {
    return app::StationServices{devices, disks_, volumes_, tools_, files_, access_, clock_};
  }
  std::string DriveRoot() const { return volumes_.DriveRoot(); }
  platform::linux_host::LinuxVolumes& Volumes() { return volumes_; }
  platform::linux_host::HostPathAccess& Access() { return access_; }

 private:
  platform::Clock& clock_;
  platform::linux_host::LinuxVolumes volumes_;
  platform::linux_host::LinuxDiskRequests disks_;
  platform::linux_host::LinuxSystemTools tools_;
  platform::linux_host::PosixFiles files_;
  platform::linux_host::HostPathAccess access_;
};

}  // namespace linetool::cli
