// The bridge walk over a USB tree and storage devices that answer from the
// fuzz input: every hub, port, descriptor, string descriptor, device number,
// geometry and SCSI reply (INQUIRY, configuration block, IDENTIFY,
// registers) is what the input says, or a failure. The walk ends, keeps to
// its sixteen rows and fills only sound records.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "linetool/device/device_table.h"
#include "linetool/device/kelv_usb_lib.h"
#include "platform/device_services.h"
#include "tools/fuzz/fuzz_input.h"

namespace {

using fuzz::FuzzInput;

// A name from a few real ones, or any text.
std::string Pick(FuzzInput& in, std::initializer_list<const char*> names) {
  const std::size_t i = in.Choice(names.size() + 1);
  return i < names.size() ? std::string(names.begin()[i]) : in.Text(64);
}

class FuzzHub final : public platform::UsbHub {
 public:
  explicit FuzzHub(FuzzInput& in) : in_(in) {}
  std::optional<int> PortCount() override {
    if (!in_.Flag()) return std::nullopt;
    return in_.Flag() ? static_cast<int>(in_.Choice(8)) : in_.InRange(-1, 255);
  }
  std::optional<platform::UsbConnection> Connection(int) override {
    if (!in_.Flag()) return std::nullopt;
    platform::UsbConnection c;
    c.status = in_.Flag() ? std::uint32_t{platform::kUsbDeviceConnected} : in_.Byte();
    c.is_hub = in_.Flag();
    auto& d = c.descriptor;
    d.bLength = in_.Byte();
    d.bDescriptorType = in_.Byte();
    d.bcdUSB = in_.Number<std::uint16_t>();
    d.bDeviceClass = in_.Byte();
    d.idVendor = in_.Number<std::uint16_t>();
    d.idProduct = in_.Number<std::uint16_t>();
    d.bcdDevice = in_.Number<std::uint16_t>();
    d.iManufacturer = in_.Byte();
    d.iProduct = in_.Byte();
    d.iSerialNumber = in_.Byte();
    d.bNumConfigurations = in_.Byte();
    c.speed = static_cast<platform::UsbSpeed>(in_.Choice(4));
    return c;
  }
  std::optional<std::string> ExternalHubName(int) override {
    if (!in_.Flag()) return std::nullopt;
    return in_.Text(64);
  }
  std::optional<std::string> DriverKeyName(int) override {
    if (!in_.Flag()) return std::nullopt;
    return Pick(in_, {"{36FC9E60-C465-11CF-8056-444553540000}\\0001", "{4D36E967-E325-11CE-BFC1-08002BE10318}\\0002"});
  }
  std::optional<std::vector<std::uint8_t>> StringDescriptor(int, std::uint8_t, std::uint16_t,
                                                            std::uint16_t max_length) override {
    if (!in_.Flag()) return std::nullopt;
    const std::string s = in_.Text(in_.Flag() ? max_length : 255);
    return std::vector<std::uint8_t>(s.begin(), s.end());
  }

 private:
  FuzzInput& in_;
};

class FuzzController final : public platform::UsbHostController {
 public:
  explicit FuzzController(FuzzInput& in) : in_(in) {}
  std::optional<std::string> DriverKeyName() override {
    if (!in_.Flag()) return std::nullopt;
    return Pick(in_, {"{36FC9E60-C465-11CF-8056-444553540000}\\0000"});
  }
  std::optional<std::string> RootHubName() override {
    if (!in_.Flag()) return std::nullopt;
    return Pick(in_, {"USB#ROOT_HUB30#4&2f4c1d00&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}"});
  }

 private:
  FuzzInput& in_;
};

class FuzzHandle final : public platform::DeviceHandle {
 public:
  explicit FuzzHandle(FuzzInput& in) : in_(in) {}
  platform::ScsiResult Scsi(const platform::ScsiRequest& request, std::span<std::uint8_t> data) override {
    platform::ScsiResult r;
    r.ok = in_.Byte() != 0xFF;
    r.scsi_status = in_.Flag() ? platform::kScsiStatusCheckCondition : platform::kScsiStatusGood;
    if (request.direction == platform::ScsiDirection::kIn) {
      // The device's data: a length byte's worth from the input, the rest as the buffer was.
      const std::string reply = in_.Text(request.transfer_length);
      std::copy(reply.begin(), reply.end(), data.begin());
    }
    return r;
  }
  std::optional<platform::StorageDeviceNumber> DeviceNumber() override {
    if (!in_.Flag()) return std::nullopt;
    platform::StorageDeviceNumber n;
    const std::size_t t = in_.Choice(3);
    n.device_type = t == 0 ? platform::kDeviceTypeDisk : t == 1 ? platform::kDeviceTypeCdRom : in_.Byte();
    n.device_number = in_.Flag() ? in_.Choice(8) : in_.Number<std::uint32_t>();
    return n;
  }
  std::optional<platform::StorageBusType> BusType() override {
    if (!in_.Flag()) return std::nullopt;
    return in_.Flag() ? platform::StorageBusType::kUsb : static_cast<platform::StorageBusType>(in_.Byte());
  }
  std::optional<platform::DriveGeometry> Geometry() override {
    if (!in_.Flag()) return std::nullopt;
    platform::DriveGeometry g;
    g.cylinders = in_.Number<std::uint64_t>();
    g.media_type = in_.Byte();
    g.tracks_per_cylinder = in_.Number<std::uint32_t>();
    g.sectors_per_track = in_.Number<std::uint32_t>();
    g.bytes_per_sector = in_.Number<std::uint32_t>();
    g.disk_size = in_.Number<std::uint64_t>();
    return g;
  }

