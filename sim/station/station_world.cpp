#include "sim/station/station_world.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sim::station {

namespace {

using platform::DeviceEvent;
using platform::DeviceEventKind;

constexpr const char* kHubInterfaceGuid = "{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
constexpr const char* kDiskInterfaceGuid = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr const char* kCdRomInterfaceGuid = "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr const char* kCdRomClassGuid = "{4D36E965-E325-11CE-BFC1-08002BE10318}";

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && Upper(s.substr(0, prefix.size())) == Upper(prefix);
}

// "\\.\NAME" or "\\?\NAME" -> "NAME"
std::string StripDevicePrefix(const std::string& path) {
  if (path.size() > 4 && path[0] == '\\' && path[1] == '\\' && (path[2] == '.' || path[2] == '?') &&
      path[3] == '\\') {
    return path.substr(4);
  }
  return path;
}

// "\\.\PHYSICALDRIVE12" with prefix "\\.\PHYSICALDRIVE" -> 12
std::optional<int> NumberAfter(const std::string& name, const std::string& prefix) {
  if (!StartsWithNoCase(name, prefix) || name.size() == prefix.size() || name.size() > prefix.size() + 3) {
    return std::nullopt;
  }
  int n = 0;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return std::nullopt;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

std::string DiskName(int n) { return "\\\\.\\PHYSICALDRIVE" + std::to_string(n); }
std::string CdRomName(int n) { return "\\\\.\\CDROM" + std::to_string(n); }

std::vector<std::uint8_t> StringDescriptorOf(const std::string& text, std::uint16_t max_length) {
  std::vector<std::uint8_t> d;
  d.push_back(0);
  d.push_back(3);
  for (char c : text) {
    d.push_back(static_cast<std::uint8_t>(c));
    d.push_back(0);
  }
  d[0] = static_cast<std::uint8_t>(std::min<std::size_t>(d.size(), 255));
  if (d.size() > max_length) d.resize(max_length);
  return d;
}

}  // namespace

std::shared_ptr<SimBridge> BuildBridgeModel(const BridgeSpec& bs, int index,
                                            const std::filesystem::path& disk_folder) {
  SimBridge::Options o;
  o.factory = bs.factory;
  o.chip_variant = bs.chip_variant;
  o.firmware_version = bs.firmware_version;
  o.link_speed = bs.speed == platform::UsbSpeed::kSuper  ? 2
                 : bs.speed == platform::UsbSpeed::kHigh ? 1
                                                          : 0;
  o.vendor_commands = !bs.mass_storage_only;
  o.presents_cdrom = bs.presents_cdrom;
  o.faults = bs.faults;
  o.config_slot0 = bs.config_slot0;
  o.config_slot1 = bs.config_slot1;
  o.registers = bs.registers;
  char file[48];
  std::snprintf(file, sizeof file, "usb_disk_%02d.img", index);
  o.disk = std::make_shared<SimDisk>(disk_folder / file, bs.presents_cdrom ? 0 : bs.disk_size, bs.ata_serial,
                                     bs.sector_size);
  o.disk->SetInUse(bs.in_use);
  return std::make_shared<SimBridge>(std::move(o));
}

// ---------------------------------------------------------------- handles

class StationWorld::StorageHandle final : public platform::DeviceHandle {
 public:
  StorageHandle(StationWorld& world, std::shared_ptr<DeviceNode> node, bool counted, bool exclusive)
      : world_(world),
        node_(std::move(node)),
        generation_(node_->generation),
        id_(world.next_handle_id_++),
        counted_(counted),
        exclusive_(exclusive) {}

  ~StorageHandle() override {
    std::lock_guard lock(world_.mutex_);
    if (counted_ && node_->generation == generation_) {
      --node_->open_count;
      if (exclusive_) node_->exclusive = false;
    }
  }

  platform::ScsiResult Scsi(const platform::ScsiRequest& request, std::span<std::uint8_t> data) override {
    Events events;
    platform::ScsiResult result;
    {
      std::lock_guard lock(world_.mutex_);
      world_.Tick(events);
      if (Live()) {
        result = node_->model->Execute(request, data, id_);
        switch (node_->model->TakeAction()) {
          case BridgeAction::kRestart:
            world_.Depart(*node_, State::kAway, events);
            break;
          case BridgeAction::kSafeRemove:
            world_.Depart(*node_, State::kRemoved, events);
            break;
          case BridgeAction::kNone:
            break;
        }
      }
    }
    world_.Dispatch(events);
    return result;
  }

