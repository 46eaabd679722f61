#include "platform/linux/sysfs_station.h"

#include <algorithm>
#include <cctype>
#include <fstream>

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

// "usb2" -> "2-0:1.0" (its hub interface); "2-1" -> "2-1:1.0"
std::string HubInterface(const std::string& hub) {
  if (hub.rfind("usb", 0) == 0) return hub.substr(3) + "-0:1.0";
  return hub + ":1.0";
}

// The device at a port of a hub: "usb2", 3 -> "2-3"; "2-3", 1 -> "2-3.1".
std::string ChildName(const std::string& hub, int port) {
  if (hub.rfind("usb", 0) == 0) return hub.substr(3) + "-" + std::to_string(port);
  return hub + "." + std::to_string(port);
}

UsbSpeed SpeedOf(const std::string& s) {
  if (s == "1.5") return UsbSpeed::kLow;
  if (s == "12") return UsbSpeed::kFull;
  if (s == "480") return UsbSpeed::kHigh;
  return UsbSpeed::kSuper;
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
  Hub(SysfsStation& s, std::string name) : s_(s), name_(std::move(name)) {}

  std::optional<int> PortCount() override {
    const auto n = ReadAttr(s_.UsbDevicePath(name_) / "maxchild");
    if (!n || n->empty()) return std::nullopt;
    return std::stoi(*n);
  }

  std::optional<UsbConnection> Connection(int port) override {
    if (port < 1) return std::nullopt;
    UsbConnection c;
    const auto dev = DeviceAt(port);
    if (!dev) return c;  // nothing connected
    c.status = kUsbDeviceConnected;
    c.is_hub = ReadAttr(*dev / "bDeviceClass").value_or("") == "09";
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
    if (!dev || ReadAttr(*dev / "bDeviceClass").value_or("") != "09") return std::nullopt;
    return dev->filename().string();
  }

  std::optional<std::string> DriverKeyName(int port) override {
    const auto dev = DeviceAt(port);
    if (!dev) return std::nullopt;
    return std::string(kUsbDeviceClassGuid) + "\\" + dev->filename().string();
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
  // The device on a port, or on its peer port when the port itself is empty.
  std::optional<fs::path> DeviceAt(int port) {
    const fs::path own = s_.UsbDevicePath(ChildName(name_, port));
    if (fs::exists(own / "idVendor")) return own;
    const fs::path port_dir = s_.UsbDevicePath(name_) / HubInterface(name_) /
                              (name_ + "-port" + std::to_string(port));
    std::error_code ec;
    const fs::path peer = fs::read_symlink(port_dir / "peer", ec);
    if (ec) return std::nullopt;
    const std::string peer_port = peer.filename().string();  // "usb1-port5"
    const auto dash = peer_port.rfind("-port");
    if (dash == std::string::npos) return std::nullopt;
    const std::string peer_hub = peer_port.substr(0, dash);
    const int number = std::atoi(peer_port.c_str() + dash + 5);
    const fs::path twin = s_.UsbDevicePath(ChildName(peer_hub, number));
    if (fs::exists(twin / "idVendor")) return twin;
    return std::nullopt;
  }

  SysfsStation& s_;
  std::string name_;
};

class SysfsStation::Controller final : public UsbHostController {
 public:
  explicit Controller(std::string root) : root_(std::move(root)) {}
  std::optional<std::string> DriverKeyName() override {
    return std::string("{36FC9E60-C465-11CF-8056-444553540000}\\") + root_;
  }
  std::optional<std::string> RootHubName() override { return root_; }

 private:
  std::string root_;
};

// ---------------------------------------------------------------- station

SysfsStation::SysfsStation(fs::path sysfs_root, fs::path dev_root, ScsiTransport& transport, DriveNaming& naming)
    : sysfs_(std::move(sysfs_root)), dev_(std::move(dev_root)), transport_(transport), naming_(naming) {}

fs::path SysfsStation::UsbDevicePath(const std::string& name) const { return sysfs_ / "bus/usb/devices" / name; }

std::vector<std::string> SysfsStation::HostControllerPaths() {
  std::vector<std::pair<int, std::string>> roots;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(sysfs_ / "bus/usb/devices", ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("usb", 0) == 0 && name.size() > 3 &&
        name.find_first_not_of("0123456789", 3) == std::string::npos) {
      roots.emplace_back(std::stoi(name.substr(3)), name);
    }
  }
  std::sort(roots.begin(), roots.end());
  std::vector<std::string> paths;
  for (const auto& [n, name] : roots) paths.push_back(name);
  return paths;
}

std::unique_ptr<UsbHostController> SysfsStation::OpenHostController(const std::string& path) {
  if (!fs::exists(UsbDevicePath(path) / "maxchild")) return nullptr;
  return std::make_unique<Controller>(path);
}

std::unique_ptr<UsbHub> SysfsStation::OpenHub(const std::string& path) {
  const std::string name = StripDevicePrefix(path);
  if (name.empty() || name.find('/') != std::string::npos || !fs::exists(UsbDevicePath(name) / "maxchild")) {
    return nullptr;
  }
  return std::make_unique<Hub>(*this, name);
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
  // The USB device is the nearest ancestor folder with an idVendor.
  fs::path dir = fs::canonical(link, ec);
  if (ec) return std::nullopt;
  const fs::path top = fs::canonical(sysfs_, ec);
  for (fs::path p = dir.parent_path(); !p.empty() && p != top && p != p.root_path(); p = p.parent_path()) {
    if (fs::exists(p / "idVendor") && !fs::exists(p / "maxchild")) {
      b.usb_device = p;
      break;
    }
  }
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
    set.device_classes.push_back(b.cdrom ? kCdRomClassGuid : kDiskDriveClassGuid);
    set.interfaces.push_back({InterfacePath(b), b.cdrom ? StorageInterfaceClass::kCdRom : StorageInterfaceClass::kDisk});
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
