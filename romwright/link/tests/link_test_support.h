#pragma once
// Test doubles for the programmer link: virtual time that still lets the
// threads run, chip records, and a USB wrapper that watches and holds transfers.

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/linux/quiescent_clock.h"
#include "platform/programmer_usb.h"
#include "romwright/link/chip_record.h"

namespace romwright::testing {

// Simulated time that moves only while every thread sleeps.
using VirtualClock = platform::linux_host::QuiescentClock;

inline ChipRecord MakeChip(ChipType type, const char* name, std::uint32_t capacity,
                           std::uint8_t manufacturer_id = 0xFF, std::uint8_t device_id = 0xFF) {
  ChipRecord r;
  r.type = static_cast<std::uint32_t>(type);
  std::strncpy(r.name.data(), name, r.name.size() - 1);
  std::strncpy(r.manufacturer.data(), "TEST", r.manufacturer.size() - 1);
  r.capacity = capacity;
  r.page_write = 1;
  r.page_size = 256;
  r.manufacturer_id = manufacturer_id;
  r.device_id = device_id;
  r.voltage = 33;
  r.address_bits = 7;
  r.organisation = 8;
  return r;
}

// Wraps a device: counts opens, records the size of every read and write
// request, and can hold reads of at least `hold_reads_from` bytes until
// released (or cancelled).
class WatchedUsb final : public platform::ProgrammerUsb {
 public:
  explicit WatchedUsb(platform::ProgrammerUsb& inner) : inner_(inner) {}

  std::optional<std::string> Find() override { return inner_.Find(); }
  std::unique_ptr<platform::ProgrammerChannels> Open(const std::string& location) override {
    ++opens;
    auto ch = inner_.Open(location);
    if (!ch) return nullptr;
    return std::make_unique<Channels>(*this, std::move(ch));
  }

  std::vector<std::size_t> ReadSizes() {
    std::lock_guard lock(mutex_);
    return read_sizes_;
  }
  void ClearReadSizes() {
    std::lock_guard lock(mutex_);
    read_sizes_.clear();
  }
  void HoldReadsFrom(std::size_t size) {
    std::lock_guard lock(mutex_);
    hold_from_ = size;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    hold_from_ = 0;
    cv_.notify_all();
  }
  int HeldReads() {
    std::lock_guard lock(mutex_);
    return held_;
  }

  std::atomic<int> opens{0};
  std::atomic<int> writes{0};

 private:
  class Channels final : public platform::ProgrammerChannels {
   public:
    Channels(WatchedUsb& owner, std::unique_ptr<platform::ProgrammerChannels> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    std::string Location() const override { return inner_->Location(); }
    bool IsOpen(platform::ProgrammerChannel channel) const override {
      return inner_->IsOpen(channel);
    }
    platform::UsbTransferResult Write(std::span<const std::uint8_t> data,
                                      std::chrono::milliseconds timeout,
                                      std::stop_token stop) override {
      ++owner_.writes;
      return inner_->Write(data, timeout, stop);
    }
    platform::UsbTransferResult Read(std::span<std::uint8_t> data,
                                     std::chrono::milliseconds timeout,
                                     std::stop_token stop) override {
      {
        std::unique_lock lock(owner_.mutex_);
        owner_.read_sizes_.push_back(data.size());
        if (owner_.hold_from_ != 0 && data.size() >= owner_.hold_from_) {
          ++owner_.held_;
          owner_.cv_.wait(lock, stop, [&] {
            return owner_.hold_from_ == 0 || data.size() < owner_.hold_from_;
          });
          --owner_.held_;
          if (stop.stop_requested()) return {platform::UsbTransferStatus::kCancelled, 0};
        }
      }
      return inner_->Read(data, timeout, stop);
    }

   private:
    WatchedUsb& owner_;
    std::unique_ptr<platform::ProgrammerChannels> inner_;
  };

  platform::ProgrammerUsb& inner_;
  std::mutex mutex_;
  std::condition_variable_any cv_;
  std::vector<std::size_t> read_sizes_;
  std::size_t hold_from_ = 0;
  int held_ = 0;
};

}  // namespace romwright::testing
