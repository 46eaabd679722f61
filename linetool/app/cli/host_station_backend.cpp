#include "linetool/app/cli/host_station_backend.h"

namespace linetool::cli {

HostStationBackend::HostStationBackend(platform::Clock& clock, const std::string& host_workdir,
                                       const std::string& drive_root)
    : naming_("/sys/block", "/dev"),
      station_("/sys", "/dev", transport_, naming_),
      events_(platform::linux_host::StationNumbering{
          [this](const std::string& disk) { return naming_.NumberGivenTo(disk); },
          [this](const std::string& cdrom) { return station_.CdRomNumberOf(cdrom); }}),
      disk_side_(clock, host_workdir, drive_root, naming_) {}

app::StationServices HostStationBackend::Services() {
  return disk_side_.With(station_.Services(events_));
}

std::vector<std::string> HostStationBackend::DisksOutOfReach() {
  std::vector<std::string> out;
  for (const auto& name : naming_.Disks()) {
    const auto number = naming_.DriveNumberOf(name);
    if (!number || *number == 0) continue;
    const auto node = naming_.DiskDevice(*number);
    if (node && disk_side_.Access().Check(*node) != platform::PathState::kReadWrite) out.push_back(*node);
  }
  return out;
}

}  // namespace linetool::cli
