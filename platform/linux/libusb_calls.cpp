#include "platform/linux/libusb_calls.h"

namespace platform::linux_host {

namespace {

class SystemCalls final : public LibusbCalls {
 public:
  int Init(libusb_context** ctx) override { return libusb_init(ctx); }
  void Exit(libusb_context* ctx) override { libusb_exit(ctx); }
  ssize_t GetDeviceList(libusb_context* ctx, libusb_device*** list) override {
    return libusb_get_device_list(ctx, list);
  }
  void FreeDeviceList(libusb_device** list, int unref) override { libusb_free_device_list(list, unref); }
  std::uint8_t GetBusNumber(libusb_device* dev) override { return libusb_get_bus_number(dev); }
  std::uint8_t GetDeviceAddress(libusb_device* dev) override { return libusb_get_device_address(dev); }
  int GetDeviceDescriptor(libusb_device* dev, libusb_device_descriptor* desc) override {
    return libusb_get_device_descriptor(dev, desc);
  }
  int GetActiveConfigDescriptor(libusb_device* dev, libusb_config_descriptor** config) override {
    return libusb_get_active_config_descriptor(dev, config);
  }
  void FreeConfigDescriptor(libusb_config_descriptor* config) override {
    libusb_free_config_descriptor(config);
  }
  int Open(libusb_device* dev, libusb_device_handle** handle) override { return libusb_open(dev, handle); }
  void Close(libusb_device_handle* handle) override { libusb_close(handle); }
  int SetAutoDetachKernelDriver(libusb_device_handle* handle, int enable) override {
    return libusb_set_auto_detach_kernel_driver(handle, enable);
  }
  int ClaimInterface(libusb_device_handle* handle, int interface_number) override {
    return libusb_claim_interface(handle, interface_number);
  }
  int ReleaseInterface(libusb_device_handle* handle, int interface_number) override {
    return libusb_release_interface(handle, interface_number);
  }
  int SetInterfaceAltSetting(libusb_device_handle* handle, int interface_number, int alternate_setting) override {
    return libusb_set_interface_alt_setting(handle, interface_number, alternate_setting);
  }
  libusb_transfer* AllocTransfer(int iso_packets) override { return libusb_alloc_transfer(iso_packets); }
  void FreeTransfer(libusb_transfer* transfer) override { libusb_free_transfer(transfer); }
  int SubmitTransfer(libusb_transfer* transfer) override { return libusb_submit_transfer(transfer); }
  int CancelTransfer(libusb_transfer* transfer) override { return libusb_cancel_transfer(transfer); }
  int HandleEventsCompleted(libusb_context* ctx, int* completed) override {
    return libusb_handle_events_completed(ctx, completed);
  }
};

}  // namespace

LibusbCalls& SystemLibusb() {
  static SystemCalls calls;
  return calls;
}

}  // namespace platform::linux_host
