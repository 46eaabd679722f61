#pragma once
// The disk and CD-ROM interfaces present on the system, as one snapshot: the
// setup classes of the devices in the set and the interfaces in index order.
// Each interface path opens through DeviceIo (with no access rights for the
// device-number and bus-type queries).

#include <string>
#include <vector>

namespace platform {

enum class StorageInterfaceClass { kDisk, kCdRom };

struct StorageInterface {
  std::string path;
  StorageInterfaceClass interface_class = StorageInterfaceClass::kDisk;
  // The driver key of the USB device the disk or CD-ROM hangs on, as the hub
  // port of that device reports it (UsbHub::DriverKeyName), so a port and its
  // drive pair exactly; empty where the backend cannot tell.
  std::string usb_driver_key;
};

struct StorageDeviceSet {
  // The setup class GUID of each device in the set ("{4D36E967-...}").
  std::vector<std::string> device_classes;
  std::vector<StorageInterface> interfaces;
};

class StorageEnumerator {
 public:
  virtual ~StorageEnumerator() = default;
  // A fresh snapshot. May block briefly.
  virtual StorageDeviceSet Enumerate() = 0;
};

}  // namespace platform
