#pragma once
// The simulated programmer as the USB device its host side looks for: vendor
// 0x10C4, product 0xF5A0, full speed, one vendor-class interface (0xFF) with
// a bulk OUT endpoint (commands and outgoing data: the model's write channel)
// and a bulk IN endpoint (replies and incoming data: its read channel), of the
// model's packet size. The product string is the firmware's version text (the
// boot loader's name in boot mode), the serial string its serial number.
//
// A bulk IN transfer is answered by a worker thread that reads the model's
// read channel for the length asked, so a long read holds nothing else up;
// the host's cancel stops it. When the model leaves the bus (its boot mode,
// the update's restart, an unplug) the device disconnects, pending transfers
// completed as cancelled first, and connects again when it is back.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "sim/programmer/sim_programmer.h"
#include "sim/usb/usb_function.h"

namespace sim::usb {

class ProgrammerFunction final : public UsbFunction {
 public:
  ProgrammerFunction(programmer::SimProgrammer& model, std::string version, std::string serial,
                     std::uint16_t packet_bytes);
  ~ProgrammerFunction() override;

  void Attach(DeviceLink& link) override { link_ = &link; }
  UsbDeviceShape Shape() const override;
  platform::UsbSpeed Speed() const override { return platform::UsbSpeed::kFull; }
  std::optional<std::vector<std::uint8_t>> Request(const ControlSetup&, std::span<const std::uint8_t>) override {
    return std::nullopt;
  }
  void BulkOut(std::uint64_t id, std::uint8_t endpoint, std::span<const std::uint8_t> data) override;
  void BulkIn(std::uint64_t id, std::uint8_t endpoint, std::uint32_t length) override;
  void Cancel(std::uint64_t id) override;
  bool ClearHalt(std::uint8_t endpoint) override { return endpoint == kBulkIn || endpoint == kBulkOut; }
  bool Halted(std::uint8_t) const override { return false; }
  void Reset() override;
  std::optional<std::chrono::steady_clock::time_point> Tick(std::chrono::steady_clock::time_point now) override;
  std::string Describe() const override;
  void Plug() override { model_.Plug(); }
  void Unplug() override { model_.Unplug(); }

  static constexpr std::uint8_t kBulkOut = 0x01;
  static constexpr std::uint8_t kBulkIn = 0x82;

 private:
  struct Read {
    std::uint64_t id;
    std::uint32_t length;
  };
  void Work(std::stop_token stop);

  programmer::SimProgrammer& model_;
  std::string version_;
  std::string serial_;
  std::uint16_t packet_bytes_;
  DeviceLink* link_ = nullptr;
  std::optional<std::string> location_;
  bool boot_mode_ = false;
  std::unique_ptr<platform::ProgrammerChannels> channels_;

  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::deque<Read> queue_;
  std::optional<Read> current_;
  std::stop_source current_stop_;
  bool current_abandoned_ = false;
  std::jthread worker_;
};

}  // namespace sim::usb
