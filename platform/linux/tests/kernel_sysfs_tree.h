#pragma once
// A sysfs tree laid out as a Linux kernel lays it out, for the backend tests:
// devices nested below /sys/devices/pci0000:00/<controller>/usbN/..., with the
// links /sys/bus/usb/devices/*, /sys/block/*, /sys/class/block/* and
// /sys/dev/block/<major:minor> beside them. Every USB device has maxchild (0
// for one that is no hub), speed, version, bDeviceClass, idVendor,
// idProduct, bcdDevice, busnum, devnum, dev and its strings; a hub's ports
// are folders "usbN-portP" / "N-P-portQ" below its interface "N-0:1.0" /
// "N-P:1.0", and the USB 2 and SuperSpeed ports of one connector link to
// each other through "peer" both ways, as the kernel links them.
//
// An xHCI is two root hubs under one PCI device (usbA for USB 2, usbB for
// SuperSpeed); a USB 3 hub is two hub devices, one on each.

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>

namespace platform::linux_host::test_files {

class KernelSysfsTree {
 public:
  explicit KernelSysfsTree(std::filesystem::path sys) : sys_(std::move(sys)) {
    for (const char* d : {"devices", "bus/usb/devices", "block", "class/block", "dev/block"}) {
      std::filesystem::create_directories(sys_ / d);
    }
  }

  const std::filesystem::path& Root() const { return sys_; }

  // An xHCI at PCI address `pci` with its USB 2 root hub on bus `usb2_bus`
  // and its SuperSpeed root hub on bus `usb3_bus`, each with `ports` ports;
  // port n of one is the peer of port n of the other.
  void Xhci(const std::string& pci, int usb2_bus, int usb3_bus, int ports) {
    const auto controller = sys_ / "devices/pci0000:00" / pci;
    RootHub(controller, usb2_bus, "0002", "480", " 2.00", ports);
    RootHub(controller, usb3_bus, "0003", "5000", " 3.00", ports);
    for (int p = 1; p <= ports; ++p) Peers(RootName(usb2_bus), RootName(usb3_bus), p);
  }

  // A USB 2 hub at a port of hub `parent` ("usb1", "1-2"); its sysfs name.
  std::string Usb2Hub(const std::string& parent, int port, int ports) {
    const std::string name = Child(parent, port);
    UsbDevice(parent, name, {"05e3", "0610", "9223", "09", "480", " 2.10"}, ports, "GenesysLogic", "USB2.1 Hub", "");
    Interface(name, "09");
    for (int p = 1; p <= ports; ++p) Port(name, p);
    return name;
  }

  // A USB 3 hub on the connector whose USB 2 port is (`usb2_parent`, port)
  // and whose SuperSpeed port is (`usb3_parent`, port): two hub devices with
  // peer ports. Returns {USB 2 half, SuperSpeed half}.
  std::pair<std::string, std::string> Usb3Hub(const std::string& usb2_parent, const std::string& usb3_parent, int port,
                                              int ports) {
    const std::string low = Child(usb2_parent, port);
    const std::string high = Child(usb3_parent, port);
    UsbDevice(usb2_parent, low, {"05e3", "0610", "9223", "09", "480", " 2.10"}, ports, "GenesysLogic", "USB2.1 Hub",
              "");
    UsbDevice(usb3_parent, high, {"05e3", "0626", "9223", "09", "5000", " 3.20"}, ports, "GenesysLogic", "USB3.2 Hub",
              "");
    Interface(low, "09");
    Interface(high, "09");
    for (int p = 1; p <= ports; ++p) {
      Port(low, p);
      Port(high, p);
      Peers(low, high, p);
    }
    return {low, high};
  }

  struct Storage {
    std::string vendor = "2e77";
    std::string product_id = "7700";
    std::string speed = "5000";  // "480" at high speed
    std::string serial;
    std::string manufacturer = "VX Storage";
    std::string product = "VX7700 SATA Bridge";
    std::string block;  // "sdb", or "sr0" for a CD-ROM
    std::uint64_t sectors = 0;
  };

