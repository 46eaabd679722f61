#pragma once
// The bridge access services on a Linux host: the USB tree and the disks and
// CD-ROM drives read from sysfs, SCSI requests through a transport (SG_IO).
//
// Names: the root hubs that hang on one device of /sys/devices (an xHCI's
// USB 2 and SuperSpeed root hubs) are one host controller, in the order of
// their lowest bus number. A hub is its two halves where it has them (the
// root hubs of a controller; the USB 2 and SuperSpeed hub devices of a USB 3
// hub), named by the USB 2 half ("usb1", "1-2") and its ports numbered by
// connector: the USB 2 ports with the SuperSpeed ports their peer links name,
// then the SuperSpeed ports without a USB 2 peer. A bridge so keeps its port
// and location whatever speed it links at. A USB device is told by its sysfs
// name ("2-1", platform/linux/usb_sysfs.h) and a hub by bDeviceClass 09 or a
// maxchild above 0.
//
// A disk or CD-ROM on USB reports, as its storage interface's USB driver
// key, the driver key the hub port of its USB device reports, so a port is
// paired with its drive exactly.
//
// Drive numbers come from the host's DriveNaming (the one the disk
// preparation uses too): the disk that holds the root file system is drive 0
// (never a bridge disk), and a number stays with its disk for the life of the
// process. CD-ROM drives are numbered from 0 in the order first seen.
//
// The disk count is one more than the highest drive number present.
//
// A handle opens its device node once, read-only, through the transport and
// keeps that one descriptor until it is destroyed; a node that does not open
// is a failed open.
//
// Device events: the station itself raises none (a single walk of the
// devices needs none); a station that follows plugs hands in a source of
// its own, UdevDeviceEvents, with Services(events).

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/device_services.h"
#include "platform/linux/drive_naming.h"
#include "platform/linux/scsi_transport.h"

namespace platform::linux_host {

class SysfsStation final : public DeviceIo,
                           public UsbTree,
                           public StorageEnumerator,
                           public SystemInfo {
 public:
  // `sysfs_root` ("/sys"), `dev_root` ("/dev"), the transport for SCSI
  // requests and the drive numbering (over `sysfs_root`/block).
  SysfsStation(std::filesystem::path sysfs_root, std::filesystem::path dev_root, ScsiTransport& transport,
               DriveNaming& naming);

  // Without an event source of its own: for one walk of the devices.
  DeviceServices Services() { return DeviceServices{*this, *this, *this, *this, no_events_}; }
  DeviceServices Services(DeviceEvents& events) { return DeviceServices{*this, *this, *this, *this, events}; }

  std::unique_ptr<DeviceHandle> Open(const DeviceOpenRequest& request) override;
  std::vector<std::string> HostControllerPaths() override;
  std::unique_ptr<UsbHostController> OpenHostController(const std::string& path) override;
  std::unique_ptr<UsbHub> OpenHub(const std::string& path) override;
  StorageDeviceSet Enumerate() override;
  OsVersion Version() override { return OsVersion{2, 6, 1}; }
  std::uint32_t DiskCount() override;

  // The number of a CD-ROM drive ("sr0"): the one it was given, or the next
  // free one for a drive that is present and not numbered yet.
  std::optional<int> CdRomNumberOf(const std::string& block);

  // The sysfs folder of a USB device ("2-1"), or of a root hub ("usb2").
  std::filesystem::path UsbDevicePath(const std::string& name) const;
  const std::filesystem::path& SysfsRoot() const { return sysfs_; }

 private:
  class Handle;
  class Hub;
  class Controller;

  // A hub as the station sees it (see above).
  struct HubFaces {
    std::string name;        // the USB 2 half's, else the SuperSpeed half's
    std::string usb2, usb3;  // the halves' sysfs names; either may be empty
    std::vector<std::pair<int, int>> connectors;  // per connector: USB 2 port, SuperSpeed port (0: none)
  };
  struct PortOf {
    std::string hub;
    int port = 0;
  };
  std::optional<HubFaces> FacesOf(const std::string& hub) const;
  std::optional<PortOf> PeerOf(const std::string& hub, int port) const;
  std::filesystem::path PortFolder(const std::string& hub, int port) const;
  static bool IsHubFolder(const std::filesystem::path& usb_device);

  struct BlockInfo {
    std::string name;  // "sdb", "sr0"
    bool cdrom = false;
    std::optional<std::filesystem::path> usb_device;  // the USB device it hangs on
  };

  std::vector<BlockInfo> ScanBlocks();  // numbers every disk it sees
  std::optional<BlockInfo> BlockByName(const std::string& name);
  std::string InterfacePath(const BlockInfo& b) const;
  int NumberCdRom(const std::string& block);  // mutex_ held

  std::filesystem::path sysfs_;
  std::filesystem::path dev_;
  ScsiTransport& transport_;
  DriveNaming& naming_;

  std::mutex mutex_;
  std::map<std::string, int> cdrom_numbers_;
  DeviceEventListeners no_events_;
};

}  // namespace platform::linux_host