  std::optional<platform::StorageDeviceNumber> DeviceNumber() override {
    std::lock_guard lock(world_.mutex_);
    if (!Live()) return std::nullopt;
    platform::StorageDeviceNumber n;
    if (node_->cdrom_number >= 0) {
      n.device_type = platform::kDeviceTypeCdRom;
      n.device_number = static_cast<std::uint32_t>(node_->cdrom_number);
    } else {
      n.device_type = platform::kDeviceTypeDisk;
      n.device_number = static_cast<std::uint32_t>(node_->disk_number);
    }
    n.partition_number = 0;
    return n;
  }

  std::optional<platform::StorageBusType> BusType() override {
    std::lock_guard lock(world_.mutex_);
    if (!Live()) return std::nullopt;
    return node_->system_disk ? platform::StorageBusType::kSata : platform::StorageBusType::kUsb;
  }

  std::optional<platform::DriveGeometry> Geometry() override {
    std::lock_guard lock(world_.mutex_);
    if (!Live() || node_->cdrom_number >= 0) return std::nullopt;
    const auto& disk = node_->model->Disk();
    if (!disk || !disk->HasMedium()) return std::nullopt;
    return disk->Geometry();
  }

 private:
  bool Live() const { return node_->state == State::kOnline && node_->generation == generation_; }

  StationWorld& world_;
  std::shared_ptr<DeviceNode> node_;
  std::uint64_t generation_;
  std::uint64_t id_;
  bool counted_;
  bool exclusive_;
};

class StationWorld::HubHandle final : public platform::UsbHub {
 public:
  HubHandle(StationWorld& world, HubNode& hub) : world_(world), hub_(hub) {}

  std::optional<int> PortCount() override { return hub_.port_count; }

  std::optional<platform::UsbConnection> Connection(int port) override {
    Events events;
    std::optional<platform::UsbConnection> result;
    {
      std::lock_guard lock(world_.mutex_);
      world_.Tick(events);
      if (const PortNode* p = PortAt(port)) {
        platform::UsbConnection c;
        if (p->hub) {
          c.status = platform::kUsbDeviceConnected;
          c.is_hub = true;
          c.speed = platform::UsbSpeed::kSuper;
          c.descriptor.bcdUSB = 0x0300;
          c.descriptor.bDeviceClass = 9;
          c.descriptor.idVendor = 0x2E77;
          c.descriptor.idProduct = 0x0610;
          c.descriptor.bcdDevice = 0x9223;
          c.descriptor.bNumConfigurations = 1;
        } else if (p->device && p->device->state == State::kOnline) {
          const auto& id = p->device->model->Identity();
          c.status = platform::kUsbDeviceConnected;
          c.speed = p->device->speed;
          c.descriptor.bcdUSB = c.speed == platform::UsbSpeed::kSuper ? 0x0300 : 0x0210;
          c.descriptor.bMaxPacketSize0 = c.speed == platform::UsbSpeed::kSuper ? 9 : 64;
          c.descriptor.idVendor = id.vendor_id;
          c.descriptor.idProduct = id.product_id;
          c.descriptor.bcdDevice = id.device_release;
          c.descriptor.iManufacturer = id.manufacturer.empty() ? 0 : 1;
          c.descriptor.iProduct = id.product.empty() ? 0 : 2;
          c.descriptor.iSerialNumber = id.serial.empty() ? 0 : 3;
          c.descriptor.bNumConfigurations = 1;
        }
        result = c;
      }
    }
    world_.Dispatch(events);
    return result;
  }

  std::optional<std::string> ExternalHubName(int port) override {
    std::lock_guard lock(world_.mutex_);
    const PortNode* p = PortAt(port);
    if (!p || !p->hub) return std::nullopt;
    return p->hub->name;
  }

  std::optional<std::string> DriverKeyName(int port) override {
    std::lock_guard lock(world_.mutex_);
    const PortNode* p = PortAt(port);
    if (!p || !p->device || p->device->state != State::kOnline) return std::nullopt;
    return p->device->driver_key;
  }