  // A mass-storage device at a port of hub `parent` with its SCSI host,
  // target, device and block device; its sysfs name ("2-1").
  std::string UsbStorage(const std::string& parent, int port, const Storage& s) {
    const std::string name = Child(parent, port);
    UsbDevice(parent, name, {s.vendor, s.product_id, "0100", "00", s.speed, s.speed == "480" ? " 2.10" : " 3.20"}, 0,
              s.manufacturer, s.product, s.serial);
    const auto itf = Interface(name, "08");
    ScsiDisk(itf, s.block, s.sectors);
    return name;
  }

  // A disk on a SATA controller (the host's own disk); its block folder.
  std::filesystem::path SataDisk(const std::string& block, std::uint64_t sectors) {
    const int host = next_host_;
    const auto port = sys_ / "devices/pci0000:00/0000:00:17.0" / ("ata" + std::to_string(host + 1));
    return ScsiDisk(port, block, sectors);
  }

  // Partition `number` of a disk; its folder.
  std::filesystem::path Partition(const std::string& block, int number, std::uint64_t start, std::uint64_t sectors) {
    const auto disk = std::filesystem::canonical(sys_ / "block" / block);
    const std::string name = block + (std::isdigit(static_cast<unsigned char>(block.back())) ? "p" : "") +
                             std::to_string(number);
    const auto dir = disk / name;
    Write(dir / "partition", std::to_string(number));
    Write(dir / "start", std::to_string(start));
    Write(dir / "size", std::to_string(sectors));
    Write(dir / "dev", DevNumber(block, number));
    std::filesystem::create_directories(dir / "holders");
    Link(sys_ / "class/block" / name, dir);
    Link(sys_ / "dev/block" / DevNumber(block, number), dir);
    return dir;
  }

  // The major:minor of a disk ("sdb" -> "8:16") or of one of its partitions.
  static std::string DevNumber(const std::string& block, int partition = 0) {
    if (block.rfind("sr", 0) == 0) return "11:" + block.substr(2);
    if (block.rfind("sd", 0) == 0) {
      int index = 0;
      for (std::size_t i = 2; i < block.size(); ++i) index = index * 26 + (block[i] - 'a' + 1);
      return "8:" + std::to_string((index - 1) * 16 + partition);
    }
    return "259:" + std::to_string(partition);
  }

  // The folder of a USB device by its sysfs name.
  std::filesystem::path UsbDevice(const std::string& name) const {
    return std::filesystem::canonical(sys_ / "bus/usb/devices" / name);
  }

  // Takes a USB device and everything below it away, as an unplug does.
  void Unplug(const std::string& name) {
    const auto dir = UsbDevice(name);
    std::error_code ec;
    for (const char* links : {"bus/usb/devices", "block", "class/block", "dev/block"}) {
      for (const auto& e : std::filesystem::directory_iterator(sys_ / links, ec)) {
        const auto target = std::filesystem::weakly_canonical(e.path(), ec);
        const auto rel = target.lexically_relative(dir);
        if (!rel.empty() && rel.native()[0] != '.') std::filesystem::remove(e.path(), ec);
        if (target == dir) std::filesystem::remove(e.path(), ec);
      }
    }
    std::filesystem::remove_all(dir, ec);
  }

 private:
  struct Ids {
    std::string vendor, product, release, device_class, speed, version;
  };

  static std::string RootName(int bus) { return "usb" + std::to_string(bus); }
  static std::string Child(const std::string& hub, int port) {
    if (hub.rfind("usb", 0) == 0) return hub.substr(3) + "-" + std::to_string(port);
    return hub + "." + std::to_string(port);
  }
  static std::string BusOf(const std::string& name) {
    return name.rfind("usb", 0) == 0 ? name.substr(3) : name.substr(0, name.find('-'));
  }

  static void Write(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  }
  // A relative link as sysfs makes them.
  static void Link(const std::filesystem::path& link, const std::filesystem::path& target) {
    std::filesystem::create_directories(link.parent_path());
    const auto from = std::filesystem::weakly_canonical(link.parent_path());
    std::filesystem::create_directory_symlink(std::filesystem::weakly_canonical(target).lexically_relative(from), link);
  }

