#pragma once
// The description of a simulated station: host controllers, hubs, ports and
// what hangs on them. Built in code by tests, by DefaultWorld for `--sim` and
// `--sim=N`, or read from a JSON file (world_file.h).

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/system_info.h"
#include "platform/usb_tree.h"
#include "sim/station/sim_bridge.h"

namespace sim::station {

// A USB storage device on a port: a VX7700 bridge with its disk, or (with
// mass_storage_only) an ordinary stick the station must ignore.
// What holds a bridge's disk: a sparse image the simulator reads and writes
// itself, or a loop device over that image, a real block device that the
// host's disk, volume and tool backends work on.
enum class DiskBacking { kImage, kLoop };

struct BridgeSpec {
  BridgeIdentity factory;
  std::uint8_t chip_variant = 0x11;
  std::array<std::uint8_t, 7> firmware_version{0x12, 0x11, 0x05, 0x10, 0x00, 0x00, 0x00};
  platform::UsbSpeed speed = platform::UsbSpeed::kSuper;
  std::uint64_t disk_size = 500107862016ULL;  // 0: no medium
  std::uint32_t sector_size = kSimSectorSize;  // or kSim4KnSectorSize
  std::string ata_serial;                     // the disk's own serial number
  std::string in_use;                         // why the host uses the disk; empty: it does not
  DiskBacking disk_backing = DiskBacking::kImage;
  bool presents_cdrom = false;
  bool mass_storage_only = false;
  std::string driver_key_class = platform::kUsbDeviceClassGuid;
  // The device instance in the interface path; empty: the USB serial number,
  // as the system names devices that carry one.
  std::string instance_id;
  BridgeFaults faults;
  std::optional<SimConfigBlock> config_slot0;
  std::optional<SimConfigBlock> config_slot1;
  std::map<std::uint16_t, std::uint8_t> registers;  // set last
};

struct HubSpec;

struct PortSpec {
  int port = 1;
  std::optional<BridgeSpec> device;  // a storage device on this port, or
  std::shared_ptr<HubSpec> hub;      // an external hub
};

struct HubSpec {
  int port_count = 4;
  std::vector<PortSpec> ports;
};

struct ControllerSpec {
  HubSpec root_hub;
  bool driver_key_fails = false;  // the controller is passed over
};

struct WorldSpec {
  std::vector<ControllerSpec> controllers;
  std::uint64_t system_disk_size = 256060514304ULL;
  std::uint32_t reload_delay_ms = 2000;  // a restarted bridge is back after this
  platform::OsVersion os;
  // Where loop-backed disks keep their images after the run (relative to the
  // working directory); empty: kDefaultDiskFolder.
  std::string disk_folder;
};

inline constexpr const char* kDefaultDiskFolder = "sim-disks";

// True when a bridge of the world has a loop-backed disk.
bool HasLoopDisks(const WorldSpec& world);

inline constexpr int kDefaultWorldBridges = 4;

// The bounds of a world, as USB and the devices set them.
inline constexpr std::size_t kMaxControllers = 16;
inline constexpr int kMaxHubPorts = 127;
inline constexpr int kMaxHubChain = 5;                // external hubs between a root hub and a device
inline constexpr int kMaxDevicesPerController = 127;  // devices and hubs; USB addresses are 7 bits
inline constexpr std::size_t kMaxUsbText = 126;       // characters a string descriptor holds
inline constexpr std::size_t kMaxAtaSerial = 20;      // characters of the IDENTIFY serial number
inline constexpr std::size_t kMaxPathText = 255;      // instance ids and class texts
inline constexpr std::uint32_t kMaxDelayMs = 3'600'000;
// How deep a world file may nest: far more than the deepest world needs.
inline constexpr std::size_t kMaxWorldNesting = 64;

// A station of `bridges` VX7700 bridges of the default chip variant (register
// 0xC8FF = 0x11): three on root hub ports 1-3 of one controller, the rest on
// seven-port external hubs on root ports 4, 5, ...; distinct serial numbers and
// disk sizes from 32 GiB to 2 TB.
WorldSpec DefaultWorld(int bridges = kDefaultWorldBridges);

// The bridge DefaultWorld puts at position `index` (0-based).
BridgeSpec DefaultBridge(int index);

// Every storage device of a world, in the order of the description (root hub
// ports first, an external hub's devices where the hub sits).
std::vector<BridgeSpec*> BridgesOf(WorldSpec& world);

}  // namespace sim::station
