#pragma once
// CKelvUSBLib: the owner of the bridge access. A refresh replaces the
// CKelvUSBDev2K of the previous one and walks the USB tree into the table.

#include <cstdint>
#include <memory>

#include "linetool/device/kelv_usb_dev2k.h"

namespace linetool::device {

inline constexpr std::uint8_t kRefreshDone = 0;
inline constexpr std::uint8_t kRefreshUnsupportedSystem = 4;

class CKelvUSBLib {
 public:
  explicit CKelvUSBLib(platform::DeviceServices services) : services_(services) {}
  virtual ~CKelvUSBLib();

  // Checks the system version (the NT family from 5.0 on), then rebuilds the
  // table. 0 done, 4 unsupported system (the table is left alone).
  std::uint8_t Refresh(DeviceTable& table, CKelvUSBDev2K::Options options);

  // The access object of the last refresh; before the first refresh one
  // without a table, good for the command operations.
  CKelvUSBDev2K& Device();

 private:
  platform::DeviceServices services_;
  std::unique_ptr<CKelvUSBDev2K> device_;
};

}  // namespace linetool::device
