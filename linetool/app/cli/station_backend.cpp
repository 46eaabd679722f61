#include "linetool/app/cli/station_backend.h"

#include <random>

#include "platform/linux/host_services.h"
#include "platform/number_text.h"
#include "platform/linux/scsi_transport.h"
#include "platform/linux/sysfs_station.h"
#include "sim/station/station_world.h"
#include "sim/station/world_file.h"

namespace linetool::cli {

namespace {

constexpr std::uint64_t kMaxSimBridges = 64;

// The simulated station; its disk images live in a temporary folder that
// goes with it.
class SimBackend final : public StationBackend {
 public:
  SimBackend(const sim::station::WorldSpec& spec, std::filesystem::path folder)
      : folder_(std::move(folder)), clock_(platform::linux_host::MakeSystemClock()), world_(spec, clock_, folder_) {}
  ~SimBackend() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  platform::DeviceServices Services() override { return world_.Services(); }
  platform::Clock& GetClock() override { return clock_; }
  sim::station::StationWorld* World() override { return &world_; }

 private:
  std::filesystem::path folder_;
  platform::SteadyClock clock_;
  sim::station::StationWorld world_;
};

// The Linux host: sysfs for the USB tree and the disks, SG_IO for requests.
class HostBackend final : public StationBackend {
 public:
  HostBackend()
      : clock_(platform::linux_host::MakeSystemClock()), station_("/sys", "/dev", transport_, naming_) {}
  platform::DeviceServices Services() override { return station_.Services(); }
  platform::Clock& GetClock() override { return clock_; }

 private:
  platform::SteadyClock clock_;
  platform::linux_host::SgIoTransport transport_;
  platform::linux_host::DriveNaming naming_{"/sys/block", "/dev"};
  platform::linux_host::SysfsStation station_;
};

std::filesystem::path FreshTempFolder() {
  std::random_device rd;
  std::error_code ec;
  auto base = std::filesystem::temp_directory_path(ec);
  if (ec) base = ".";
  return base / ("linetool-sim-" + std::to_string(rd()));
}

}  // namespace

std::optional<sim::station::WorldSpec> SimWorldOf(const CliContext& ctx, std::string& error) {
  const std::string& spec = ctx.options.sim_spec;
  std::optional<sim::station::WorldSpec> world;
  if (spec.empty()) {
    world = sim::station::DefaultWorld();
  } else if (spec.find_first_not_of("0123456789") == std::string::npos) {
    const auto n = platform::ParseUnsigned(spec, 10, kMaxSimBridges);
    if (!n || *n < 1) {
      error = "--sim=N takes a bridge count from 1 to " + std::to_string(kMaxSimBridges) + ", not " + spec;
      return std::nullopt;
    }
    world = sim::station::DefaultWorld(static_cast<int>(*n));
  } else {
    std::filesystem::path file(spec);
    if (file.is_relative()) file = std::filesystem::path(ctx.host_workdir) / file;
    world = sim::station::ReadWorldFile(file, error);
  }
  // The disk folder is the station's, so a relative one lies in the working
  // folder as every relative name of the station does.
  if (world) {
    if (world->disk_folder.empty()) world->disk_folder = sim::station::kDefaultDiskFolder;
    world->disk_folder = HostPathOfArgument(ctx, world->disk_folder);
  }
  return world;
}

std::unique_ptr<StationBackend> StationBackend::Open(const CliContext& ctx, std::string& error) {
  if (!ctx.options.sim) return std::make_unique<HostBackend>();
  const auto world = SimWorldOf(ctx, error);
  if (!world) return nullptr;
  return std::make_unique<SimBackend>(*world, FreshTempFolder());
}

}  // namespace linetool::cli
