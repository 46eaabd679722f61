#include "platform/linux/programmer_usb_libusb.h"

#include <filesystem>

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

namespace platform::linux_host {

struct LibusbProgrammer::Context {
  explicit Context(LibusbCalls& c) : calls(c) {}
  ~Context() {
    if (ctx) calls.Exit(ctx);
  }
  LibusbCalls& calls;
  libusb_context* ctx = nullptr;
};

namespace {

std::string LocationOf(LibusbCalls& usb, libusb_device* dev) {
  return std::to_string(usb.GetBusNumber(dev)) + "-" + std::to_string(usb.GetDeviceAddress(dev));
}

bool IsProgrammer(LibusbCalls& usb, libusb_device* dev) {
  libusb_device_descriptor d{};
  if (usb.GetDeviceDescriptor(dev, &d) != 0) return false;
  return d.idVendor == kProgrammerVendorId && d.idProduct == kProgrammerProductId;
}

UsbTransferStatus StatusOf(libusb_transfer_status s) {
  switch (s) {
    case LIBUSB_TRANSFER_COMPLETED:
      return UsbTransferStatus::kOk;
    case LIBUSB_TRANSFER_TIMED_OUT:
      return UsbTransferStatus::kTimedOut;
    case LIBUSB_TRANSFER_CANCELLED:
      return UsbTransferStatus::kCancelled;
    case LIBUSB_TRANSFER_NO_DEVICE:
      return UsbTransferStatus::kNoDevice;
    case LIBUSB_TRANSFER_OVERFLOW:
      return UsbTransferStatus::kOverflow;
    default:
      return UsbTransferStatus::kError;
  }
}

struct Endpoints {
  int interface_number = -1;
  int alt_setting = 0;
  bool several_settings = false;  // the interface has more than this one
  unsigned char out = 0;
  unsigned char in = 0;
  int in_packet_size = 64;
};

// The first interface setting that has a bulk endpoint, with its first bulk
// OUT and bulk IN endpoints (0 where one is missing).
std::optional<Endpoints> FindBulkEndpoints(LibusbCalls& usb, libusb_device* dev) {
  libusb_config_descriptor* config = nullptr;
  if (usb.GetActiveConfigDescriptor(dev, &config) != 0) return std::nullopt;
  std::optional<Endpoints> found;
  for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
    const libusb_interface& itf = config->interface[i];
    for (int a = 0; a < itf.num_altsetting && !found; ++a) {
      const libusb_interface_descriptor& alt = itf.altsetting[a];
      Endpoints e;
      e.interface_number = alt.bInterfaceNumber;
      e.alt_setting = alt.bAlternateSetting;
      e.several_settings = itf.num_altsetting > 1;
      for (int k = 0; k < alt.bNumEndpoints; ++k) {
        const libusb_endpoint_descriptor& ep = alt.endpoint[k];
        if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
        if (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
          if (e.in == 0) {
            e.in = ep.bEndpointAddress;
            e.in_packet_size = ep.wMaxPacketSize > 0 ? ep.wMaxPacketSize : 64;
          }
        } else if (e.out == 0) {
          e.out = ep.bEndpointAddress;
        }
      }
      if (e.in != 0 || e.out != 0) found = e;
    }
  }
  usb.FreeConfigDescriptor(config);
  return found;
}

class LibusbChannels final : public ProgrammerChannels {
 public:
  LibusbChannels(std::shared_ptr<LibusbProgrammer::Context> context, libusb_device_handle* handle,
                 Endpoints endpoints, bool claimed, std::string location)
      : context_(std::move(context)),
        handle_(handle),
        endpoints_(endpoints),
        claimed_(claimed),
        location_(std::move(location)) {}

  ~LibusbChannels() override {
    if (claimed_) Calls().ReleaseInterface(handle_, endpoints_.interface_number);
    Calls().Close(handle_);
  }

  std::string Location() const override { return location_; }
  bool IsOpen(ProgrammerChannel channel) const override {
    return claimed_ && (channel == ProgrammerChannel::kWrite ? endpoints_.out : endpoints_.in) != 0;
  }

  UsbTransferResult Write(std::span<const std::uint8_t> data, std::chrono::milliseconds timeout,
                          std::stop_token stop) override {
    if (!IsOpen(ProgrammerChannel::kWrite)) return {UsbTransferStatus::kError, 0};
    // libusb takes a non-const buffer but does not change an OUT buffer.
    std::vector<std::uint8_t> copy(data.begin(), data.end());
    return Transfer(endpoints_.out, copy.data(), static_cast<int>(copy.size()), timeout, stop);
  }

  UsbTransferResult Read(std::span<std::uint8_t> data, std::chrono::milliseconds timeout,
                         std::stop_token stop) override {
    if (!IsOpen(ProgrammerChannel::kRead)) return {UsbTransferStatus::kError, 0};
    // The request goes out as a whole number of packets, so that a packet
    // longer than the room left arrives whole; then the bytes that fit are
    // kept and the read reports the overflow.
    const std::size_t packet = static_cast<std::size_t>(endpoints_.in_packet_size);
    if (data.size() % packet == 0) {
      return Transfer(endpoints_.in, data.data(), static_cast<int>(data.size()), timeout, stop);
    }
    std::vector<std::uint8_t> bounce((data.size() / packet + 1) * packet);
    auto r = Transfer(endpoints_.in, bounce.data(), static_cast<int>(bounce.size()), timeout, stop);
    const std::size_t fits = std::min(r.transferred, data.size());
    std::memcpy(data.data(), bounce.data(), fits);
    if (r.ok() && r.transferred > data.size()) r.status = UsbTransferStatus::kOverflow;
    r.transferred = fits;
    return r;
  }

