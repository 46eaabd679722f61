#include "sim/usb/bridge_function.h"

#include <cstdio>

namespace sim::usb {

namespace {
constexpr std::uint8_t kRequestGetMaxLun = 0xFE;
constexpr std::uint8_t kRequestMassStorageReset = 0xFF;
}  // namespace

BridgeFunction::BridgeFunction(std::shared_ptr<station::SimBridge> model, std::unique_ptr<ScsiTarget> target,
                               platform::UsbSpeed speed, std::chrono::milliseconds reload_delay)
    : model_(std::move(model)),
      target_(std::move(target)),
      speed_(speed),
      reload_delay_(reload_delay),
      transport_(*target_, kBulkIn, kBulkOut, [this](BulkCompletion c) {
        if (link_) link_->CompleteBulk(std::move(c));
      }) {}

void BridgeFunction::Attach(DeviceLink& link) {
  link_ = &link;
  const platform::UsbSpeed linked = link.LinkSpeedNow();
  if (linked < speed_) {
    model_->SetRegister(station::kRegLinkSpeed, linked == platform::UsbSpeed::kHigh ? 1 : 0);
  }
}

UsbDeviceShape BridgeFunction::Shape() const {
  const auto& id = model_->Identity();
  UsbDeviceShape s;
  s.vendor_id = id.vendor_id;
  s.product_id = id.product_id;
  s.device_release = id.device_release;
  s.interface_class = 0x08;     // mass storage
  s.interface_subclass = 0x06;  // SCSI transparent command set
  s.interface_protocol = 0x50;  // Bulk-Only Transport
  s.bulk_in = kBulkIn;
  s.bulk_out = kBulkOut;
  s.manufacturer = id.manufacturer;
  s.product = id.product;
  s.serial = id.serial;
  return s;
}

std::optional<std::vector<std::uint8_t>> BridgeFunction::Request(const ControlSetup& s,
                                                                 std::span<const std::uint8_t>) {
  if (s.request_type == 0xA1 && s.request == kRequestGetMaxLun && s.value == 0 && s.index == 0 && s.length >= 1) {
    return std::vector<std::uint8_t>{0};  // one logical unit
  }
  if (s.request_type == 0x21 && s.request == kRequestMassStorageReset && s.value == 0 && s.index == 0 &&
      s.length == 0) {
    transport_.MassStorageReset();
    return std::vector<std::uint8_t>{};
  }
  return std::nullopt;
}

void BridgeFunction::BulkOut(std::uint64_t id, std::uint8_t endpoint, std::span<const std::uint8_t> data) {
  if (endpoint != kBulkOut) {
    if (link_) link_->CompleteBulk({id, endpoint, BulkStatus::kStall, {}, 0});
    return;
  }
  transport_.BulkOut(id, data);
  AfterCommand();
}

void BridgeFunction::BulkIn(std::uint64_t id, std::uint8_t endpoint, std::uint32_t length) {
  if (endpoint != kBulkIn) {
    if (link_) link_->CompleteBulk({id, endpoint, BulkStatus::kStall, {}, 0});
    return;
  }
  transport_.BulkIn(id, length);
  AfterCommand();
}

// The status of a command that restarts or removes the bridge has gone to
// the host: now it leaves the bus.
void BridgeFunction::AfterCommand() {
  if (!transport_.TakeCommandEnded()) return;
  switch (model_->TakeAction()) {
    case station::BridgeAction::kRestart: {
      const auto& faults = model_->Faults();
      if (faults.never_returns) {
        state_ = State::kRemoved;
      } else {
        state_ = State::kAway;
        const auto delay = faults.return_delay_ms ? std::chrono::milliseconds(*faults.return_delay_ms) : reload_delay_;
        return_at_ = std::chrono::steady_clock::now() + delay;
      }
      if (link_) link_->SetOnBus(false);
      return;
    }
    case station::BridgeAction::kSafeRemove:
      state_ = State::kRemoved;
      if (link_) link_->SetOnBus(false);
      return;
    case station::BridgeAction::kNone:
      return;
  }
}

std::optional<std::chrono::steady_clock::time_point> BridgeFunction::Tick(std::chrono::steady_clock::time_point now) {
  if (state_ == State::kAway && now >= return_at_) {
    target_->Restart();
    state_ = State::kOnline;
  }
  if (link_ && state_ == State::kOnline && !link_->OnBus()) link_->SetOnBus(true);
  if (state_ == State::kAway) return return_at_;
  return std::nullopt;
}

void BridgeFunction::Plug() {
  if (state_ == State::kOnline) return;
  target_->PowerUp();  // power comes back: registers lost, the firmware starts again
  state_ = State::kOnline;
  if (link_) link_->SetOnBus(true);
}

void BridgeFunction::Unplug() {
  state_ = State::kRemoved;
  if (link_) link_->SetOnBus(false);
}

std::string BridgeFunction::Describe() const {
  const auto& id = model_->Identity();
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04X:%04X", id.vendor_id, id.product_id);
  const char* state = state_ == State::kOnline ? "connected" : state_ == State::kAway ? "restarting" : "unplugged";
  return std::string(state) + " " + ids + " " + (id.serial.empty() ? "-" : id.serial);
}

}  // namespace sim::usb
