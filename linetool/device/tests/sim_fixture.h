#pragma once
// A simulated station in a temporary folder, for the device tests.

#include <filesystem>
#include <memory>
#include <random>

#include "linetool/device/bridge_operations.h"
#include "linetool/device/kelv_usb_lib.h"
#include "platform/clock.h"
#include "sim/station/station_world.h"

namespace linetool::device::testing {

class TempFolder {
 public:
  TempFolder() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("device_test_" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct SimStation {
  explicit SimStation(const sim::station::WorldSpec& spec, bool auto_advance = true)
      : clock(platform::Clock::Millis{0}, auto_advance),
        world(spec, clock, folder.path() / "disks"),
        lib(world.Services()) {}

  std::uint8_t Refresh(bool cd_rom_mode = false, DriveLetterLookup letters = {}) {
    return lib.Refresh(table, {cd_rom_mode, std::move(letters)});
  }

  BridgeOperations Operations(DriveLetterLookup letters = {}) {
    return BridgeOperations(lib, table, clock, folder.path().string(), ReloadSync{reload_lock, reload_count},
                            std::move(letters));
  }

  std::unique_ptr<platform::DeviceHandle> OpenDrive(int n) {
    return world.Open({PhysicalDrivePath(n), platform::kAccessRead | platform::kAccessWrite,
                       platform::kShareRead | platform::kShareWrite, platform::kOpenPlain});
  }

  TempFolder folder;
  platform::ManualClock clock;
  sim::station::StationWorld world;
  CKelvUSBLib lib;
  DeviceTable table;
  std::mutex reload_lock;
  int reload_count = 0;
};

}  // namespace linetool::device::testing
