#include "platform/linux/sysfs_station.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "platform/linux/usb_sysfs.h"

namespace platform::linux_host {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDiskInterfaceGuid = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr const char* kCdRomInterfaceGuid = "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr const char* kCdRomClassGuid = "{4D36E965-E325-11CE-BFC1-08002BE10318}";

std::optional<std::string> ReadAttr(const fs::path& p) {
  std::ifstream in(p);
  if (!in) return std::nullopt;
  std::string s;
  std::getline(in, s);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

std::uint16_t HexAttr(const fs::path& p) {
  const auto s = ReadAttr(p);
  if (!s || s->empty()) return 0;
  return static_cast<std::uint16_t>(std::strtoul(s->c_str(), nullptr, 16));
}

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string StripDevicePrefix(const std::string& path) {
  if (path.size() > 4 && path[0] == '\\' && path[1] == '\\' && (path[2] == '.' || path[2] == '?') &&
      path[3] == '\\') {
    return path.substr(4);
  }
  return path;
}

std::optional<int> NumberAfter(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || Upper(name.substr(0, prefix.size())) != Upper(prefix)) return std::nullopt;
  const std::string digits = name.substr(prefix.size());
  if (digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return std::stoi(digits);
}

// The driver key of a USB device as its hub port and its drives report it.
std::string UsbDriverKey(const std::string& device) { return std::string(kUsbDeviceClassGuid) + "\\" + device; }

// The device at a port of a hub: "usb2", 3 -> "2-3"; "2-3", 1 -> "2-3.1".
std::string ChildName(const std::string& hub, int port) {
  if (hub.rfind("usb", 0) == 0) return hub.substr(3) + "-" + std::to_string(port);
  return hub + "." + std::to_string(port);
}

UsbSpeed SpeedOf(const std::string& s) {
  if (s == "1.5") return UsbSpeed::kLow;
  if (s == "12") return UsbSpeed::kFull;
  if (s == "480") return UsbSpeed::kHigh;
  if (s.empty()) return UsbSpeed::kFull;
  return UsbSpeed::kSuper;  // 5000, 10000, 20000
}

}  // namespace

// ---------------------------------------------------------------- handles

class SysfsStation::Handle final : public DeviceHandle {
 public:
  // Every request of the handle goes through the one session opened with it.
  Handle(SysfsStation& s, BlockInfo block, int number, std::unique_ptr<ScsiSession> session)
      : s_(s), block_(std::move(block)), number_(number), session_(std::move(session)) {}

  ScsiResult Scsi(const ScsiRequest& request, std::span<std::uint8_t> data) override {
    return session_->Execute(request, data);
  }
  std::optional<StorageDeviceNumber> DeviceNumber() override {
    if (!fs::exists(s_.sysfs_ / "block" / block_.name)) return std::nullopt;
    StorageDeviceNumber n;
    n.device_type = block_.cdrom ? kDeviceTypeCdRom : kDeviceTypeDisk;
    n.device_number = static_cast<std::uint32_t>(number_);
    return n;
  }
  std::optional<StorageBusType> BusType() override {
    if (block_.usb_device) return StorageBusType::kUsb;
    if (block_.name.rfind("nvme", 0) == 0) return StorageBusType::kNvme;
    return StorageBusType::kSata;
  }
  std::optional<DriveGeometry> Geometry() override {
    if (block_.cdrom) return std::nullopt;
    const fs::path dir = s_.sysfs_ / "block" / block_.name;
    const auto sectors = ReadAttr(dir / "size");
    if (!sectors || sectors->empty()) return std::nullopt;
    const std::uint64_t bytes = std::stoull(*sectors) * 512;
    if (bytes == 0) return std::nullopt;
    std::uint32_t sector = 512;
    if (auto lbs = ReadAttr(dir / "queue/logical_block_size"); lbs && !lbs->empty()) {
      sector = static_cast<std::uint32_t>(std::stoul(*lbs));
    }
    DriveGeometry g;
    g.media_type = ReadAttr(dir / "removable").value_or("0") == "1" ? kMediaRemovable : kMediaFixed;
    g.bytes_per_sector = sector;
    g.sectors_per_track = 63;
    g.tracks_per_cylinder = 255;
    g.cylinders = bytes / (std::uint64_t{63} * 255 * sector);
    g.disk_size = bytes;
    return g;
  }

