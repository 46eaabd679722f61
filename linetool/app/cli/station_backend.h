#pragma once
// The device backend a linetool-cli command runs on: the simulated station
// (--sim, --sim=N, --sim=FILE) or the Linux host.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "linetool/app/cli/cli_command.h"
#include "platform/clock.h"
#include "platform/device_services.h"
#include "sim/station/world_description.h"

namespace sim::station {
class StationWorld;
}

namespace linetool::cli {

// The simulated world the --sim option names (the default world, N bridges
// or a JSON world file), its disk folder a host path in the working folder;
// nothing with `error` set for a bad value.
std::optional<sim::station::WorldSpec> SimWorldOf(const CliContext& ctx, std::string& error);

class StationBackend {
 public:
  // nullptr with `error` set when the world cannot be built (a bad --sim
  // value or world file).
  static std::unique_ptr<StationBackend> Open(const CliContext& ctx, std::string& error);
  virtual ~StationBackend() = default;

  virtual platform::DeviceServices Services() = 0;
  virtual platform::Clock& GetClock() = 0;
  // The simulated world, or nullptr on real hardware.
  virtual sim::station::StationWorld* World() { return nullptr; }
};

}  // namespace linetool::cli
