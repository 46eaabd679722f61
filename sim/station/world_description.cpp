#include "sim/station/world_description.h"

#include <cstdio>

namespace sim::station {

namespace {

constexpr std::uint64_t kGiB = 1024ULL * 1024 * 1024;

// Disk sizes as drives of those capacities report them.
constexpr std::array<std::uint64_t, 8> kDiskSizes = {
    32 * kGiB,        64 * kGiB,         120034123776ULL,  250059350016ULL,
    500107862016ULL,  1000204886016ULL,  2000398934016ULL, 320072933376ULL,
};

}  // namespace

BridgeSpec DefaultBridge(int index) {
  BridgeSpec b;
  char serial[32];
  std::snprintf(serial, sizeof serial, "20121105%06d", index + 1);
  b.factory.serial = serial;
  char ata[32];
  std::snprintf(ata, sizeof ata, "SIM%02dWX%08d", index % 100, 41000 + (index * 7919));
  b.ata_serial = ata;
  // Every size appears once per eight bridges; later rounds are a few
  // sectors smaller so that no two disks are alike.
  b.disk_size = kDiskSizes[static_cast<std::size_t>(index) % kDiskSizes.size()] -
                static_cast<std::uint64_t>(index / static_cast<int>(kDiskSizes.size())) * 2048 * 512;
  return b;
}

WorldSpec DefaultWorld(int bridges) {
  WorldSpec w;
  ControllerSpec c;
  constexpr int kOnRoot = 3;
  constexpr int kHubPorts = 7;
  const int on_root = bridges < kOnRoot ? (bridges < 0 ? 0 : bridges) : kOnRoot;
  const int rest = bridges - on_root;
  const int hubs = rest <= 0 ? 1 : (rest + kHubPorts - 1) / kHubPorts;
  c.root_hub.port_count = kOnRoot + hubs;
  int next = 0;
  for (int p = 1; p <= on_root; ++p) c.root_hub.ports.push_back({p, DefaultBridge(next++), nullptr});
  for (int h = 0; h < hubs; ++h) {
    auto hub = std::make_shared<HubSpec>();
    hub->port_count = kHubPorts;
    for (int p = 1; p <= kHubPorts && next < bridges; ++p) {
      hub->ports.push_back({p, DefaultBridge(next++), nullptr});
    }
    c.root_hub.ports.push_back({kOnRoot + 1 + h, std::nullopt, hub});
  }
  w.controllers.push_back(std::move(c));
  return w;
}

std::vector<BridgeSpec*> BridgesOf(WorldSpec& world) {
  std::vector<BridgeSpec*> out;
  const auto walk = [&out](const auto& self, HubSpec& hub) -> void {
    for (auto& p : hub.ports) {
      if (p.device) out.push_back(&*p.device);
      if (p.hub) self(self, *p.hub);
    }
  };
  for (auto& c : world.controllers) walk(walk, c.root_hub);
  return out;
}

bool HasLoopDisks(const WorldSpec& world) {
  auto copy = world;
  for (const BridgeSpec* b : BridgesOf(copy)) {
    if (b->disk_backing == DiskBacking::kLoop) return true;
  }
  return false;
}

}  // namespace sim::station
