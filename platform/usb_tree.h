#pragma once
// The USB tree: host controllers in enumeration order, their root hubs, hubs
// with their ports, and per port what is connected there.
//
// Hubs are opened by the path the tree hands out: a root hub by "\\.\" plus
// the controller's root hub name, an external hub by "\\?\" plus the name its
// parent port reports. A backend accepts both prefixes.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct UsbDeviceDescriptor {
  std::uint8_t bLength = 18;
  std::uint8_t bDescriptorType = 1;
  std::uint16_t bcdUSB = 0;
  std::uint8_t bDeviceClass = 0;
  std::uint8_t bDeviceSubClass = 0;
  std::uint8_t bDeviceProtocol = 0;
  std::uint8_t bMaxPacketSize0 = 0;
  std::uint16_t idVendor = 0;
  std::uint16_t idProduct = 0;
  std::uint16_t bcdDevice = 0;
  std::uint8_t iManufacturer = 0;
  std::uint8_t iProduct = 0;
  std::uint8_t iSerialNumber = 0;
  std::uint8_t bNumConfigurations = 0;
};

enum UsbConnectionStatus : std::uint32_t {
  kUsbNoDeviceConnected = 0,
  kUsbDeviceConnected = 1,
  kUsbDeviceFailedEnumeration = 2,
  kUsbDeviceGeneralFailure = 3,
};

enum class UsbSpeed : std::uint8_t { kLow = 0, kFull = 1, kHigh = 2, kSuper = 3 };

struct UsbConnection {
  std::uint32_t status = kUsbNoDeviceConnected;
  bool is_hub = false;
  UsbDeviceDescriptor descriptor{};
  UsbSpeed speed = UsbSpeed::kFull;
};

// An open hub. Calls may block for one hub request each.
class UsbHub {
 public:
  virtual ~UsbHub() = default;
  // The hub descriptor's port count (node information); nullopt on failure.
  virtual std::optional<int> PortCount() = 0;
  // What is connected at port 1..PortCount(); nullopt when the request fails.
  virtual std::optional<UsbConnection> Connection(int port) = 0;
  // The name of the external hub at a port (open it with "\\?\" + name).
  virtual std::optional<std::string> ExternalHubName(int port) = 0;
  // The driver key of the device at a port: its setup class GUID in braces,
  // a backslash and an instance number.
  virtual std::optional<std::string> DriverKeyName(int port) = 0;
  // A string descriptor of the device at a port, as the device sends it
  // (bLength, bDescriptorType 3, UTF-16LE units), at most max_length bytes.
  // Index 0 gives the language list.
  virtual std::optional<std::vector<std::uint8_t>> StringDescriptor(int port, std::uint8_t index,
                                                                    std::uint16_t language_id,
                                                                    std::uint16_t max_length) = 0;
};

// An open host controller.
class UsbHostController {
 public:
  virtual ~UsbHostController() = default;
  virtual std::optional<std::string> DriverKeyName() = 0;
  // The root hub's name (open it with "\\.\" + name).
  virtual std::optional<std::string> RootHubName() = 0;
};

class UsbTree {
 public:
  virtual ~UsbTree() = default;
  // Interface paths of the present host controllers, in enumeration order.
  virtual std::vector<std::string> HostControllerPaths() = 0;
  // nullptr when the controller cannot be opened.
  virtual std::unique_ptr<UsbHostController> OpenHostController(const std::string& path) = 0;
  // nullptr when the hub cannot be opened.
  virtual std::unique_ptr<UsbHub> OpenHub(const std::string& path) = 0;
};

// Setup class GUIDs as driver keys and class properties carry them.
inline constexpr const char* kUsbDeviceClassGuid = "{36FC9E60-C465-11CF-8056-444553540000}";
inline constexpr const char* kDiskDriveClassGuid = "{4D36E967-E325-11CE-BFC1-08002BE10318}";

}  // namespace platform