 private:
  UsbTransferResult Transfer(unsigned char endpoint, std::uint8_t* buffer, int length,
                             std::chrono::milliseconds timeout, std::stop_token stop) {
    LibusbCalls& usb = Calls();
    libusb_transfer* t = usb.AllocTransfer(0);
    if (!t) return {UsbTransferStatus::kError, 0};
    int completed = 0;
    libusb_fill_bulk_transfer(
        t, handle_, endpoint, buffer, length,
        [](libusb_transfer* done) { *static_cast<int*>(done->user_data) = 1; }, &completed,
        static_cast<unsigned int>(timeout.count()));
    const int rc = usb.SubmitTransfer(t);
    if (rc != 0) {
      usb.FreeTransfer(t);
      return {rc == LIBUSB_ERROR_NO_DEVICE ? UsbTransferStatus::kNoDevice : UsbTransferStatus::kError, 0};
    }
    {
      std::stop_callback cancel(stop, [&usb, t] { usb.CancelTransfer(t); });
      while (!completed) {
        const int e = usb.HandleEventsCompleted(context_->ctx, &completed);
        if (e != 0 && e != LIBUSB_ERROR_INTERRUPTED) {
          usb.CancelTransfer(t);
        }
      }
    }
    UsbTransferResult r{StatusOf(t->status), static_cast<std::size_t>(t->actual_length)};
    usb.FreeTransfer(t);
    return r;
  }

  LibusbCalls& Calls() const { return context_->calls; }

  std::shared_ptr<LibusbProgrammer::Context> context_;
  libusb_device_handle* handle_;
  Endpoints endpoints_;
  bool claimed_;
  std::string location_;
};

}  // namespace

LibusbProgrammer::LibusbProgrammer(LibusbCalls& calls) {
  auto c = std::make_shared<Context>(calls);
  if (calls.Init(&c->ctx) == 0) context_ = std::move(c);
}

LibusbProgrammer::~LibusbProgrammer() = default;

std::optional<std::string> LibusbProgrammer::Find() {
  if (!context_) return std::nullopt;
  LibusbCalls& usb = context_->calls;
  libusb_device** list = nullptr;
  const ssize_t n = usb.GetDeviceList(context_->ctx, &list);
  std::optional<std::string> found;
  for (ssize_t i = 0; i < n && !found; ++i) {
    if (IsProgrammer(usb, list[i])) found = LocationOf(usb, list[i]);
  }
  if (list) usb.FreeDeviceList(list, 1);
  return found;
}

std::unique_ptr<ProgrammerChannels> LibusbProgrammer::Open(const std::string& location) {
  if (!context_) return nullptr;
  LibusbCalls& usb = context_->calls;
  libusb_device** list = nullptr;
  const ssize_t n = usb.GetDeviceList(context_->ctx, &list);
  std::unique_ptr<ProgrammerChannels> channels;
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device* dev = list[i];
    if (!IsProgrammer(usb, dev) || LocationOf(usb, dev) != location) continue;
    libusb_device_handle* handle = nullptr;
    if (usb.Open(dev, &handle) != 0) break;
    usb.SetAutoDetachKernelDriver(handle, 1);
    // No bulk interface, or one held by another program, leaves the channels
    // closed. The endpoints exist only in their own setting of the interface:
    // it is selected on the claimed interface (where the interface has no
    // other, the device is already in it). A setting the device refuses
    // leaves the channels closed too.
    const auto endpoints = FindBulkEndpoints(usb, dev);
    bool claimed = endpoints && usb.ClaimInterface(handle, endpoints->interface_number) == 0;
    if (claimed && endpoints->several_settings &&
        usb.SetInterfaceAltSetting(handle, endpoints->interface_number, endpoints->alt_setting) != 0) {
      usb.ReleaseInterface(handle, endpoints->interface_number);
      claimed = false;
    }
    channels = std::make_unique<LibusbChannels>(context_, handle, endpoints.value_or(Endpoints{}),
                                                claimed, location);
    break;
  }
  if (list) usb.FreeDeviceList(list, 1);
  return channels;
}

std::string ProgrammerAccessHint(const std::vector<std::string>& rule_folders) {
  for (const auto& folder : rule_folders) {
    const std::string path = folder + "/" + kProgrammerRuleName;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
      return "Access to the programmer comes from the udev rule " + path +
             " (the logged-in user and the plugdev group); plug the programmer in again after it was installed.";
    }
  }
  return std::string("No udev rule gives access to the programmer: install ") + kProgrammerRuleName +
         " in /etc/udev/rules.d, run \"udevadm control --reload-rules\" and plug the programmer in again.";
}

}  // namespace platform::linux_host
