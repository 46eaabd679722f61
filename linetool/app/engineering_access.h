#pragma once
// What the engineering dialogs reach a bridge through: the device table of the
// last refresh, the bridge access that refresh made, and the clock. Every
// command opens the bridge of one record for exclusive use and closes it
// before it returns. A default access has no station: no port, nothing opens.

#include <cstdint>
#include <memory>
#include <string>

#include "linetool/device/device_table.h"
#include "linetool/device/kelv_usb_lib.h"
#include "platform/clock.h"
#include "platform/device_io.h"

namespace linetool::app {

struct EngineeringAccess {
  const device::DeviceTable* table = nullptr;
  device::CKelvUSBLib* lib = nullptr;
  platform::Clock* clock = nullptr;

  // The record of a port, or nullptr when the port holds no bridge.
  const device::BridgeDeviceRecord* Record(int port) const;
  // The bridge of a port opened for exclusive use; nullptr when it does not open.
  std::unique_ptr<platform::DeviceHandle> OpenExclusive(int port) const;
  // The command transport of the last refresh (only when `lib` is set).
  device::CKelvUSBDev2K& Dev() const { return lib->Device(); }
};

// Formats a message text that carries one "%d" with `value`.
std::string WithNumber(std::string_view text, int value);

}  // namespace linetool::app