 private:
  SysfsStation& s_;
  BlockInfo block_;
  int number_;
  std::unique_ptr<ScsiSession> session_;
};

class SysfsStation::Hub final : public UsbHub {
 public:
  Hub(SysfsStation& s, HubFaces faces) : s_(s), faces_(std::move(faces)) {}

  std::optional<int> PortCount() override {
    if (faces_.connectors.empty()) return std::nullopt;
    return static_cast<int>(faces_.connectors.size());
  }

  std::optional<UsbConnection> Connection(int port) override {
    if (port < 1) return std::nullopt;
    UsbConnection c;
    const auto dev = DeviceAt(port);
    if (!dev) return c;  // nothing connected
    c.status = kUsbDeviceConnected;
    c.is_hub = IsHubFolder(*dev);
    c.speed = SpeedOf(ReadAttr(*dev / "speed").value_or(""));
    auto& d = c.descriptor;
    d.bcdUSB = HexAttr(*dev / "version") ? static_cast<std::uint16_t>(HexAttr(*dev / "version") << 8) : 0;
    d.bDeviceClass = static_cast<std::uint8_t>(HexAttr(*dev / "bDeviceClass"));
    d.idVendor = HexAttr(*dev / "idVendor");
    d.idProduct = HexAttr(*dev / "idProduct");
    d.bcdDevice = HexAttr(*dev / "bcdDevice");
    d.iManufacturer = fs::exists(*dev / "manufacturer") ? 1 : 0;
    d.iProduct = fs::exists(*dev / "product") ? 2 : 0;
    d.iSerialNumber = fs::exists(*dev / "serial") ? 3 : 0;
    d.bNumConfigurations = 1;
    return c;
  }

  std::optional<std::string> ExternalHubName(int port) override {
    const auto dev = DeviceAt(port);
    if (!dev || !IsHubFolder(*dev)) return std::nullopt;
    const auto faces = s_.FacesOf(dev->filename().string());
    if (!faces) return std::nullopt;
    return faces->name;
  }

  std::optional<std::string> DriverKeyName(int port) override {
    const auto dev = DeviceAt(port);
    if (!dev) return std::nullopt;
    return UsbDriverKey(dev->filename().string());
  }

  std::optional<std::vector<std::uint8_t>> StringDescriptor(int port, std::uint8_t index, std::uint16_t,
                                                            std::uint16_t max_length) override {
    const auto dev = DeviceAt(port);
    if (!dev) return std::nullopt;
    std::vector<std::uint8_t> d;
    if (index == 0) {
      d = {4, 3, 0x09, 0x04};
    } else {
      const char* attr = index == 1 ? "manufacturer" : index == 2 ? "product" : index == 3 ? "serial" : nullptr;
      if (!attr) return std::nullopt;
      const auto text = ReadAttr(*dev / attr);
      if (!text) return std::nullopt;
      d = {0, 3};
      for (char ch : *text) {
        d.push_back(static_cast<std::uint8_t>(ch));
        d.push_back(0);
      }
      d[0] = static_cast<std::uint8_t>(std::min<std::size_t>(d.size(), 255));
    }
    if (d.size() > max_length) d.resize(max_length);
    return d;
  }

 private:
  // The device at a connector: on its SuperSpeed port, else on its USB 2
  // port (a USB 3 hub there shows on both; its SuperSpeed half answers).
  std::optional<fs::path> DeviceAt(int connector) {
    if (connector < 1 || static_cast<std::size_t>(connector) > faces_.connectors.size()) return std::nullopt;
    const auto [usb2_port, usb3_port] = faces_.connectors[static_cast<std::size_t>(connector - 1)];
    for (const auto& [hub, port] : {std::pair{faces_.usb3, usb3_port}, std::pair{faces_.usb2, usb2_port}}) {
      if (hub.empty() || port == 0) continue;
      const fs::path dev = s_.UsbDevicePath(ChildName(hub, port));
      if (fs::exists(dev / "idVendor")) return dev;
    }
    return std::nullopt;
  }

