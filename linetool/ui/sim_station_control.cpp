#include "linetool/ui/sim_station_control.h"

#include <algorithm>

#include "sim/station/sim_volume_set.h"
#include "sim/station/station_world.h"

namespace linetool::ui {

namespace {

constexpr std::uint8_t kConfigWriteOpcode = 0xE1;
constexpr std::uint8_t kFirmwareOpcode = 0xE3;
constexpr std::uint32_t kSlowReturnMs = 30000;

}  // namespace

const std::vector<SimFaultInfo>& SimFaults() {
  static const std::vector<SimFaultInfo> faults = {
      {SimFault::kConfigWriteFails, "Config write fails"},
      {SimFault::kFirmwareFails, "FW download fails"},
      {SimFault::kNeverReturns, "Never returns after restart"},
      {SimFault::kSlowReturn, "Returns 30 s after restart"},
      {SimFault::kVolumeFull, "Volume full"},
      {SimFault::kReadBackDiffers, "Reads back changed data"},
  };
  return faults;
}

SimStationControl::SimStationControl(sim::station::StationWorld& world, sim::station::SimVolumeSet& volumes)
    : world_(world),
      volumes_(volumes),
      injected_(world.DeviceCount()),
      letters_(world.DeviceCount(), 0) {}

bool SimStationControl::Valid(int index) const {
  return index >= 0 && static_cast<std::size_t>(index) < world_.DeviceCount();
}

std::string SimStationControl::FaultText(int index) {
  std::string text;
  for (SimFault f : injected_[static_cast<std::size_t>(index)]) {
    for (const auto& info : SimFaults())
      if (info.fault == f) text += std::string(text.empty() ? "" : ", ") + info.caption;
  }
  return text;
}

std::vector<SimBridgeLine> SimStationControl::Bridges() {
  std::vector<SimBridgeLine> lines;
  for (std::size_t i = 0; i < world_.DeviceCount(); ++i) {
    SimBridgeLine line;
    line.index = static_cast<int>(i);
    line.online = world_.Online(i);
    line.text = "Bridge " + std::to_string(i) + (line.online ? " - on the bus" : " - pulled out");
    const std::string faults = FaultText(line.index);
    if (!faults.empty()) line.text += " - " + faults;
    lines.push_back(std::move(line));
  }
  return lines;
}

void SimStationControl::Plug(int index) {
  if (Valid(index)) world_.Plug(static_cast<std::size_t>(index));
}

void SimStationControl::Unplug(int index) {
  if (Valid(index)) world_.Unplug(static_cast<std::size_t>(index));
}

std::string SimStationControl::Inject(int index, SimFault fault) {
  if (!Valid(index)) return "There is no bridge " + std::to_string(index) + ".";
  const auto i = static_cast<std::size_t>(index);
  switch (fault) {
    case SimFault::kConfigWriteFails:
    case SimFault::kFirmwareFails: {
      const std::uint8_t opcode = fault == SimFault::kConfigWriteFails ? kConfigWriteOpcode : kFirmwareOpcode;
      // Counted from the requests made so far: the next one fails.
      world_.WithDevice(i, [opcode](sim::station::SimBridge& b) {
        b.Faults().fail_from_call[opcode] = b.Calls(opcode) + 1;
      });
      break;
    }
    case SimFault::kNeverReturns:
      world_.WithDevice(i, [](sim::station::SimBridge& b) { b.Faults().never_returns = true; });
      break;
    case SimFault::kSlowReturn:
      world_.WithDevice(i, [](sim::station::SimBridge& b) { b.Faults().return_delay_ms = kSlowReturnMs; });
      break;
    case SimFault::kVolumeFull:
    case SimFault::kReadBackDiffers: {
      const auto drive = world_.DriveNumberOf(i);
      const auto letter = drive ? volumes_.LetterOf(*drive) : std::nullopt;
      if (!letter)
        return "Bridge " + std::to_string(index) +
               " has no volume yet: run it once with Partition / Format, then give its volume a fault.";
      sim::station::VolumeFaults faults = volumes_.Faults(*letter);
      (fault == SimFault::kVolumeFull ? faults.full : faults.corrupt_reads) = true;
      volumes_.SetFaults(*letter, faults);
      letters_[i] = *letter;
      break;
    }
  }
  auto& list = injected_[i];
  if (std::find(list.begin(), list.end(), fault) == list.end()) list.push_back(fault);
  return {};
}

void SimStationControl::ClearFaults(int index) {
  if (!Valid(index)) return;
  const auto i = static_cast<std::size_t>(index);
  world_.WithDevice(i, [](sim::station::SimBridge& b) { b.Faults() = {}; });
  if (letters_[i] != 0) volumes_.SetFaults(letters_[i], {});
  letters_[i] = 0;
  injected_[i].clear();
}

}  // namespace linetool::ui
