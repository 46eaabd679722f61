#pragma once
// The Linux host as the backend of the production station: the USB tree and
// the disks from sysfs, SCSI requests through SG_IO, plug and unplug events
// from udev, the bridge disks' volumes mounted below a station-owned folder,
// sfdisk, mkntfs and ntfslabel for the system tools, the host's files.

#include <string>
#include <vector>

#include "linetool/app/cli/host_disk_services.h"
#include "linetool/run/station_services.h"
#include "platform/linux/drive_naming.h"
#include "platform/linux/scsi_transport.h"
#include "platform/linux/sysfs_station.h"
#include "platform/linux/udev_device_events.h"

namespace linetool::cli {

// The folder below which the station mounts its volumes, one per drive letter.
inline constexpr const char* kHostDriveRoot = "/run/linetool/drives";

class HostStationBackend {
 public:
  // `clock` is real time; the system tools run in `host_workdir`; volumes
  // are mounted at <drive_root>/<letter>.
  HostStationBackend(platform::Clock& clock, const std::string& host_workdir,
                     const std::string& drive_root = kHostDriveRoot);

  app::StationServices Services();
  std::string DriveRoot() const { return disk_side_.DriveRoot(); }

  // Why plug and unplug events are not followed, or empty.
  std::string EventsError() const { return events_.Error(); }
  // Ends the watch for plug events; done before the run that listens goes.
  void StopEvents() { events_.Stop(); }
  // The device nodes of present disks other than drive 0 that this process
  // cannot read and write.
  std::vector<std::string> DisksOutOfReach();

 private:
  platform::linux_host::SgIoTransport transport_;
  platform::linux_host::DriveNaming naming_;
  platform::linux_host::SysfsStation station_;
  platform::linux_host::UdevDeviceEvents events_;
  HostDiskServices disk_side_;
};

}  // namespace linetool::cli
