#pragma once
// The device services the bridge access needs, handed around as one bundle.
// A backend (the simulated station or the Linux host) provides all of them.

#include "platform/device_events.h"
#include "platform/device_io.h"
#include "platform/storage.h"
#include "platform/system_info.h"
#include "platform/usb_tree.h"

namespace platform {

struct DeviceServices {
  DeviceIo& io;
  UsbTree& usb;
  StorageEnumerator& storage;
  SystemInfo& system;
  DeviceEvents& events;
};

}  // namespace platform