  SysfsStation& s_;
  HubFaces faces_;
};

class SysfsStation::Controller final : public UsbHostController {
 public:
  explicit Controller(std::string root) : root_(std::move(root)) {}
  std::optional<std::string> DriverKeyName() override { return UsbDriverKey(root_); }
  std::optional<std::string> RootHubName() override { return root_; }

 private:
  std::string root_;
};

// ---------------------------------------------------------------- station

SysfsStation::SysfsStation(fs::path sysfs_root, fs::path dev_root, ScsiTransport& transport, DriveNaming& naming)
    : sysfs_(std::move(sysfs_root)), dev_(std::move(dev_root)), transport_(transport), naming_(naming) {}

fs::path SysfsStation::UsbDevicePath(const std::string& name) const { return sysfs_ / "bus/usb/devices" / name; }

bool SysfsStation::IsHubFolder(const fs::path& dev) {
  if (ReadAttr(dev / "bDeviceClass").value_or("") == "09") return true;
  const auto ports = ReadAttr(dev / "maxchild");
  return ports && !ports->empty() && std::atoi(ports->c_str()) > 0;
}

std::optional<SysfsStation::PortOf> SysfsStation::PeerOf(const std::string& hub, int port) const {
  std::error_code ec;
  const fs::path peer = fs::canonical(PortFolder(hub, port) / "peer", ec);
  if (ec) return std::nullopt;
  const std::string name = peer.filename().string();  // "usb1-port5", "1-2-port3"
  const auto dash = name.rfind("-port");
  if (dash == std::string::npos) return std::nullopt;
  const int number = std::atoi(name.c_str() + dash + 5);
  if (number < 1) return std::nullopt;
  return PortOf{name.substr(0, dash), number};
}

fs::path SysfsStation::PortFolder(const std::string& hub, int port) const {
  const std::string itf = IsRootHubName(hub) ? hub.substr(3) + "-0:1.0" : hub + ":1.0";
  return UsbDevicePath(hub) / itf / (hub + "-port" + std::to_string(port));
}

std::optional<SysfsStation::HubFaces> SysfsStation::FacesOf(const std::string& name) const {
  const fs::path dir = UsbDevicePath(name);
  if (name.empty() || name.find('/') != std::string::npos || !fs::exists(dir / "maxchild") || !IsHubFolder(dir)) {
    return std::nullopt;
  }
  const auto ports_of = [&](const std::string& hub) {
    return hub.empty() ? 0 : std::max(0, std::atoi(ReadAttr(UsbDevicePath(hub) / "maxchild").value_or("0").c_str()));
  };
  const auto super = [&](const std::string& hub) { return SpeedOf(ReadAttr(UsbDevicePath(hub) / "speed").value_or("")) == UsbSpeed::kSuper; };

  // The other half: the hub its ports' peers lie on; for a root hub also the
  // other root hub of the same controller.
  std::string twin;
  for (int p = 1; p <= ports_of(name) && twin.empty(); ++p) {
    if (const auto peer = PeerOf(name, p)) twin = peer->hub;
  }
  if (twin.empty() && IsRootHubName(name)) {
    std::error_code ec;
    const fs::path parent = fs::canonical(dir, ec).parent_path();
    for (const auto& e : fs::directory_iterator(parent, ec)) {
      const std::string other = e.path().filename().string();
      if (other != name && IsRootHubName(other) && super(other) != super(name)) twin = other;
    }
  }
  if (!twin.empty() && (!fs::exists(UsbDevicePath(twin) / "maxchild") || super(twin) == super(name))) twin.clear();

  HubFaces f;
  (super(name) ? f.usb3 : f.usb2) = name;
  if (!twin.empty()) (super(twin) ? f.usb3 : f.usb2) = twin;
  f.name = f.usb2.empty() ? f.usb3 : f.usb2;
  // Connectors: the USB 2 ports with their SuperSpeed peers, then the
  // SuperSpeed ports that have no USB 2 peer.
  std::vector<bool> paired(static_cast<std::size_t>(ports_of(f.usb3)) + 1, false);
  for (int p = 1; p <= ports_of(f.usb2); ++p) {
    int q = 0;
    if (const auto peer = PeerOf(f.usb2, p); peer && peer->hub == f.usb3 && peer->port < static_cast<int>(paired.size())) {
      q = peer->port;
      paired[static_cast<std::size_t>(q)] = true;
    }
    f.connectors.emplace_back(p, q);
  }
  for (int q = 1; q <= ports_of(f.usb3); ++q) {
    if (!paired[static_cast<std::size_t>(q)]) f.connectors.emplace_back(0, q);
  }
  return f;
}

std::vector<std::string> SysfsStation::HostControllerPaths() {
  // One host controller per device the root hubs hang on (an xHCI has a
  // USB 2 and a SuperSpeed root hub), in the order of its lowest bus.
  std::map<fs::path, int> lowest_bus;
  std::map<fs::path, std::string> root_of;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(sysfs_ / "bus/usb/devices", ec)) {
    const std::string name = e.path().filename().string();
    if (!IsRootHubName(name)) continue;
    std::error_code canon;
    const fs::path controller = fs::canonical(e.path(), canon).parent_path();
    if (canon) continue;
    const int bus = std::stoi(name.substr(3));
    auto it = lowest_bus.find(controller);
    if (it == lowest_bus.end() || bus < it->second) {
      lowest_bus[controller] = bus;
      root_of[controller] = name;
    }
  }
  std::vector<std::pair<int, std::string>> roots;
  for (const auto& [controller, bus] : lowest_bus) {
    const auto faces = FacesOf(root_of[controller]);
    roots.emplace_back(bus, faces ? faces->name : root_of[controller]);
  }
  std::sort(roots.begin(), roots.end());
  std::vector<std::string> paths;
  for (const auto& [n, name] : roots) paths.push_back(name);
  return paths;
}