  std::optional<std::vector<std::uint8_t>> StringDescriptor(int port, std::uint8_t index,
                                                            std::uint16_t language_id,
                                                            std::uint16_t max_length) override {
    std::lock_guard lock(world_.mutex_);
    const PortNode* p = PortAt(port);
    if (!p || !p->device || p->device->state != State::kOnline) return std::nullopt;
    if (index == 0) {
      std::vector<std::uint8_t> langs{4, 3, 0x09, 0x04};
      if (langs.size() > max_length) langs.resize(max_length);
      return langs;
    }
    if (language_id != 0x0409) return std::nullopt;
    const auto& id = p->device->model->Identity();
    switch (index) {
      case 1:
        return id.manufacturer.empty() ? std::nullopt
                                       : std::optional(StringDescriptorOf(id.manufacturer, max_length));
      case 2:
        return id.product.empty() ? std::nullopt : std::optional(StringDescriptorOf(id.product, max_length));
      case 3:
        return id.serial.empty() ? std::nullopt : std::optional(StringDescriptorOf(id.serial, max_length));
      default:
        return std::nullopt;
    }
  }

 private:
  const PortNode* PortAt(int port) const {
    if (port < 1 || port > hub_.port_count) return nullptr;
    return &hub_.ports[static_cast<std::size_t>(port - 1)];
  }

  StationWorld& world_;
  HubNode& hub_;
};

class StationWorld::ControllerHandle final : public platform::UsbHostController {
 public:
  explicit ControllerHandle(const ControllerNode& c) : c_(c) {}
  std::optional<std::string> DriverKeyName() override {
    if (!c_.driver_key_ok) return std::nullopt;
    return std::string("{36FC9E60-C465-11CF-8056-444553540000}\\0000");
  }
  std::optional<std::string> RootHubName() override { return c_.root_hub_name; }

 private:
  const ControllerNode& c_;
};

// ---------------------------------------------------------------- world

StationWorld::StationWorld(const WorldSpec& spec, platform::Clock& clock, std::filesystem::path disk_folder)
    : clock_(clock),
      disk_folder_(std::move(disk_folder)),
      os_(spec.os),
      reload_delay_(spec.reload_delay_ms) {
  std::error_code ec;
  std::filesystem::create_directories(disk_folder_, ec);

  SimBridge::Options sys;
  sys.vendor_commands = false;
  sys.disk = std::make_shared<SimDisk>(disk_folder_ / "system_disk.img", spec.system_disk_size,
                                       "SIMSYS00000000000001");
  system_disk_ = std::make_shared<DeviceNode>();
  system_disk_->model = std::make_shared<SimBridge>(std::move(sys));
  system_disk_->system_disk = true;
  system_disk_->disk_number = 0;
  system_disk_->interface_path =
      std::string("\\\\?\\scsi#disk&ven_sim&prod_system_disk#4&2b2a1c8&0&000000#") + kDiskInterfaceGuid;
  disks_[0] = system_disk_.get();

  int ci = 0;
  for (const auto& cs : spec.controllers) {
    ControllerNode c;
    char path[160];
    std::snprintf(path, sizeof path,
                  "\\\\?\\pci#ven_8086&dev_a36d&subsys_00000000&rev_10#3&11583659&0&a%d#"
                  "{3abf6f2d-71c4-462a-8a92-1e6861e6af27}",
                  ci);
    c.path = path;
    char root[128];
    std::snprintf(root, sizeof root, "USB#ROOT_HUB30#4&2f4c1d%02d&0&0#%s", ci, kHubInterfaceGuid);
    c.root_hub_name = root;
    c.driver_key_ok = !cs.driver_key_fails;
    c.root = BuildHub(cs.root_hub, c.root_hub_name);
    controllers_.push_back(std::move(c));
    ++ci;
  }
  Events ignored;
  for (auto& d : devices_) Arrive(*d, ignored);
}

StationWorld::~StationWorld() { services_.clear(); }

