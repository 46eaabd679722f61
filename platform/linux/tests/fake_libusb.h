#pragma once
// A fake libusb context for the programmer backend's tests. Its bus holds
// devices that answer no transfer, given by their IDs, and at most one
// programmer whose bulk endpoints are served by another backend of the
// programmer (the simulated one): it is on the bus while that backend finds
// it, at address N for its location "...:N", and a transfer on an endpoint
// becomes a Read or Write on that backend's channels, run on a thread of its
// own and completed in HandleEventsCompleted of the thread that waits for it.
// Errors can be set for open, claim, alternate setting and submit, and an
// endpoint left out. The bulk endpoints may sit in a non-zero alternate
// setting (after a setting 0 without endpoints); as on a real device, they
// take transfers only once that setting is selected on the claimed interface.

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/libusb_calls.h"
#include "platform/programmer_usb.h"

namespace platform::linux_host::testing {

class FakeLibusb final : public LibusbCalls {
 public:
  struct Device {
    std::uint8_t bus = 1;
    std::uint8_t address = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string location;  // of the programmer in the serving backend
  };

  // `programmer`: the backend that serves the programmer's endpoints, or null.
  explicit FakeLibusb(ProgrammerUsb* programmer, std::uint8_t programmer_bus = 3)
      : programmer_(programmer), programmer_bus_(programmer_bus) {}

  void AddDevice(std::uint8_t bus, std::uint8_t address, std::uint16_t vendor, std::uint16_t product) {
    std::lock_guard lock(mutex_);
    others_.push_back(Device{bus, address, vendor, product, {}});
  }

  // Knobs.
  int init_error = 0;
  int open_error = 0;
  int claim_error = 0;
  int submit_error = 0;
  int alt_setting_error = 0;
  std::uint8_t bulk_alt_setting = 0;  // the alternate setting that holds the bulk endpoints
  bool has_out = true;
  bool has_in = true;
  std::uint16_t in_packet_size = 64;

  // What the backend did.
  int opens = 0;
  int closes = 0;
  int claims = 0;
  int releases = 0;
  std::vector<std::pair<int, int>> alt_selections;  // interface and setting, in order
  std::vector<int> read_lengths;  // the length of every IN transfer submitted

  int Init(libusb_context** ctx) override {
    if (init_error != 0) return init_error;
    *ctx = reinterpret_cast<libusb_context*>(this);
    return 0;
  }
  void Exit(libusb_context*) override {}

  ssize_t GetDeviceList(libusb_context*, libusb_device*** list) override {
    std::lock_guard lock(mutex_);
    std::vector<Device*> devices;
    for (auto& d : others_) devices.push_back(&d);
    if (programmer_) {
      if (const auto location = programmer_->Find()) {
        devices.push_back(&ProgrammerEntry(*location));
      }
    }
    *list = new libusb_device*[devices.size() + 1];
    for (std::size_t i = 0; i < devices.size(); ++i) (*list)[i] = reinterpret_cast<libusb_device*>(devices[i]);
    (*list)[devices.size()] = nullptr;
    return static_cast<ssize_t>(devices.size());
  }
  void FreeDeviceList(libusb_device** list, int) override { delete[] list; }
  std::uint8_t GetBusNumber(libusb_device* dev) override { return Of(dev).bus; }
  std::uint8_t GetDeviceAddress(libusb_device* dev) override { return Of(dev).address; }
  int GetDeviceDescriptor(libusb_device* dev, libusb_device_descriptor* desc) override {
    *desc = libusb_device_descriptor{};
    desc->idVendor = Of(dev).vendor;
    desc->idProduct = Of(dev).product;
    return 0;
  }
  int GetActiveConfigDescriptor(libusb_device*, libusb_config_descriptor** config) override {
    auto c = std::make_unique<Config>();
    int n = 0;
    if (has_out) c->endpoints[n++] = Endpoint(0x01, 64);
    if (has_in) c->endpoints[n++] = Endpoint(0x82, in_packet_size);
    // Setting 0 without endpoints comes first when the bulk endpoints are in another one.
    int alts = 0;
    if (bulk_alt_setting != 0) c->alts[alts++].bAlternateSetting = 0;
    libusb_interface_descriptor& bulk = c->alts[alts++];
    bulk.bAlternateSetting = bulk_alt_setting;
    bulk.bNumEndpoints = static_cast<std::uint8_t>(n);
    bulk.endpoint = c->endpoints;
    c->itf.altsetting = c->alts;
    c->itf.num_altsetting = alts;
    c->config.bNumInterfaces = 1;
    c->config.interface = &c->itf;
    *config = &c->config;
    c.release();
    return 0;
  }
  void FreeConfigDescriptor(libusb_config_descriptor* config) override {
    delete reinterpret_cast<Config*>(config);  // the first member
  }