 private:
  FuzzInput& in_;
};

class FuzzStation final : public platform::DeviceIo,
                          public platform::UsbTree,
                          public platform::StorageEnumerator,
                          public platform::SystemInfo,
                          public platform::DeviceEvents {
 public:
  explicit FuzzStation(FuzzInput& in) : in_(in) {}

  std::unique_ptr<platform::DeviceHandle> Open(const platform::DeviceOpenRequest&) override {
    return in_.Flag() ? std::make_unique<FuzzHandle>(in_) : nullptr;
  }
  std::vector<std::string> HostControllerPaths() override {
    std::vector<std::string> paths(in_.Choice(4));
    for (auto& p : paths) p = Pick(in_, {"\\\\?\\pci#ven_8086&dev_a36d#3&11583659&0&a0#{3abf6f2d-71c4-462a-8a92-1e6861e6af27}"});
    return paths;
  }
  std::unique_ptr<platform::UsbHostController> OpenHostController(const std::string&) override {
    return in_.Flag() ? std::make_unique<FuzzController>(in_) : nullptr;
  }
  std::unique_ptr<platform::UsbHub> OpenHub(const std::string&) override {
    return in_.Flag() ? std::make_unique<FuzzHub>(in_) : nullptr;
  }
  platform::StorageDeviceSet Enumerate() override {
    platform::StorageDeviceSet set;
    set.device_classes.resize(in_.Choice(3));
    for (auto& c : set.device_classes) {
      c = Pick(in_, {platform::kUsbDeviceClassGuid, platform::kDiskDriveClassGuid});
    }
    set.interfaces.resize(in_.Choice(5));
    for (auto& i : set.interfaces) {
      i.path = Pick(in_, {"\\\\?\\usbstor#disk&ven_vx&prod_7700&rev_0100#a1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"});
      i.interface_class = in_.Flag() ? platform::StorageInterfaceClass::kCdRom : platform::StorageInterfaceClass::kDisk;
    }
    return set;
  }
  platform::OsVersion Version() override { return {2, 6, 1}; }
  std::uint32_t DiskCount() override { return in_.Byte(); }
  int Subscribe(Listener) override { return 1; }
  void Unsubscribe(int) override {}

  platform::DeviceServices Services() { return {*this, *this, *this, *this, *this}; }

 private:
  FuzzInput& in_;
};

bool HexDigits(const std::string& s, std::size_t n) {
  return s.size() == n && std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace linetool::device;
  FuzzInput in(data, size);
  FuzzStation station(in);
  CKelvUSBLib lib(station.Services());
  DeviceTable table;
  CKelvUSBDev2K::Options options;
  options.cd_rom_mode = in.Flag();
  options.drive_letter_of = [](std::uint8_t drive) { return static_cast<char>('D' + drive % 20); };
  fuzz::Check(lib.Refresh(table, options) == kRefreshDone, "a refresh on a supported system failed");
  fuzz::Check(table.device_count <= kMaxBridges, "more rows than the table has");
  for (std::uint32_t i = 0; i < table.device_count; ++i) {
    const BridgeDeviceRecord& r = table.records[i];
    fuzz::Check(r.slot == i, "a record in another row than its slot");
    fuzz::Check(r.presents_cdrom == 0 || r.presents_cdrom == 1, "a record neither disk nor CD-ROM");
    fuzz::Check(HexDigits(r.vendor_id, 4) && HexDigits(r.product_id, 4) && HexDigits(r.device_release, 4),
                "a record whose identifiers are not four hex digits");
    fuzz::Check(r.firmware_version.empty() || HexDigits(r.firmware_version, 12),
                "a firmware version that is not twelve hex digits");
  }
  return 0;
}