std::unique_ptr<StationWorld::HubNode> StationWorld::BuildHub(const HubSpec& spec, const std::string& name) {
  auto hub = std::make_unique<HubNode>();
  hub->name = name;
  hub->port_count = spec.port_count;
  hub->ports.resize(static_cast<std::size_t>(std::max(spec.port_count, 0)));
  for (const auto& ps : spec.ports) {
    if (ps.port < 1 || ps.port > spec.port_count) continue;
    PortNode& port = hub->ports[static_cast<std::size_t>(ps.port - 1)];
    if (ps.hub) {
      char hub_name[128];
      std::snprintf(hub_name, sizeof hub_name, "USB#VID_2E77&PID_0610#6&1b2c%04d&0&%d#%s", ++hubs_built_,
                    ps.port, kHubInterfaceGuid);
      port.hub = BuildHub(*ps.hub, hub_name);
    } else if (ps.device) {
      const BridgeSpec& bs = *ps.device;
      auto node = std::make_shared<DeviceNode>();
      node->index = static_cast<int>(devices_.size());
      char key[80];
      std::snprintf(key, sizeof key, "%s\\%04d", bs.driver_key_class.c_str(), node->index + 1);
      node->driver_key = key;
      node->speed = bs.speed;
      node->instance_id = bs.instance_id;
      node->loop_backed = bs.disk_backing == DiskBacking::kLoop && !bs.presents_cdrom && bs.disk_size > 0;
      node->model = BuildBridgeModel(bs, node->index, disk_folder_);
      port.device = node;
      devices_.push_back(std::move(node));
    }
  }
  return hub;
}

platform::DeviceServices StationWorld::Services() {
  return platform::DeviceServices{*this, *this, *this, *this, *this};
}

std::string StationWorld::InterfacePathOf(const DeviceNode& node) const {
  const bool cd = node.cdrom_number >= 0;
  std::string serial = node.instance_id.empty() ? node.model->Identity().serial : node.instance_id;
  // Without a serial number, or with one another present device already
  // uses, the system makes up an instance name from the port.
  const auto taken = [&](const std::string& s) {
    for (const auto* map : {&disks_, &cdroms_}) {
      for (const auto& [n, other] : *map) {
        if (other != &node && other->interface_path.find("#" + s + "&0#") != std::string::npos) return true;
      }
    }
    return false;
  };
  if (serial.empty() || taken(serial)) serial = "7&1f2e3d" + std::to_string(node.index) + "&0&1";
  const char* product = node.model->IsBridge() ? "prod_vx7700" : "prod_flash_disk";
  return std::string("\\\\?\\usbstor#") + (cd ? "cdrom" : "disk") + "&ven_vx&" + product + "&rev_0100#" +
         serial + "&0#" + (cd ? kCdRomInterfaceGuid : kDiskInterfaceGuid);
}

void StationWorld::Arrive(DeviceNode& node, Events& events) {
  node.model->Restart();
  node.state = State::kOnline;
  node.arrival = ++arrivals_;
  node.open_count = 0;
  node.exclusive = false;
  node.disk_number = -1;
  node.cdrom_number = -1;
  if (node.model->PresentsCdRom()) {
    int n = 0;
    while (cdroms_.count(n)) ++n;
    node.cdrom_number = n;
    cdroms_[n] = &node;
    events.push_back({DeviceEventKind::kArrival, CdRomName(n)});
  } else {
    int n = 1;
    while (disks_.count(n)) ++n;
    node.disk_number = n;
    disks_[n] = &node;
    events.push_back({DeviceEventKind::kArrival, DiskName(n)});
  }
  node.interface_path = InterfacePathOf(node);
}

void StationWorld::Depart(DeviceNode& node, State state, Events& events) {
  if (node.state == State::kOnline) {
    if (node.disk_number >= 0) {
      disks_.erase(node.disk_number);
      events.push_back({DeviceEventKind::kRemoval, DiskName(node.disk_number)});
    }
    if (node.cdrom_number >= 0) {
      cdroms_.erase(node.cdrom_number);
      events.push_back({DeviceEventKind::kRemoval, CdRomName(node.cdrom_number)});
    }
  }
  node.disk_number = -1;
  node.cdrom_number = -1;
  ++node.generation;
  node.open_count = 0;
  node.exclusive = false;
  node.state = state;
  if (state == State::kAway) {
    const auto& faults = node.model->Faults();
    if (faults.never_returns) {
      node.state = State::kRemoved;
    } else {
      const auto delay = faults.return_delay_ms ? std::chrono::milliseconds(*faults.return_delay_ms)
                                                : reload_delay_;
      node.return_at = clock_.Now() + delay;
    }
  }
}

