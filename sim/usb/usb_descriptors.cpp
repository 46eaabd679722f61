#include "sim/usb/usb_descriptors.h"

#include <algorithm>

namespace sim::usb {

namespace {

using platform::UsbSpeed;

void Put16(std::vector<std::uint8_t>& d, std::uint16_t v) {
  d.push_back(static_cast<std::uint8_t>(v & 0xFF));
  d.push_back(static_cast<std::uint8_t>(v >> 8));
}

constexpr std::uint8_t kDescDevice = 1;
constexpr std::uint8_t kDescConfiguration = 2;
constexpr std::uint8_t kDescString = 3;
constexpr std::uint8_t kDescInterface = 4;
constexpr std::uint8_t kDescEndpoint = 5;
constexpr std::uint8_t kDescBos = 15;
constexpr std::uint8_t kDescDeviceCapability = 16;
constexpr std::uint8_t kDescSsEndpointCompanion = 48;

}  // namespace

std::vector<std::uint8_t> StringDescriptor(const std::string& text) {
  std::vector<std::uint8_t> d{0, kDescString};
  for (std::size_t i = 0; i < text.size() && i < 126; ++i) {
    d.push_back(static_cast<std::uint8_t>(text[i]));
    d.push_back(0);
  }
  d[0] = static_cast<std::uint8_t>(d.size());
  return d;
}

std::optional<std::vector<std::uint8_t>> UsbDescriptors::String(std::uint8_t index) const {
  if (index == 0) return std::vector<std::uint8_t>{4, kDescString, 0x09, 0x04};
  if (index > strings.size() || strings[index - 1u].empty()) return std::nullopt;
  return StringDescriptor(strings[index - 1u]);
}

UsbSpeed LinkSpeed(UsbSpeed device, UsbSpeed port) { return std::min(device, port); }

const char* SpeedName(UsbSpeed speed) {
  switch (speed) {
    case UsbSpeed::kLow:
      return "low";
    case UsbSpeed::kFull:
      return "full";
    case UsbSpeed::kHigh:
      return "high";
    case UsbSpeed::kSuper:
      return "super";
  }
  return "?";
}

UsbDescriptors BuildDescriptors(const UsbDeviceShape& shape, UsbSpeed speed) {
  UsbDescriptors out;
  const bool super = speed == UsbSpeed::kSuper;
  const bool high = speed == UsbSpeed::kHigh;
  const std::uint16_t speed_packet = super ? 1024 : high ? 512 : 64;
  out.bulk_packet = shape.bulk_packet != 0 ? std::min(shape.bulk_packet, speed_packet) : speed_packet;
  out.ep0_packet = super ? 9 : 64;  // a SuperSpeed device gives the exponent: 2^9 = 512
  out.strings = {shape.manufacturer, shape.product, shape.serial};

  auto& d = out.device;
  d = {18, kDescDevice};
  Put16(d, super ? 0x0300 : high ? 0x0210 : 0x0200);
  d.push_back(shape.device_class);
  d.push_back(0);
  d.push_back(0);
  d.push_back(out.ep0_packet);
  Put16(d, shape.vendor_id);
  Put16(d, shape.product_id);
  Put16(d, shape.device_release);
  d.push_back(shape.manufacturer.empty() ? 0 : 1);
  d.push_back(shape.product.empty() ? 0 : 2);
  d.push_back(shape.serial.empty() ? 0 : 3);
  d.push_back(1);  // one configuration

  auto& c = out.configuration;
  c = {9, kDescConfiguration, 0, 0, 1, 1, 0, 0x80, static_cast<std::uint8_t>(super ? 112 : 250)};
  // bus powered; bMaxPower in 8 mA units at SuperSpeed (896 mA), else 2 mA (500 mA)
  c.insert(c.end(), {9, kDescInterface, 0, 0, 2, shape.interface_class, shape.interface_subclass,
                     shape.interface_protocol, 0});
  for (const std::uint8_t ep : {shape.bulk_in, shape.bulk_out}) {
    c.insert(c.end(), {7, kDescEndpoint, ep, 0x02});
    Put16(c, out.bulk_packet);
    c.push_back(0);
    if (super) c.insert(c.end(), {6, kDescSsEndpointCompanion, 0, 0, 0, 0});
  }
  c[2] = static_cast<std::uint8_t>(c.size() & 0xFF);
  c[3] = static_cast<std::uint8_t>(c.size() >> 8);

  if (super || high) {
    auto& b = out.bos;
    b = {5, kDescBos, 0, 0, static_cast<std::uint8_t>(super ? 2 : 1)};
    // USB 2.0 extension: link power management
    b.insert(b.end(), {7, kDescDeviceCapability, 0x02, 0x02, 0, 0, 0});
    if (super) {
      // SuperSpeed USB device capability: full, high and 5 Gb/s, full speed
      // the lowest with all functions, U1 exit 10 us, U2 exit 2047 us
      b.insert(b.end(), {10, kDescDeviceCapability, 0x03, 0x00, 0x0E, 0x00, 0x01, 0x0A, 0xFF, 0x07});
    }
    b[2] = static_cast<std::uint8_t>(b.size() & 0xFF);
    b[3] = static_cast<std::uint8_t>(b.size() >> 8);
  }
  return out;
}

}  // namespace sim::usb
