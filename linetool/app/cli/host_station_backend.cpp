#include "linetool/app/cli/host_station_backend.h"

namespace linetool::cli {

HostStationBackend::HostStationBackend(platform::Clock& clock, const std::string& host_workdir,
                                       const std::string& drive_root)
    : clock_(clock),
      naming_("/sys/block", "/dev"),
      station_("/sys", "/dev", transport_, naming_),
      events_(platform::linux_host::StationNumbering{
          [this](const std::string& disk) { return naming_.NumberGivenTo(disk); },
          [this](const std::string& cdrom) { return station_.CdRomNumberOf(cdrom); }}),
      volumes_(drive_root, naming_),
      disks_(naming_, volumes_),
      tools_(clock, host_workdir, naming_, volumes_) {}

app::StationServices HostStationBackend::Services() {
  return app::StationServices{station_.Services(events_), disks_, volumes_, tools_, files_, access_, clock_};
}

std::vector<std::string> HostStationBackend::DisksOutOfReach() {
  std::vector<std::string> out;
  for (const auto& name : naming_.Disks()) {
    const auto number = naming_.DriveNumberOf(name);
    if (!number || *number == 0) continue;
    const auto node = naming_.DiskDevice(*number);
    if (node && access_.Check(*node) != platform::PathState::kReadWrite) out.push_back(*node);
  }
  return out;
}

}  // namespace linetool::cli
