#pragma once
// What the station keeps of one unit after a run: one record per port and
// run, written beside the daily log when a records store is set.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace linetool::records {

inline constexpr std::size_t kRecordStages = 7;
// The stages in job order, as records and their exports name them.
inline constexpr std::array<std::string_view, kRecordStages> kStageNames = {
    "config", "firmware", "relink", "partition", "format", "write_read", "preload"};

enum class StageResult : int { kOff = -1, kFail = 0, kPass = 1 };

struct StageOutcome {
  StageResult result = StageResult::kOff;
  std::int64_t milliseconds = 0;  // time the stage took on the station's clock
  bool operator==(const StageOutcome&) const = default;
};

// The bridge as its descriptors and firmware register show it.
struct DeviceIdentity {
  std::string vid;
  std::string pid;
  std::string serial;
  std::string firmware_version;
  bool operator==(const DeviceIdentity&) const = default;
};

struct UnitRecord {
  std::string run_id;   // the same for every port of one run
  std::string station;  // the station's name
  std::string time;     // local time the port's record was made, "YYYY-MM-DD HH:MM:SS"
  int port = 0;         // port slot 0-15
  std::string usb_location;  // hub device path and port on it
  DeviceIdentity before;     // at Start
  DeviceIdentity after;      // when the run ended (after a restart: as found again)
  std::string serial_written;  // the serial number the configuration wrote; empty when none
  std::string firmware_file;   // as the profile names it; empty when the firmware stage is off
  std::string firmware_sha256;
  std::string profile_file;
  std::string profile_sha256;
  std::array<StageOutcome, kRecordStages> stages{};
  std::int64_t capacity = -1;  // bytes; -1 unknown
  std::string ata_model;       // empty when unknown
  std::string ata_serial;
  bool passed = false;  // as the Pass/Fail counters counted the port
  bool operator==(const UnitRecord&) const = default;
};

}  // namespace linetool::records
