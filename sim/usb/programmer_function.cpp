#include "sim/usb/programmer_function.h"

#include <chrono>
#include <utility>
#include <cstdio>

namespace sim::usb {

namespace {
constexpr auto kBusLook = std::chrono::milliseconds(20);  // how often the model's bus state is looked at

BulkStatus StatusOf(platform::UsbTransferStatus s) {
  switch (s) {
    case platform::UsbTransferStatus::kOk:
      return BulkStatus::kOk;
    case platform::UsbTransferStatus::kCancelled:
      return BulkStatus::kCancelled;
    case platform::UsbTransferStatus::kOverflow:
      return BulkStatus::kBabble;
    default:
      return BulkStatus::kError;
  }
}
}  // namespace

ProgrammerFunction::ProgrammerFunction(programmer::SimProgrammer& model, std::string version, std::string serial,
                                       std::uint16_t packet_bytes)
    : model_(model), version_(std::move(version)), serial_(std::move(serial)), packet_bytes_(packet_bytes) {
  worker_ = std::jthread([this](std::stop_token stop) { Work(stop); });
}

ProgrammerFunction::~ProgrammerFunction() {
  worker_.request_stop();
  {
    std::lock_guard lock(mutex_);
    current_stop_.request_stop();
  }
  worker_ = {};
}

UsbDeviceShape ProgrammerFunction::Shape() const {
  UsbDeviceShape s;
  s.vendor_id = platform::kProgrammerVendorId;
  s.product_id = platform::kProgrammerProductId;
  s.device_release = boot_mode_ ? 0x0001 : 0x0100;
  s.device_class = 0xFF;
  s.interface_class = 0xFF;
  s.bulk_out = kBulkOut;
  s.bulk_in = kBulkIn;
  s.bulk_packet = packet_bytes_;
  s.manufacturer = "";
  s.product = boot_mode_ ? "Boot loader" : version_;
  s.serial = serial_;
  return s;
}

void ProgrammerFunction::BulkOut(std::uint64_t id, std::uint8_t endpoint, std::span<const std::uint8_t> data) {
  BulkCompletion c{id, endpoint, BulkStatus::kStall, {}, 0};
  if (endpoint == kBulkOut && channels_) {
    const auto r = channels_->Write(data, std::chrono::milliseconds(0), {});
    c.status = StatusOf(r.status);
    c.length = static_cast<std::uint32_t>(r.transferred);
  }
  link_->CompleteBulk(std::move(c));
}

void ProgrammerFunction::BulkIn(std::uint64_t id, std::uint8_t endpoint, std::uint32_t length) {
  if (endpoint != kBulkIn || !channels_) {
    link_->CompleteBulk({id, endpoint, BulkStatus::kStall, {}, 0});
    return;
  }
  std::lock_guard lock(mutex_);
  queue_.push_back({id, length});
  changed_.notify_all();
}

void ProgrammerFunction::Cancel(std::uint64_t id) {
  std::unique_lock lock(mutex_);
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (it->id == id) {
      queue_.erase(it);
      lock.unlock();
      link_->CompleteBulk({id, kBulkIn, BulkStatus::kCancelled, {}, 0});
      return;
    }
  }
  if (current_ && current_->id == id) current_stop_.request_stop();  // the worker reports it
}

void ProgrammerFunction::Reset() {
  std::unique_lock lock(mutex_);
  auto queued = std::exchange(queue_, {});
  std::optional<std::uint64_t> in_flight;
  if (current_) {
    in_flight = current_->id;
    current_abandoned_ = true;
    current_stop_.request_stop();
    changed_.wait(lock, [this] { return !current_; });
  }
  lock.unlock();
  if (in_flight) link_->CompleteBulk({*in_flight, kBulkIn, BulkStatus::kCancelled, {}, 0});
  for (const auto& r : queued) link_->CompleteBulk({r.id, kBulkIn, BulkStatus::kCancelled, {}, 0});
}

void ProgrammerFunction::Work(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (!stop.stop_requested()) {
    changed_.wait(lock, stop, [this] { return !queue_.empty(); });
    if (stop.stop_requested()) return;
    const Read r = queue_.front();
    queue_.pop_front();
    current_ = r;
    current_stop_ = std::stop_source();
    current_abandoned_ = false;
    auto token = current_stop_.get_token();
    platform::ProgrammerChannels* channels = channels_.get();
    lock.unlock();
    std::vector<std::uint8_t> data(r.length);
    platform::UsbTransferResult result{platform::UsbTransferStatus::kNoDevice, 0};
    if (channels) result = channels->Read(data, std::chrono::milliseconds(0), token);
    lock.lock();
    const bool abandoned = current_abandoned_;
    current_.reset();
    changed_.notify_all();
    if (abandoned) continue;  // Reset completed it
    data.resize(result.transferred);
    BulkCompletion c{r.id, kBulkIn, StatusOf(result.status), std::move(data), 0};
    c.length = static_cast<std::uint32_t>(c.data.size());
    link_->Post([link = link_, c = std::move(c)]() mutable { link->CompleteBulk(std::move(c)); });
  }
}

std::optional<std::chrono::steady_clock::time_point> ProgrammerFunction::Tick(std::chrono::steady_clock::time_point now) {
  const auto found = model_.Find();
  if (found != location_) {
    if (link_->OnBus()) link_->SetOnBus(false);  // completes what is pending first
    {
      std::lock_guard lock(mutex_);
      channels_.reset();
    }
    location_ = found;
    if (found) {
      auto opened = model_.Open(*found);
      boot_mode_ = model_.InBootMode();
      std::lock_guard lock(mutex_);
      channels_ = std::move(opened);
    }
    if (channels_) link_->SetOnBus(true);
  }
  return now + kBusLook;
}

std::string ProgrammerFunction::Describe() const {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04X:%04X", platform::kProgrammerVendorId, platform::kProgrammerProductId);
  return std::string(link_ && link_->OnBus() ? "connected " : "unplugged ") + ids + " " + serial_;
}

}  // namespace sim::usb