void StationWorld::Tick(Events& events) {
  const auto now = clock_.Now();
  for (auto& d : devices_) {
    if (d->state == State::kAway && d->return_at <= now) Arrive(*d, events);
  }
}

void StationWorld::Dispatch(const Events& events) {
  for (const auto& e : events) listeners_.Deliver(e);
}

StationWorld::DeviceNode* StationWorld::FindStorage(const std::string& name) {
  if (auto n = NumberAfter(name, "\\\\.\\PHYSICALDRIVE")) {
    auto it = disks_.find(*n);
    return it == disks_.end() ? nullptr : it->second;
  }
  if (auto n = NumberAfter(name, "\\\\.\\CDROM")) {
    auto it = cdroms_.find(*n);
    return it == cdroms_.end() ? nullptr : it->second;
  }
  const std::string wanted = Upper(name);
  for (auto* map : {&disks_, &cdroms_}) {
    for (auto& [n, node] : *map) {
      if (Upper(node->interface_path) == wanted) return node;
    }
  }
  return nullptr;
}

std::unique_ptr<platform::DeviceHandle> StationWorld::Open(const platform::DeviceOpenRequest& request) {
  Events events;
  std::unique_ptr<platform::DeviceHandle> handle;
  {
    std::lock_guard lock(mutex_);
    Tick(events);
    DeviceNode* node = FindStorage(request.name);
    if (node) {
      std::shared_ptr<DeviceNode> shared =
          node->system_disk ? system_disk_ : devices_.at(static_cast<std::size_t>(node->index));
      // An open without access rights only queries; it takes no share.
      const bool counted = request.access != platform::kAccessNone;
      const bool exclusive = counted && request.share == platform::kShareNone;
      const bool refused = counted && (node->exclusive || (exclusive && node->open_count > 0));
      if (!refused) {
        if (counted) {
          ++node->open_count;
          if (exclusive) node->exclusive = true;
        }
        handle = std::make_unique<StorageHandle>(*this, std::move(shared), counted, exclusive);
      }
    }
  }
  Dispatch(events);
  return handle;
}

std::vector<std::string> StationWorld::HostControllerPaths() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& c : controllers_) paths.push_back(c.path);
  return paths;
}

std::unique_ptr<platform::UsbHostController> StationWorld::OpenHostController(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (const auto& c : controllers_) {
    if (Upper(c.path) == Upper(path)) return std::make_unique<ControllerHandle>(c);
  }
  return nullptr;
}

StationWorld::HubNode* StationWorld::FindHub(const std::string& path) {
  const std::string name = Upper(StripDevicePrefix(path));
  std::vector<HubNode*> todo;
  for (auto& c : controllers_) todo.push_back(c.root.get());
  while (!todo.empty()) {
    HubNode* h = todo.back();
    todo.pop_back();
    if (Upper(h->name) == name) return h;
    for (auto& p : h->ports) {
      if (p.hub) todo.push_back(p.hub.get());
    }
  }
  return nullptr;
}

std::unique_ptr<platform::UsbHub> StationWorld::OpenHub(const std::string& path) {
  std::lock_guard lock(mutex_);
  HubNode* hub = FindHub(path);
  if (!hub) return nullptr;
  return std::make_unique<HubHandle>(*this, *hub);
}

platform::StorageDeviceSet StationWorld::Enumerate() {
  Events events;
  platform::StorageDeviceSet set;
  {
    std::lock_guard lock(mutex_);
    Tick(events);
    std::vector<DeviceNode*> present;
    for (auto& [n, node] : disks_) present.push_back(node);
    for (auto& [n, node] : cdroms_) present.push_back(node);
    std::sort(present.begin(), present.end(),
              [](const DeviceNode* a, const DeviceNode* b) { return a->arrival < b->arrival; });
    for (const DeviceNode* node : present) {
      const bool cd = node->cdrom_number >= 0;
      set.device_classes.push_back(cd ? kCdRomClassGuid : platform::kDiskDriveClassGuid);
      // The simulated station tells no USB device of a drive: its ports and
      // drives pair by serial text alone.
      set.interfaces.push_back({node->interface_path,
                                cd ? platform::StorageInterfaceClass::kCdRom : platform::StorageInterfaceClass::kDisk,
                                {}});
    }
  }
  Dispatch(events);
  return set;
}

