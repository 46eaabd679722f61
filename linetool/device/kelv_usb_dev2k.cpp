// The discovery walk of CKelvUSBDev2K: controllers, root and external hubs
// depth-first, the descriptors of each device, the drive matcher and the
// records.

#include "linetool/device/kelv_usb_dev2k.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <vector>

namespace linetool::device {

namespace {

constexpr std::size_t kMaxInterfaceDetail = 1024;

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Hex4(std::uint16_t v) {
  char t[8];
  std::snprintf(t, sizeof t, "%4.4x", v);
  return t;
}

// The text of a string descriptor: the low byte of each UTF-16 unit from
// offset 2 on, up to the first zero byte.
std::string DescriptorText(const std::vector<std::uint8_t>& d) {
  std::string s;
  const std::size_t end = std::min<std::size_t>(d.size(), d.empty() ? 0 : d[0]);
  for (std::size_t i = 2; i < end; i += 2) {
    if (d[i] == 0) break;
    s.push_back(static_cast<char>(d[i]));
  }
  return s;
}

std::string ReadString(platform::UsbHub& hub, int port, std::uint8_t index) {
  if (index == 0) return {};
  auto langs = hub.StringDescriptor(port, 0, 0, 4);
  if (!langs || langs->size() < 4) return {};
  const auto lang = static_cast<std::uint16_t>((*langs)[2] | ((*langs)[3] << 8));
  auto d = hub.StringDescriptor(port, index, lang, 255);
  return d ? DescriptorText(*d) : std::string();
}

// The instance serial of an interface path: the text between the second '#'
// and the last '#' less its "&0" suffix; of a longer span, the 20 characters
// that end two before the last '#'.
std::string InstanceSerial(const std::string& path) {
  const auto first = path.find('#');
  if (first == std::string::npos) return {};
  const auto second = path.find('#', first + 1);
  const auto last = path.rfind('#');
  if (second == std::string::npos || last <= second) return {};
  const std::size_t span = last - second - 1;
  if (span < 2) return {};
  if (span >= 22) return path.substr(last - 22, 20);
  return path.substr(second + 1, span - 2);
}

platform::StorageInterfaceClass InterfaceClassOf(std::uint32_t kind) {
  return kind == platform::kDeviceTypeDisk ? platform::StorageInterfaceClass::kDisk
                                           : platform::StorageInterfaceClass::kCdRom;
}

// A drive whose backend names the USB device it hangs on belongs to the port
// whose device has that driver key, and to no other.
bool OnOtherDevice(const platform::StorageInterface& itf, const std::string& usb_driver_key) {
  return !itf.usb_driver_key.empty() && !usb_driver_key.empty() && Upper(itf.usb_driver_key) != Upper(usb_driver_key);
}

}  // namespace

DescriptorTexts DecodeDescriptors(platform::UsbHub& hub, int port, const platform::UsbDeviceDescriptor& d) {
  DescriptorTexts t;
  t.vendor_id = Upper(Trim(Hex4(d.idVendor)));
  t.product_id = Upper(Trim(Hex4(d.idProduct)));
  t.device_release = Trim(Hex4(d.bcdDevice));
  t.manufacturer = Trim(ReadString(hub, port, d.iManufacturer));
  t.product = Trim(ReadString(hub, port, d.iProduct));
  t.serial_number = Upper(Trim(ReadString(hub, port, d.iSerialNumber)));
  return t;
}

CKelvUSBDev2K::CKelvUSBDev2K(platform::DeviceServices services, Options options)
    : services_(services), options_(std::move(options)) {}

CKelvUSBDev2K::~CKelvUSBDev2K() = default;

void CKelvUSBDev2K::Walk() {
  if (!table_) return;
  DeviceTable& table = *table_;
  if (refresh_) {
    for (auto& r : table.records) ClearRecord(r);
    table.device_count = 0;
    table.left_out = 0;
  }
  device_count_ = static_cast<std::uint8_t>(table.device_count);

  const auto controllers = services_.usb.HostControllerPaths();
  for (std::size_t ci = 0; ci < controllers.size(); ++ci) {
    auto controller = services_.usb.OpenHostController(controllers[ci]);
    if (!controller) continue;
    if (!controller->DriverKeyName()) continue;
    const auto root_name = controller->RootHubName();
    if (!root_name) continue;
    root_hub_path_ = "\\\\.\\" + *root_name;
    auto root = services_.usb.OpenHub(root_hub_path_);
    if (!root) continue;
    const auto ports = root->PortCount();
    if (!ports) continue;
    // A bridge seen through its CD-ROM path ends the walk of later controllers.
    if (table.cd_rom_present == 1) continue;
    WalkHub(*root, *ports, 0, static_cast<int>(ci), root_hub_path_);
  }
}

void CKelvUSBDev2K::WalkHub(platform::UsbHub& hub, int port_count, int depth, int controller,
                            const std::string& hub_path) {
  DeviceTable& table = *table_;
  for (int port = 1; port <= port_count; ++port) {
    current_port_ = static_cast<std::uint32_t>(port);
    const auto connection = hub.Connection(port);
    if (!connection || connection->status != platform::kUsbDeviceConnected) continue;
    if (connection->is_hub) {
      const auto name = hub.ExternalHubName(port);
      if (!name) continue;
      const std::string path = "\\\\?\\" + *name;
      auto child = services_.usb.OpenHub(path);
      if (!child) continue;
      const auto child_ports = child->PortCount();
      if (!child_ports) continue;
      WalkHub(*child, *child_ports, depth + 1, controller, path);
      continue;
    }
    connection_driver_key_ = hub.DriverKeyName(port).value_or(std::string());
    texts_ = DecodeDescriptors(hub, port, connection->descriptor);
    if (texts_.serial_number.empty()) continue;
    const std::string key_class = Upper(connection_driver_key_.substr(0, 38));
    if (key_class != platform::kUsbDeviceClassGuid && key_class == platform::kDiskDriveClassGuid) continue;
    location_ = port + 10 * depth + 100 * controller;

    bool cdrom = false;
    std::uint8_t number = MatchDrive(texts_.serial_number, platform::kDeviceTypeDisk, connection_driver_key_);
    if (number == kNoDriveNumber) {
      number = MatchDrive(texts_.serial_number, platform::kDeviceTypeCdRom, connection_driver_key_);
      if (number != kNoDriveNumber) {
        cdrom = true;
        table.cd_rom_present = 1;
      }
    }
    if (number == kNoDriveNumber) continue;
    AddRecord(cdrom ? CdRomPath(number) : PhysicalDrivePath(number), hub_path, cdrom);
  }
}

bool CKelvUSBDev2K::HeldByRecord(std::uint32_t kind, std::uint32_t number) const {
  for (const auto& r : table_->records) {
    if (kind == platform::kDeviceTypeDisk && r.physical_drive_number == number) return true;
    if (kind == platform::kDeviceTypeCdRom && options_.cd_rom_mode && r.cdrom_number == number) return true;
  }
  return false;
}

std::string CKelvUSBDev2K::ConfigSerialText(platform::DeviceHandle* drive) {
  std::array<std::uint8_t, kConfigTableBytes> block{};
  ReadConfigTable(drive, block, kConfigTableBytes, 0);
  std::string text;
  int replaced = 0;
  for (std::size_t i = 4; i < 24; ++i) {
    if (block[i] == 0xFF || block[i] == 0x00) {
      text.push_back('0');
      ++replaced;
    } else {
      text.push_back(static_cast<char>(block[i]));
    }
  }
  if (replaced == 20) AtaIdentifySerial(drive, text);
  return Upper(text);
}

std::uint8_t CKelvUSBDev2K::MatchDrive(const std::string& serial, std::uint32_t kind,
                                       const std::string& usb_driver_key) {
  const auto set = services_.storage.Enumerate();
  const bool qualifying = std::any_of(set.device_classes.begin(), set.device_classes.end(), [](const auto& c) {
    const auto u = Upper(c);
    return u == platform::kUsbDeviceClassGuid || u == platform::kDiskDriveClassGuid;
  });
  if (!qualifying) return kNoDriveNumber;
  const std::string wanted = Upper(serial);
  for (const auto& itf : set.interfaces) {
    if (itf.interface_class != InterfaceClassOf(kind)) continue;
    if (itf.path.size() + 5 > kMaxInterfaceDetail) continue;
    if (OnOtherDevice(itf, usb_driver_key)) continue;
    const auto number = NumberOfInterface(itf.path);
    if (!number) continue;

    const std::string path = kind == platform::kDeviceTypeDisk ? PhysicalDrivePath(static_cast<int>(*number))
                                                               : CdRomPath(static_cast<int>(*number));
    auto drive = services_.io.Open(
        {path, platform::kAccessRead | platform::kAccessWrite, platform::kShareRead | platform::kShareWrite,
         platform::kOpenPlain});
    if (!drive) continue;
    std::array<std::uint8_t, kBridgeInquiryBytes> inquiry{};
    if (ScsiInquiry(drive.get(), inquiry) != kCmdDone || !IsBridgeInquiry(inquiry)) continue;
    const std::string config_text = ConfigSerialText(drive.get());
    drive.reset();

    const std::string instance = Upper(InstanceSerial(itf.path));
    const bool match = !wanted.empty() && (config_text.find(wanted) != std::string::npos ||
                                           instance.find(wanted) != std::string::npos);
    if (!match) continue;
    if (HeldByRecord(kind, *number)) continue;
    return static_cast<std::uint8_t>(*number);
  }
  return kNoDriveNumber;
}

bool CKelvUSBDev2K::DriveShowsSerial(platform::DeviceHandle* drive, std::uint32_t kind, std::uint32_t number,
                                     const std::string& serial, const std::string& usb_driver_key) {
  const std::string wanted = Upper(serial);
  if (wanted.empty()) return false;
  std::vector<platform::StorageInterface> own;
  for (const auto& itf : services_.storage.Enumerate().interfaces) {
    if (itf.interface_class != InterfaceClassOf(kind) || NumberOfInterface(itf.path) != number) continue;
    if (OnOtherDevice(itf, usb_driver_key)) return false;
    own.push_back(itf);
  }
  if (ConfigSerialText(drive).find(wanted) != std::string::npos) return true;
  return std::any_of(own.begin(), own.end(), [&](const platform::StorageInterface& itf) {
    return Upper(InstanceSerial(itf.path)).find(wanted) != std::string::npos;
  });
}

std::optional<std::uint32_t> CKelvUSBDev2K::NumberOfInterface(const std::string& path) {
  auto query = services_.io.Open({path, platform::kAccessNone, platform::kShareRead | platform::kShareWrite,
                                  platform::kOpenPlain});
  if (!query) return std::nullopt;
  const auto dn = query->DeviceNumber();
  if (!dn || (dn->device_type != platform::kDeviceTypeDisk && dn->device_type != platform::kDeviceTypeCdRom)) {
    return std::nullopt;
  }
  const auto bus = query->BusType();
  if (!bus || (*bus != platform::StorageBusType::kUsb && *bus != platform::StorageBusType::kScsi)) return std::nullopt;
  if (dn->device_number >= kNoDriveNumber) return std::nullopt;
  return dn->device_number;
}

void CKelvUSBDev2K::AddRecord(const std::string& path, const std::string& hub_path, bool cdrom) {
  DeviceTable& table = *table_;
  auto h = services_.io.Open({path, platform::kAccessRead | platform::kAccessWrite,
                              platform::kShareRead | platform::kShareWrite, platform::kOpenPlain});
  if (!h) return;
  std::array<std::uint8_t, kBridgeInquiryBytes> inquiry{};
  if (ScsiInquiry(h.get(), inquiry) != kCmdDone || !IsBridgeInquiry(inquiry)) return;
  const auto dn = h->DeviceNumber();
  if (!dn) return;
  const bool cd_path = path.find("CDROM") != std::string::npos;
  const std::string again = cd_path ? CdRomPath(static_cast<int>(dn->device_number))
                                    : PhysicalDrivePath(static_cast<int>(dn->device_number));
  if (again != path) return;

  // The table has sixteen rows: a further bridge is left out and counted.
  if (device_count_ >= kMaxBridges) {
    ++table.left_out;
    return;
  }

  const auto geometry = h->Geometry();
  const bool medium = geometry && !(geometry->cylinders == 0 && geometry->tracks_per_cylinder == 0 &&
                                    geometry->sectors_per_track == 0);
  BridgeDeviceRecord& r = table.records[device_count_];
  r.slot = device_count_;
  r.presents_cdrom = cdrom ? 1 : 0;
  if (cdrom) {
    r.cdrom_number = static_cast<std::uint8_t>(dn->device_number);
  } else {
    r.physical_drive_number = static_cast<std::uint8_t>(dn->device_number);
  }
  r.location = location_;
  r.port = static_cast<std::int32_t>(current_port_);
  r.hub_path = hub_path;
  r.vendor_id = texts_.vendor_id;
  r.product_id = texts_.product_id;
  r.device_release = texts_.device_release;
  r.manufacturer = texts_.manufacturer;
  r.product = texts_.product;
  r.serial_number = texts_.serial_number;
  if (medium && !cdrom) {
    r.drive_letter = options_.drive_letter_of ? options_.drive_letter_of(r.physical_drive_number)
                                              : kNoDriveLetter;
    r.bytes_per_sector = geometry->bytes_per_sector;
    r.sectors_per_track = geometry->sectors_per_track;
    r.tracks_per_cylinder = geometry->tracks_per_cylinder;
    r.cylinders = geometry->cylinders;
    r.media_type_text = MediaTypeText(geometry->media_type);
    r.disk_size = geometry->disk_size;
    r.capacity = static_cast<std::int64_t>(geometry->disk_size);
  } else {
    r.drive_letter = kNoDriveLetter;
    r.bytes_per_sector = r.sectors_per_track = r.tracks_per_cylinder = 0;
    r.cylinders = 0;
    r.media_type_text.clear();
    r.disk_size = 0;
    r.capacity = -1;
  }

  std::array<std::uint8_t, 7> version{};
  r.firmware_version = ReadRegisters(h.get(), kRegFirmwareVersion, version, 7) == kCmdDone
                           ? FirmwareVersionText(version)
                           : std::string();
  std::array<std::uint8_t, 1> speed{};
  r.usb_speed.clear();
  if (ReadRegisters(h.get(), kRegLinkSpeed, speed, 1) == kCmdDone) {
    if (speed[0] == 2) r.usb_speed = "SUPER";
    if (speed[0] == 1) r.usb_speed = "HIGH";
    if (speed[0] == 0) r.usb_speed = "FULL";
  }
  ++device_count_;
  table.device_count = device_count_;
}

}  // namespace linetool::device
