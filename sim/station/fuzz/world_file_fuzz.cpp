// World files of the simulated station from any text: a world that is read
// builds and its bridges are found by the station's walk, as `--sim=FILE list`
// does; a world that is refused says why.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "linetool/device/device_table.h"
#include "linetool/device/kelv_usb_lib.h"
#include "platform/clock.h"
#include "sim/station/station_world.h"
#include "sim/station/world_file.h"
#include "tools/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFolder scratch("world_file_fuzz");
  std::string error;
  const auto spec = sim::station::ParseWorld(fuzz::AsText(data, size), error);
  if (!spec) {
    fuzz::Check(!error.empty(), "a refused world without a reason");
    return 0;
  }
  platform::ManualClock clock(platform::Clock::Millis{0}, true);
  sim::station::StationWorld world(*spec, clock, scratch.Path() / "disks");
  linetool::device::CKelvUSBLib lib(world.Services());
  linetool::device::DeviceTable table;
  (void)lib.Refresh(table, {});
  fuzz::Check(table.device_count <= linetool::device::kMaxBridges, "more rows than the table has");
  return 0;
}