platform::OsVersion StationWorld::Version() {
  std::lock_guard lock(mutex_);
  return os_;
}

std::uint32_t StationWorld::DiskCount() {
  Events events;
  std::uint32_t count = 0;
  {
    std::lock_guard lock(mutex_);
    Tick(events);
    count = static_cast<std::uint32_t>(disks_.size());
  }
  Dispatch(events);
  return count;
}

int StationWorld::Subscribe(Listener listener) { return listeners_.Subscribe(std::move(listener)); }

void StationWorld::Unsubscribe(int id) { listeners_.Unsubscribe(id); }

std::vector<SimDiskInfo> StationWorld::Disks() {
  Events events;
  std::vector<SimDiskInfo> out;
  {
    std::lock_guard lock(mutex_);
    Tick(events);
    for (auto& [n, node] : disks_) {
      const auto& disk = node->model->Disk();
      out.push_back({n, disk->ImagePath(), disk->SizeBytes(), disk->SectorSize(), node->system_disk,
                     node->index});
    }
  }
  Dispatch(events);
  return out;
}

std::optional<SimDiskInfo> StationWorld::DiskByDriveNumber(int drive_number) {
  for (auto& d : Disks()) {
    if (d.drive_number == drive_number) return d;
  }
  return std::nullopt;
}

std::shared_ptr<SimDisk> StationWorld::DiskImage(int drive_number) {
  std::lock_guard lock(mutex_);
  auto it = disks_.find(drive_number);
  return it == disks_.end() ? nullptr : it->second->model->Disk();
}

std::vector<std::filesystem::path> StationWorld::LoopBackedImages() {
  std::lock_guard lock(mutex_);
  std::vector<std::filesystem::path> out;
  for (const auto& node : devices_) {
    if (node->loop_backed) out.push_back(node->model->Disk()->ImagePath());
  }
  return out;
}

std::optional<int> StationWorld::DriveNumberOf(std::size_t index) {
  Events events;
  std::optional<int> n;
  {
    std::lock_guard lock(mutex_);
    Tick(events);
    const auto& d = devices_.at(index);
    if (d->state == State::kOnline && d->disk_number >= 0) n = d->disk_number;
  }
  Dispatch(events);
  return n;
}

std::optional<int> StationWorld::CdRomNumberOf(std::size_t index) {
  Events events;
  std::optional<int> n;
  {
    std::lock_guard lock(mutex_);
    Tick(events);
    const auto& d = devices_.at(index);
    if (d->state == State::kOnline && d->cdrom_number >= 0) n = d->cdrom_number;
  }
  Dispatch(events);
  return n;
}

bool StationWorld::Online(std::size_t index) {
  Events events;
  bool online = false;
  {
    std::lock_guard lock(mutex_);
    Tick(events);
    online = devices_.at(index)->state == State::kOnline;
  }
  Dispatch(events);
  return online;
}

void StationWorld::Unplug(std::size_t index) {
  Events events;
  {
    std::lock_guard lock(mutex_);
    Depart(*devices_.at(index), State::kRemoved, events);
  }
  Dispatch(events);
}

void StationWorld::Plug(std::size_t index) {
  Events events;
  {
    std::lock_guard lock(mutex_);
    auto& d = *devices_.at(index);
    if (d.state != State::kOnline) {
      // Plugged in by hand: the bridge was without power since it left.
      d.model->PowerUp();
      Arrive(d, events);
    }
  }
  Dispatch(events);
}

void StationWorld::SetReloadDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  reload_delay_ = delay;
}

void StationWorld::SetOsVersion(const platform::OsVersion& os) {
  std::lock_guard lock(mutex_);
  os_ = os;
}

void StationWorld::AddService(std::unique_ptr<WorldService> service) {
  std::lock_guard lock(mutex_);
  services_.push_back(std::move(service));
}

}  // namespace sim::station
