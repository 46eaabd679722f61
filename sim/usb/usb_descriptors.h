#pragma once
// The standard USB descriptors of a simulated device with one configuration
// and one interface of two bulk endpoints, byte for byte as USB 2.0 and 3.x
// define them, for the speed the device links at: full speed (bcdUSB 2.00,
// 64-byte packets), high speed (bcdUSB 2.10, 512-byte bulk packets, a BOS
// descriptor with the USB 2.0 extension) or SuperSpeed (bcdUSB 3.00,
// bMaxPacketSize0 9, 1024-byte bulk packets, an endpoint companion after each
// endpoint, a BOS descriptor with the USB 2.0 extension and the SuperSpeed
// device capability).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/usb_tree.h"

namespace sim::usb {

struct UsbDeviceShape {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::uint16_t device_release = 0;
  std::uint8_t device_class = 0;  // 0: each interface says its own
  std::uint8_t interface_class = 0;
  std::uint8_t interface_subclass = 0;
  std::uint8_t interface_protocol = 0;
  std::uint8_t bulk_out = 0x01;  // endpoint addresses
  std::uint8_t bulk_in = 0x81;
  // Largest bulk packet; 0: what the speed allows (64, 512, 1024).
  std::uint16_t bulk_packet = 0;
  // String descriptors 1, 2 and 3; an empty text has index 0 (none).
  std::string manufacturer;
  std::string product;
  std::string serial;
};

struct UsbDescriptors {
  std::vector<std::uint8_t> device;
  std::vector<std::uint8_t> configuration;  // with its interface and endpoints
  std::vector<std::uint8_t> bos;            // empty at full speed
  std::uint8_t ep0_packet = 64;             // control endpoint's packet size in bytes
  std::uint16_t bulk_packet = 64;
  // The string descriptor `index` (0: the language list, English US), nothing
  // for an index the device does not have.
  std::optional<std::vector<std::uint8_t>> String(std::uint8_t index) const;

  std::vector<std::string> strings;  // index 1.. -> strings[index - 1]
};

UsbDescriptors BuildDescriptors(const UsbDeviceShape& shape, platform::UsbSpeed speed);

// A string descriptor of `text` (Latin-1 characters as UTF-16LE), cut at the
// 126 characters a descriptor holds.
std::vector<std::uint8_t> StringDescriptor(const std::string& text);

// The speed a device that can link at `device` links at on a port that takes
// at most `port`.
platform::UsbSpeed LinkSpeed(platform::UsbSpeed device, platform::UsbSpeed port);

const char* SpeedName(platform::UsbSpeed speed);

}  // namespace sim::usb
