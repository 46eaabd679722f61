#pragma once
// A simulated bridge as a USB mass-storage device: the descriptors of the
// model's current identity (vendor and product ID, release, its three
// strings; no serial string when the serial is empty), one interface of class
// 08/06/50 (SCSI transparent command set, Bulk-Only Transport, which the
// kernel drives with usb-storage) and the bridge's plug events: a restart
// (E8 00) takes it off the bus once the command's status has gone and brings
// it back, restarted (configuration slot 0's descriptors when valid), after
// the world's reload delay or the bridge's own return delay (never, for a
// bridge that never returns); a safe removal (E8 01) takes it off until it
// is plugged again. Where the port takes less than the bridge's speed (behind
// qemu's full-speed hub), the bridge links slower and its link speed register
// (0x9002) says so. Time is the real clock: a real kernel is on the other side.

#include <chrono>
#include <memory>
#include <optional>

#include "sim/station/sim_bridge.h"
#include "sim/usb/bulk_only_transport.h"
#include "sim/usb/usb_function.h"

namespace sim::usb {

class BridgeFunction final : public UsbFunction {
 public:
  BridgeFunction(std::shared_ptr<station::SimBridge> model, std::unique_ptr<ScsiTarget> target,
                 platform::UsbSpeed speed, std::chrono::milliseconds reload_delay);

  // The bridge's link speed register says the speed it links at.
  void Attach(DeviceLink& link) override;
  UsbDeviceShape Shape() const override;
  platform::UsbSpeed Speed() const override { return speed_; }
  std::optional<std::vector<std::uint8_t>> Request(const ControlSetup& setup,
                                                   std::span<const std::uint8_t> out) override;
  void BulkOut(std::uint64_t id, std::uint8_t endpoint, std::span<const std::uint8_t> data) override;
  void BulkIn(std::uint64_t id, std::uint8_t endpoint, std::uint32_t length) override;
  void Cancel(std::uint64_t id) override { transport_.Cancel(id); }
  bool ClearHalt(std::uint8_t endpoint) override { return transport_.ClearHalt(endpoint); }
  bool Halted(std::uint8_t endpoint) const override { return transport_.Halted(endpoint); }
  void Reset() override { transport_.Reset(); }
  std::optional<std::chrono::steady_clock::time_point> Tick(std::chrono::steady_clock::time_point now) override;
  std::string Describe() const override;
  void Plug() override;
  void Unplug() override;

  static constexpr std::uint8_t kBulkIn = 0x81;
  static constexpr std::uint8_t kBulkOut = 0x02;

 private:
  enum class State { kOnline, kAway, kRemoved };
  void AfterCommand();

  std::shared_ptr<station::SimBridge> model_;
  std::unique_ptr<ScsiTarget> target_;
  platform::UsbSpeed speed_;
  std::chrono::milliseconds reload_delay_;
  BulkOnlyTransport transport_;
  DeviceLink* link_ = nullptr;
  State state_ = State::kOnline;
  std::chrono::steady_clock::time_point return_at_{};
};

}  // namespace sim::usb