  int Open(libusb_device* dev, libusb_device_handle** handle) override {
    if (open_error != 0) return open_error;
    Device& d = Of(dev);
    if (!programmer_ || d.location.empty()) return LIBUSB_ERROR_NOT_SUPPORTED;
    auto channels = programmer_->Open(d.location);
    if (!channels) return LIBUSB_ERROR_NO_DEVICE;
    ++opens;
    *handle = reinterpret_cast<libusb_device_handle*>(new Handle{std::move(channels), false, 0});
    return 0;
  }
  void Close(libusb_device_handle* handle) override {
    ++closes;
    delete reinterpret_cast<Handle*>(handle);
  }
  int SetAutoDetachKernelDriver(libusb_device_handle*, int) override { return 0; }
  int ClaimInterface(libusb_device_handle* handle, int) override {
    if (claim_error != 0) return claim_error;
    // The serving backend's channels that cannot be claimed: held elsewhere.
    Handle& h = *reinterpret_cast<Handle*>(handle);
    if (!h.channels->IsOpen(ProgrammerChannel::kWrite) || !h.channels->IsOpen(ProgrammerChannel::kRead)) {
      return LIBUSB_ERROR_BUSY;
    }
    ++claims;
    h.claimed = true;
    return 0;
  }
  int ReleaseInterface(libusb_device_handle* handle, int) override {
    ++releases;
    reinterpret_cast<Handle*>(handle)->claimed = false;
    return 0;
  }
  // libusb refuses an interface that is not claimed, or a setting it does not have.
  int SetInterfaceAltSetting(libusb_device_handle* handle, int interface_number, int alternate_setting) override {
    Handle& h = *reinterpret_cast<Handle*>(handle);
    alt_selections.emplace_back(interface_number, alternate_setting);
    if (!h.claimed || interface_number != 0) return LIBUSB_ERROR_NOT_FOUND;
    if (alternate_setting != 0 && alternate_setting != bulk_alt_setting) return LIBUSB_ERROR_NOT_FOUND;
    if (alt_setting_error != 0) return alt_setting_error;
    h.alt_setting = alternate_setting;
    return 0;
  }

  libusb_transfer* AllocTransfer(int) override { return new libusb_transfer{}; }
  void FreeTransfer(libusb_transfer* transfer) override { delete transfer; }

