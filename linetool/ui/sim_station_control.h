#pragma once
// What the "Simulated station" panel does, without widgets: the bridges of the
// simulated world with their state, plugging and pulling them, and the faults
// an operator can give a bridge to try a failing run, auto mode or Safely
// Remove without hardware.

#include <string>
#include <vector>

namespace sim::station {
class StationWorld;
class SimVolumeSet;
}  // namespace sim::station

namespace linetool::ui {

enum class SimFault {
  kConfigWriteFails,    // the configuration block write is refused
  kFirmwareFails,       // the firmware download is refused
  kNeverReturns,        // after its restart the bridge stays away
  kSlowReturn,          // after its restart the bridge comes back after 30 s
  kVolumeFull,          // its volume has no room
  kReadBackDiffers,     // its volume returns changed data
};

struct SimFaultInfo {
  SimFault fault;
  const char* caption;
};
const std::vector<SimFaultInfo>& SimFaults();

struct SimBridgeLine {
  int index = 0;
  bool online = false;
  std::string text;  // "Bridge 3 - on the bus - config write fails"
};

class SimStationControl {
 public:
  SimStationControl(sim::station::StationWorld& world, sim::station::SimVolumeSet& volumes);

  std::vector<SimBridgeLine> Bridges();
  // Plug events reach the station as from real hardware.
  void Plug(int index);
  void Unplug(int index);
  // Empty when done, else why not.
  std::string Inject(int index, SimFault fault);
  void ClearFaults(int index);

 private:
  bool Valid(int index) const;
  std::string FaultText(int index);

  sim::station::StationWorld& world_;
  sim::station::SimVolumeSet& volumes_;
  std::vector<std::vector<SimFault>> injected_;
  std::vector<char> letters_;  // letters given volume faults, per bridge
};

}  // namespace linetool::ui
