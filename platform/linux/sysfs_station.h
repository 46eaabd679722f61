#pragma once
// The bridge access services on a Linux host: the USB tree and the disks and
// CD-ROM drives read from sysfs, SCSI requests through a transport (SG_IO).
//
// Names: every root hub "usbN" is one host controller (in bus order) whose
// root hub is "usbN"; an external hub is named by its sysfs device ("2-1").
// A port whose own device is missing answers with the device on its peer
// port (the high-speed twin of a SuperSpeed connector), so a bridge that
// comes back on the other root hub of its connector is still found there.
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
