#pragma once
// The simulated station: host controllers, root and external hubs, VX7700
// bridges with their disks, the system disk (drive 0), disk and CD-ROM
// numbering as the station's system does it, the disk count and plug events.
// It is the backend of every device service the bridge access uses.
//
// Time: a restarted bridge comes back once the world's clock has reached its
// return time; the world looks at the clock at every request, so a re-find
// loop that waits with the same clock sees it come back.
//
// Thread-safe: one lock guards the world; disk image I/O runs outside it.
// Handles, hubs and controllers it hands out must not outlive it.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/device_services.h"
#include "sim/station/sim_bridge.h"
#include "sim/station/sim_disk.h"
#include "sim/station/world_description.h"

namespace sim::station {

// A disk as the world holds it, for services that work on disk images.
struct SimDiskInfo {
  int drive_number = -1;
  std::filesystem::path image_path;
  std::uint64_t size_bytes = 0;
  std::uint32_t sector_size = kSimSectorSize;
  bool system_disk = false;
  int device_index = -1;  // the USB storage device it belongs to (-1: system disk)
};

// The model of the storage device `spec` describes, the `index`-th of its
// world (BridgesOf order), with its disk image "usb_disk_NN.img" in
// `disk_folder`. The world builds its devices with it; the USB face of the
// simulator builds the same models for a virtual machine.
std::shared_ptr<SimBridge> BuildBridgeModel(const BridgeSpec& spec, int index,
                                            const std::filesystem::path& disk_folder);

// Something added to a world by another part of the simulator (volumes,
// system tools). The world owns it and destroys it first.
class WorldService {
 public:
  virtual ~WorldService() = default;
};

class StationWorld final : public platform::DeviceIo,
                           public platform::UsbTree,
                           public platform::StorageEnumerator,
                           public platform::SystemInfo,
                           public platform::DeviceEvents {
 public:
  // Disk images go to `disk_folder` (created when missing).
  StationWorld(const WorldSpec& spec, platform::Clock& clock, std::filesystem::path disk_folder);
  ~StationWorld() override;
  StationWorld(const StationWorld&) = delete;
  StationWorld& operator=(const StationWorld&) = delete;

  platform::DeviceServices Services();
  platform::Clock& GetClock() { return clock_; }

  // platform::DeviceIo
  std::unique_ptr<platform::DeviceHandle> Open(const platform::DeviceOpenRequest& request) override;
  // platform::UsbTree
  std::vector<std::string> HostControllerPaths() override;
  std::unique_ptr<platform::UsbHostController> OpenHostController(const std::string& path) override;
  std::unique_ptr<platform::UsbHub> OpenHub(const std::string& path) override;
  // platform::StorageEnumerator
  platform::StorageDeviceSet Enumerate() override;
  // platform::SystemInfo
  platform::OsVersion Version() override;
  std::uint32_t DiskCount() override;
  // platform::DeviceEvents
  int Subscribe(Listener listener) override;
  void Unsubscribe(int id) override;

  // Disks present now, by drive number (the system disk is drive 0).
  std::vector<SimDiskInfo> Disks();
  std::optional<SimDiskInfo> DiskByDriveNumber(int drive_number);
  // The image object of a present disk, for sector access beside the handles.
  std::shared_ptr<SimDisk> DiskImage(int drive_number);
  // The images of the loop-backed disks that have a medium, present or not.
  std::vector<std::filesystem::path> LoopBackedImages();

  // USB storage devices (bridges and ordinary sticks) in walk order.
  std::size_t DeviceCount() const { return devices_.size(); }
  // Runs `f` on a device's model under the world's lock.
  template <class F>
  auto WithDevice(std::size_t index, F&& f) {
    std::lock_guard lock(mutex_);
    return f(*devices_.at(index)->model);
  }
  std::optional<int> DriveNumberOf(std::size_t index);  // disk number while online
  std::optional<int> CdRomNumberOf(std::size_t index);
  bool Online(std::size_t index);
  // Pulls a device off its port, or plugs it (back) in; a device taken off
  // by a restart or a safe removal comes back with Plug too. A bridge that
  // is plugged in was without power: its registers start from their
  // power-on values, its configuration and firmware slots keep what they hold.
  void Unplug(std::size_t index);
  void Plug(std::size_t index);
  void SetReloadDelay(std::chrono::milliseconds delay);
  void SetOsVersion(const platform::OsVersion& os);

  void AddService(std::unique_ptr<WorldService> service);
  template <class T>
  T* Service() {
    std::lock_guard lock(mutex_);
    for (auto& s : services_) {
      if (auto* t = dynamic_cast<T*>(s.get())) return t;
    }
    return nullptr;
  }

 private:
  class StorageHandle;
  class HubHandle;
  class ControllerHandle;

  enum class State { kOnline, kAway, kRemoved };

  struct DeviceNode {
    std::shared_ptr<SimBridge> model;
    std::string driver_key;
    std::string instance_id;
    platform::UsbSpeed speed = platform::UsbSpeed::kSuper;
    bool system_disk = false;
    bool loop_backed = false;
    int index = -1;
    State state = State::kOnline;
    std::chrono::milliseconds return_at{0};
    int disk_number = -1;
    int cdrom_number = -1;
    std::string interface_path;
    std::uint64_t arrival = 0;
    std::uint64_t generation = 0;
    int open_count = 0;
    bool exclusive = false;
  };
  struct HubNode;
  struct PortNode {
    std::unique_ptr<HubNode> hub;
    std::shared_ptr<DeviceNode> device;
  };
  struct HubNode {
    std::string name;
    int port_count = 0;
    std::vector<PortNode> ports;  // index = port - 1
  };
  struct ControllerNode {
    std::string path;
    std::string root_hub_name;
    bool driver_key_ok = true;
    std::unique_ptr<HubNode> root;
  };

  using Events = std::vector<platform::DeviceEvent>;

  std::unique_ptr<HubNode> BuildHub(const HubSpec& spec, const std::string& name);
  void Tick(Events& events);                   // brings back what is due
  void Arrive(DeviceNode& node, Events& events);
  void Depart(DeviceNode& node, State state, Events& events);
  void Dispatch(const Events& events);
  DeviceNode* FindStorage(const std::string& name);
  HubNode* FindHub(const std::string& path);
  std::string InterfacePathOf(const DeviceNode& node) const;

  platform::Clock& clock_;
  std::filesystem::path disk_folder_;
  platform::OsVersion os_;
  std::chrono::milliseconds reload_delay_;

  mutable std::mutex mutex_;
  std::vector<ControllerNode> controllers_;
  std::shared_ptr<DeviceNode> system_disk_;
  std::vector<std::shared_ptr<DeviceNode>> devices_;  // walk order
  std::map<int, DeviceNode*> disks_;
  std::map<int, DeviceNode*> cdroms_;
  std::uint64_t arrivals_ = 0;
  int hubs_built_ = 0;
  std::uint64_t next_handle_id_ = 1;
  std::vector<std::unique_ptr<WorldService>> services_;

  platform::DeviceEventListeners listeners_;
};

}  // namespace sim::station
