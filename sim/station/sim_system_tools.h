#pragma once
// The system tools the station starts, carried out on the simulated disks:
// "diskpart.exe /s SCRIPT" runs the script's commands (list disk, select disk,
// clean, create partition primary, active, select partition, assign letter);
// "format.com X:/Q /FS:NTFS /y" writes an NTFS boot sector; "label.exe X: NAME"
// sets the volume name. Each tool has finished when Launch returns; its exit
// code is 0 on success, as the real tools report.

#include <mutex>
#include <string>
#include <vector>

#include "platform/system_tools.h"
#include "sim/station/sim_volume_set.h"

namespace sim::station {

class SimSystemTools final : public platform::SystemTools {
 public:
  // Script names in the parameters are taken against `host_workdir`.
  SimSystemTools(SimVolumeSet& set, std::string host_workdir);

  std::unique_ptr<platform::ToolProcess> Launch(const std::string& program, const std::string& parameters) override;

  // The next `count` launches fail (the tool cannot be started).
  void FailLaunches(int count);
  // Every launch so far: program, a blank, parameters.
  std::vector<std::string> Launches() const;

  // Runs a partition script; the exit code.
  int RunScript(const std::string& script);

 private:
  int Format(const std::string& parameters);
  int Label(const std::string& parameters);

  SimVolumeSet& set_;
  std::string workdir_;
  mutable std::mutex mutex_;
  int failing_launches_ = 0;
  std::vector<std::string> launches_;
};

}  // namespace sim::station