std::unique_ptr<UsbHostController> SysfsStation::OpenHostController(const std::string& path) {
  if (!IsRootHubName(path)) return nullptr;
  const auto faces = FacesOf(path);
  if (!faces) return nullptr;
  return std::make_unique<Controller>(faces->name);
}

std::unique_ptr<UsbHub> SysfsStation::OpenHub(const std::string& path) {
  auto faces = FacesOf(StripDevicePrefix(path));
  if (!faces) return nullptr;
  return std::make_unique<Hub>(*this, std::move(*faces));
}

std::vector<SysfsStation::BlockInfo> SysfsStation::ScanBlocks() {
  std::vector<BlockInfo> blocks;
  for (const auto& name : naming_.Disks()) {
    if (auto b = BlockByName(name)) blocks.push_back(std::move(*b));
  }
  std::vector<std::string> optical;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(sysfs_ / "block", ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("sr", 0) == 0) optical.push_back(name);
  }
  std::sort(optical.begin(), optical.end());
  std::lock_guard lock(mutex_);
  for (const auto& name : optical) {
    auto b = BlockByName(name);
    if (!b) continue;
    NumberCdRom(name);
    blocks.push_back(std::move(*b));
  }
  return blocks;
}

int SysfsStation::NumberCdRom(const std::string& block) {
  if (auto it = cdrom_numbers_.find(block); it != cdrom_numbers_.end()) return it->second;
  int next = 0;
  for (const auto& [name, number] : cdrom_numbers_) next = std::max(next, number + 1);
  cdrom_numbers_[block] = next;
  return next;
}