  void RootHub(const std::filesystem::path& controller, int bus, const std::string& product, const std::string& speed,
               const std::string& version, int ports) {
    const std::string name = RootName(bus);
    const auto dir = controller / name;
    Attributes(dir, name, {"1d6b", product, "0601", "09", speed, version}, ports, "Linux 6.1.0-28-amd64 xhci-hcd",
               "xHCI Host Controller", controller.filename().string());
    Link(sys_ / "bus/usb/devices" / name, dir);
    Interface(name, "09");
    for (int p = 1; p <= ports; ++p) Port(name, p);
  }

  void UsbDevice(const std::string& parent, const std::string& name, const Ids& ids, int ports,
                 const std::string& manufacturer, const std::string& product, const std::string& serial) {
    const auto dir = UsbDevice(parent) / name;
    Attributes(dir, name, ids, ports, manufacturer, product, serial);
    Link(sys_ / "bus/usb/devices" / name, dir);
  }

  void Attributes(const std::filesystem::path& dir, const std::string& name, const Ids& ids, int ports,
                  const std::string& manufacturer, const std::string& product, const std::string& serial) {
    const std::string bus = BusOf(name);
    const int devnum = ++devnum_[bus];
    Write(dir / "idVendor", ids.vendor);
    Write(dir / "idProduct", ids.product);
    Write(dir / "bcdDevice", ids.release);
    Write(dir / "bDeviceClass", ids.device_class);
    Write(dir / "speed", ids.speed);
    Write(dir / "version", ids.version);
    Write(dir / "maxchild", std::to_string(ports));
    Write(dir / "busnum", bus);
    Write(dir / "devnum", std::to_string(devnum));
    Write(dir / "dev", "189:" + std::to_string((std::stoi(bus) - 1) * 128 + devnum - 1));
    if (!manufacturer.empty()) Write(dir / "manufacturer", manufacturer);
    if (!product.empty()) Write(dir / "product", product);
    if (!serial.empty()) Write(dir / "serial", serial);
  }

  // The device's interface 0 of configuration 1; its folder.
  std::filesystem::path Interface(const std::string& device, const std::string& interface_class) {
    const std::string name = device.rfind("usb", 0) == 0 ? device.substr(3) + "-0:1.0" : device + ":1.0";
    const auto dir = UsbDevice(device) / name;
    Write(dir / "bInterfaceClass", interface_class);
    Write(dir / "bInterfaceNumber", "00");
    Link(sys_ / "bus/usb/devices" / name, dir);
    return dir;
  }

  std::filesystem::path PortFolder(const std::string& hub, int port) const {
    const std::string itf = hub.rfind("usb", 0) == 0 ? hub.substr(3) + "-0:1.0" : hub + ":1.0";
    return UsbDevice(hub) / itf / (hub + "-port" + std::to_string(port));
  }
  void Port(const std::string& hub, int port) { Write(PortFolder(hub, port) / "connect_type", "hotplug"); }
  void Peers(const std::string& a, const std::string& b, int port) {
    Link(PortFolder(a, port) / "peer", PortFolder(b, port));
    Link(PortFolder(b, port) / "peer", PortFolder(a, port));
  }

  // hostN/targetN:0:0/N:0:0:0/block/<block> below `parent`; the block folder.
  std::filesystem::path ScsiDisk(const std::filesystem::path& parent, const std::string& block,
                                 std::uint64_t sectors) {
    const std::string h = std::to_string(next_host_++);
    const auto lun = parent / ("host" + h) / ("target" + h + ":0:0") / (h + ":0:0:0");
    Write(lun / "type", block.rfind("sr", 0) == 0 ? "5" : "0");
    Write(lun / "vendor", "VX");
    const auto dir = lun / "block" / block;
    Write(dir / "dev", DevNumber(block));
    Write(dir / "size", std::to_string(sectors));
    Write(dir / "removable", block.rfind("sr", 0) == 0 ? "1" : "0");
    Write(dir / "queue/logical_block_size", "512");
    std::filesystem::create_directories(dir / "holders");
    std::filesystem::create_directories(dir / "slaves");
    Link(dir / "device", lun);
    Link(sys_ / "block" / block, dir);
    Link(sys_ / "class/block" / block, dir);
    Link(sys_ / "dev/block" / DevNumber(block), dir);
    return dir;
  }

  std::filesystem::path sys_;
  std::map<std::string, int> devnum_;
  int next_host_ = 0;
};

}  // namespace platform::linux_host::test_files
