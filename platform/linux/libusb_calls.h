#pragma once
// The few libusb calls the programmer backend makes, behind one interface, so
// that its own logic (which device it takes, how it opens and claims, how
// transfer outcomes map to results) runs in tests against a fake context. The
// system's one passes every call straight to libusb.

#include <libusb.h>

#include <cstdint>

namespace platform::linux_host {

class LibusbCalls {
 public:
  virtual ~LibusbCalls() = default;

  virtual int Init(libusb_context** ctx) = 0;
  virtual void Exit(libusb_context* ctx) = 0;

  virtual ssize_t GetDeviceList(libusb_context* ctx, libusb_device*** list) = 0;
  virtual void FreeDeviceList(libusb_device** list, int unref) = 0;
  virtual std::uint8_t GetBusNumber(libusb_device* dev) = 0;
  virtual std::uint8_t GetDeviceAddress(libusb_device* dev) = 0;
  virtual int GetDeviceDescriptor(libusb_device* dev, libusb_device_descriptor* desc) = 0;
  virtual int GetActiveConfigDescriptor(libusb_device* dev, libusb_config_descriptor** config) = 0;
  virtual void FreeConfigDescriptor(libusb_config_descriptor* config) = 0;

  virtual int Open(libusb_device* dev, libusb_device_handle** handle) = 0;
  virtual void Close(libusb_device_handle* handle) = 0;
  virtual int SetAutoDetachKernelDriver(libusb_device_handle* handle, int enable) = 0;
  virtual int ClaimInterface(libusb_device_handle* handle, int interface_number) = 0;
  virtual int ReleaseInterface(libusb_device_handle* handle, int interface_number) = 0;
  // Selects a setting of a claimed interface.
  virtual int SetInterfaceAltSetting(libusb_device_handle* handle, int interface_number, int alternate_setting) = 0;

  // Transfers: allocated, filled with libusb_fill_bulk_transfer, submitted;
  // HandleEventsCompleted runs the completion callbacks on the calling thread
  // and returns when `*completed` was set or an event came.
  virtual libusb_transfer* AllocTransfer(int iso_packets) = 0;
  virtual void FreeTransfer(libusb_transfer* transfer) = 0;
  virtual int SubmitTransfer(libusb_transfer* transfer) = 0;
  virtual int CancelTransfer(libusb_transfer* transfer) = 0;
  virtual int HandleEventsCompleted(libusb_context* ctx, int* completed) = 0;
};

// libusb itself.
LibusbCalls& SystemLibusb();

}  // namespace platform::linux_host