  int SubmitTransfer(libusb_transfer* t) override {
    if (submit_error != 0) return submit_error;
    Handle& h = *reinterpret_cast<Handle*>(t->dev_handle);
    // An endpoint of a setting that is not the current one is not there:
    // usbfs refuses the request and libusb reports an I/O error.
    if (h.alt_setting != bulk_alt_setting) return LIBUSB_ERROR_IO;
    auto& channels = *h.channels;
    const bool in = (t->endpoint & LIBUSB_ENDPOINT_IN) != 0;
    std::lock_guard lock(mutex_);
    if (in) read_lengths.push_back(t->length);
    auto& job = jobs_[t];
    job.thread = std::jthread([this, t, &channels, in](std::stop_token stop) {
      const std::chrono::milliseconds timeout{t->timeout};
      const UsbTransferResult r =
          in ? channels.Read({t->buffer, static_cast<std::size_t>(t->length)}, timeout, stop)
             : channels.Write({t->buffer, static_cast<std::size_t>(t->length)}, timeout, stop);
      std::lock_guard done(mutex_);
      Job& j = jobs_.at(t);
      j.status = StatusOf(r.status);
      j.actual = static_cast<int>(r.transferred);
      j.finished = true;
      finished_.notify_all();
    });
    return 0;
  }
  int CancelTransfer(libusb_transfer* t) override {
    std::lock_guard lock(mutex_);
    const auto it = jobs_.find(t);
    if (it == jobs_.end()) return LIBUSB_ERROR_NOT_FOUND;
    it->second.thread.request_stop();
    return 0;
  }
  // Completes the caller's own transfer (the one whose user data is `completed`).
  int HandleEventsCompleted(libusb_context*, int* completed) override {
    std::unique_lock lock(mutex_);
    auto mine = jobs_.end();
    finished_.wait(lock, [&] {
      mine = std::find_if(jobs_.begin(), jobs_.end(), [&](auto& j) {
        return j.first->user_data == completed && j.second.finished;
      });
      return mine != jobs_.end();
    });
    libusb_transfer* t = mine->first;
    std::jthread thread = std::move(mine->second.thread);
    t->status = mine->second.status;
    t->actual_length = mine->second.actual;
    jobs_.erase(mine);
    lock.unlock();
    thread.join();
    t->callback(t);
    return 0;
  }

 private:
  struct Config {
    libusb_config_descriptor config{};
    libusb_interface itf{};
    libusb_interface_descriptor alts[2]{};
    libusb_endpoint_descriptor endpoints[2]{};
  };
  struct Handle {
    std::unique_ptr<ProgrammerChannels> channels;
    bool claimed;
    int alt_setting;  // the interface's current setting
  };
  struct Job {
    std::jthread thread;
    bool finished = false;
    libusb_transfer_status status = LIBUSB_TRANSFER_ERROR;
    int actual = 0;
  };

  static libusb_endpoint_descriptor Endpoint(std::uint8_t address, std::uint16_t packet) {
    libusb_endpoint_descriptor e{};
    e.bEndpointAddress = address;
    e.bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
    e.wMaxPacketSize = packet;
    return e;
  }
  static libusb_transfer_status StatusOf(UsbTransferStatus s) {
    switch (s) {
      case UsbTransferStatus::kOk: return LIBUSB_TRANSFER_COMPLETED;
      case UsbTransferStatus::kTimedOut: return LIBUSB_TRANSFER_TIMED_OUT;
      case UsbTransferStatus::kCancelled: return LIBUSB_TRANSFER_CANCELLED;
      case UsbTransferStatus::kNoDevice: return LIBUSB_TRANSFER_NO_DEVICE;
      case UsbTransferStatus::kOverflow: return LIBUSB_TRANSFER_OVERFLOW;
      case UsbTransferStatus::kError: break;
    }
    return LIBUSB_TRANSFER_ERROR;
  }
  static Device& Of(libusb_device* dev) { return *reinterpret_cast<Device*>(dev); }

  // The programmer's entry: a new address for every new location, as a
  // device that enumerates again gets.
  Device& ProgrammerEntry(const std::string& location) {
    for (auto& d : programmers_) {
      if (d.location == location) return d;
    }
    const auto colon = location.rfind(':');
    const int n = colon == std::string::npos ? 1 : std::stoi(location.substr(colon + 1));
    programmers_.push_back(Device{programmer_bus_, static_cast<std::uint8_t>(n), kProgrammerVendorId,
                                  kProgrammerProductId, location});
    return programmers_.back();
  }

  ProgrammerUsb* programmer_;
  std::uint8_t programmer_bus_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::deque<Device> others_;
  std::deque<Device> programmers_;
  std::map<libusb_transfer*, Job> jobs_;
};

}  // namespace platform::linux_host::testing
