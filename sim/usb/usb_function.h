#pragma once
// What a simulated USB device does beyond the standard requests its
// RedirDevice answers: its descriptors, its class or vendor control
// requests, its bulk endpoints, and its own plug events. Every call comes on
// the device's thread; completions go back through the DeviceLink.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/usb_tree.h"
#include "sim/usb/bulk_only_transport.h"
#include "sim/usb/usb_descriptors.h"

namespace sim::usb {

struct ControlSetup {
  std::uint8_t request_type = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
};

// The device's side of the bus, for its function (device thread only, but
// Post, which any thread may call).
class DeviceLink {
 public:
  virtual ~DeviceLink() = default;
  virtual void CompleteBulk(BulkCompletion completion) = 0;
  // Comes on the bus (again) with the function's current descriptors, or leaves it.
  virtual void SetOnBus(bool on_bus) = 0;
  virtual bool OnBus() const = 0;
  // The speed the device links at: its own, or less where the port takes less.
  virtual platform::UsbSpeed LinkSpeedNow() const = 0;
  // Runs `task` on the device's thread.
  virtual void Post(std::function<void()> task) = 0;
};

class UsbFunction {
 public:
  virtual ~UsbFunction() = default;

  virtual void Attach(DeviceLink& link) = 0;
  virtual UsbDeviceShape Shape() const = 0;
  // The speed the device can link at (the port may take less).
  virtual platform::UsbSpeed Speed() const = 0;
  // A class or vendor request: the IN data (empty for OUT), or nothing to stall.
  virtual std::optional<std::vector<std::uint8_t>> Request(const ControlSetup& setup,
                                                           std::span<const std::uint8_t> out) = 0;
  virtual void BulkOut(std::uint64_t id, std::uint8_t endpoint, std::span<const std::uint8_t> data) = 0;
  virtual void BulkIn(std::uint64_t id, std::uint8_t endpoint, std::uint32_t length) = 0;
  virtual void Cancel(std::uint64_t id) = 0;
  virtual bool ClearHalt(std::uint8_t endpoint) = 0;
  virtual bool Halted(std::uint8_t endpoint) const = 0;
  // Bus reset, leaving the bus, or the host going away: pending transfers end.
  virtual void Reset() = 0;
  // Time-driven events (a restarted bridge coming back); the next moment it
  // wants to be asked again, nothing for none.
  virtual std::optional<std::chrono::steady_clock::time_point> Tick(std::chrono::steady_clock::time_point now) = 0;
  // One line for the control socket's status: "connected 2E77:7700 SERIAL".
  virtual std::string Describe() const = 0;
  // The control socket's plug and unplug.
  virtual void Plug() = 0;
  virtual void Unplug() = 0;
};

}  // namespace sim::usb
