#pragma once
// How the kernel names USB devices in sysfs: a root hub is "usbN" (N the bus
// number), a device "N-P" on root port P and "N-P.Q..." further down behind
// hubs; an interface is "N-P:C.I" and a hub's port "usbN-portP" or
// "N-P-portQ" below the hub's interface. Every USB device has a maxchild file
// (0 for a device that is no hub).

#include <filesystem>
#include <optional>
#include <string>

namespace platform::linux_host {

// "2-1", "3-4.2.1"; not an interface ("2-1:1.0"), a root hub or a port.
bool IsUsbDeviceName(const std::string& name);
// "usb2".
bool IsRootHubName(const std::string& name);
// The USB device a device folder of sysfs hangs on (a disk's block folder,
// its SCSI device): the nearest folder above it, symbolic links resolved,
// that is named as a USB device and carries idVendor; nullopt when it hangs
// on no USB device.
std::optional<std::filesystem::path> UsbDeviceAbove(const std::filesystem::path& device_folder);

}  // namespace platform::linux_host