std::optional<int> SysfsStation::CdRomNumberOf(const std::string& block) {
  {
    std::lock_guard lock(mutex_);
    if (auto it = cdrom_numbers_.find(block); it != cdrom_numbers_.end()) return it->second;
  }
  const auto b = BlockByName(block);
  if (!b || !b->cdrom) return std::nullopt;
  std::lock_guard lock(mutex_);
  return NumberCdRom(block);
}

std::optional<SysfsStation::BlockInfo> SysfsStation::BlockByName(const std::string& name) {
  const fs::path link = sysfs_ / "block" / name;
  std::error_code ec;
  if (!fs::exists(link, ec)) return std::nullopt;
  BlockInfo b;
  b.name = name;
  b.cdrom = name.rfind("sr", 0) == 0;
  b.usb_device = UsbDeviceAbove(link);
  return b;
}

std::string SysfsStation::InterfacePath(const BlockInfo& b) const {
  std::string serial = b.name;
  if (b.usb_device) {
    if (auto s = ReadAttr(*b.usb_device / "serial"); s && !s->empty()) serial = *s;
  }
  return std::string("\\\\?\\usbstor#") + (b.cdrom ? "cdrom" : "disk") + "&" + b.name + "#" + serial + "&0#" +
         (b.cdrom ? kCdRomInterfaceGuid : kDiskInterfaceGuid);
}

StorageDeviceSet SysfsStation::Enumerate() {
  StorageDeviceSet set;
  for (const auto& b : ScanBlocks()) {
    // The USB device a disk or CD-ROM hangs on is a device of the set as
    // well, of the USB class: a bridge that presents only its CD-ROM, on a
    // machine whose own disk is not a block device here, is still found.
    if (b.usb_device) set.device_classes.push_back(kUsbDeviceClassGuid);
    set.device_classes.push_back(b.cdrom ? kCdRomClassGuid : kDiskDriveClassGuid);
    set.interfaces.push_back({InterfacePath(b), b.cdrom ? StorageInterfaceClass::kCdRom : StorageInterfaceClass::kDisk,
                              b.usb_device ? UsbDriverKey(b.usb_device->filename().string()) : std::string()});
  }
  return set;
}

std::unique_ptr<DeviceHandle> SysfsStation::Open(const DeviceOpenRequest& request) {
  std::string block;
  bool cdrom = false;
  if (auto n = NumberAfter(request.name, "\\\\.\\PHYSICALDRIVE")) {
    if (auto node = naming_.DiskDevice(*n)) block = fs::path(*node).filename().string();
  } else if (auto c = NumberAfter(request.name, "\\\\.\\CDROM")) {
    cdrom = true;
    std::lock_guard lock(mutex_);
    for (const auto& [name, num] : cdrom_numbers_) {
      if (num == *c) block = name;
    }
  } else if (request.name.rfind("\\\\?\\usbstor#", 0) == 0) {
    // An interface path names its block device between the first '&' and '#'.
    const auto amp = request.name.find('&');
    const auto hash = request.name.find('#', amp);
    if (amp != std::string::npos && hash != std::string::npos) block = request.name.substr(amp + 1, hash - amp - 1);
    cdrom = request.name.find("#cdrom&") != std::string::npos;
  }
  if (block.empty()) return nullptr;
  auto info = BlockByName(block);
  if (!info || info->cdrom != cdrom) return nullptr;
  int number = -1;
  if (cdrom) {
    std::lock_guard lock(mutex_);
    auto it = cdrom_numbers_.find(block);
    if (it != cdrom_numbers_.end()) number = it->second;
  } else if (auto n = naming_.DriveNumberOf(block)) {
    number = *n;
  }
  if (number < 0) return nullptr;
  auto session = transport_.Open((dev_ / block).string());
  if (!session) return nullptr;
  return std::make_unique<Handle>(*this, std::move(*info), number, std::move(session));
}

std::uint32_t SysfsStation::DiskCount() {
  int highest = -1;
  for (const auto& name : naming_.Disks()) highest = std::max(highest, naming_.DriveNumberOf(name).value_or(-1));
  return static_cast<std::uint32_t>(highest + 1);
}

}  // namespace platform::linux_host
