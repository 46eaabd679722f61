#pragma once
// A simulated station for the disk preparation tests: bridges with disks of
// chosen sizes (drive numbers 1, 2, ...), volumes, system tools and files,
// a working directory, and a clock in virtual time.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "linetool/disk/disk_services.h"
#include "platform/linux/host_services.h"
#include "sim/station/sim_system_tools.h"
#include "sim/station/sim_volume_files.h"
#include "sim/station/sim_volumes.h"
#include "sim/station/station_world.h"

namespace disk_test {

namespace fs = std::filesystem;

inline constexpr std::uint64_t kMiB = 1048576;

class SimStationTest : public ::testing::Test {
 protected:
  // One bridge per size (bytes); drive numbers follow in that order. Disks
  // have 512-byte sectors unless `sector_sizes` says otherwise.
  void Build(std::vector<std::uint64_t> disk_sizes, std::vector<std::uint32_t> sector_sizes = {}) {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("disk_sim_" + std::to_string(rd()));
    fs::create_directories(root_ / "work");
    sim::station::WorldSpec spec = sim::station::DefaultWorld(static_cast<int>(disk_sizes.size()));
    int i = 0;
    ForEachBridge(spec, [&](sim::station::BridgeSpec& b) {
      const auto n = static_cast<std::size_t>(i++);
      b.disk_size = disk_sizes[n];
      if (n < sector_sizes.size()) b.sector_size = sector_sizes[n];
    });
    world_ = std::make_unique<sim::station::StationWorld>(spec, clock_, root_ / "disks");
    set_ = &sim::station::SimVolumeSet::AttachTo(*world_, root_ / "drives");
    volumes_ = std::make_unique<sim::station::SimVolumes>(*set_);
    disks_ = std::make_unique<sim::station::SimDiskRequests>(*set_);
    tools_ = std::make_unique<sim::station::SimSystemTools>(*set_, Workdir());
    files_ = std::make_unique<sim::station::SimVolumeFiles>(*set_);
    services_ = std::make_unique<linetool::disk::DiskServices>(linetool::disk::DiskServices{
        *disks_, *volumes_, *tools_, *files_, access_, clock_, Workdir(), &polling_, {}});
  }

  void TearDown() override {
    services_.reset();
    files_.reset();
    tools_.reset();
    disks_.reset();
    volumes_.reset();
    world_.reset();
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  template <class F>
  static void ForEachBridge(sim::station::WorldSpec& spec, F&& f) {
    std::function<void(sim::station::HubSpec&)> walk = [&](sim::station::HubSpec& hub) {
      for (auto& p : hub.ports) {
        if (p.device) f(*p.device);
        if (p.hub) walk(*p.hub);
      }
    };
    for (auto& c : spec.controllers) walk(c.root_hub);
  }

  std::string Workdir() const { return (root_ / "work").string(); }
  fs::path DriveFolder(char letter) const { return root_ / "drives" / std::string(1, letter); }

  // A file of `size` bytes in the working directory; sparse unless a fill
  // pattern is asked for.
  void MakeFile(const fs::path& path, std::uint64_t size, bool patterned = false) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    if (patterned) {
      for (std::uint64_t i = 0; i < size; ++i) out.put(static_cast<char>((i * 131 + 7) & 0xFF));
    }
    out.close();
    fs::resize_file(path, size);
  }

  // Partitions and letters a disk as the script would, without the steps.
  void PrepareVolume(int drive, char letter) {
    ASSERT_EQ(tools_->RunScript(" select disk " + std::to_string(drive) +
                                "\n clean \ncreate partition primary \n active\n assign letter=" + letter + "\n"),
              0);
  }

  platform::ManualClock clock_{std::chrono::milliseconds(0), /*auto_advance=*/true};
  platform::linux_host::HostPathAccess access_;
  std::atomic<bool> polling_{true};
  fs::path root_;
  std::unique_ptr<sim::station::StationWorld> world_;
  sim::station::SimVolumeSet* set_ = nullptr;
  std::unique_ptr<sim::station::SimVolumes> volumes_;
  std::unique_ptr<sim::station::SimDiskRequests> disks_;
  std::unique_ptr<sim::station::SimSystemTools> tools_;
  std::unique_ptr<sim::station::SimVolumeFiles> files_;
  std::unique_ptr<linetool::disk::DiskServices> services_;
};

}  // namespace disk_test
