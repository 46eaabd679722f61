#include "linetool/device/kelv_usb_lib.h"

namespace linetool::device {

CKelvUSBLib::~CKelvUSBLib() = default;

std::uint8_t CKelvUSBLib::Refresh(DeviceTable& table, CKelvUSBDev2K::Options options) {
  const auto os = services_.system.Version();
  const bool supported = os.platform_id == 2 && os.major >= 5;
  if (!supported) return kRefreshUnsupportedSystem;
  device_ = std::make_unique<CKelvUSBDev2K>(services_, std::move(options));
  device_->SetTable(&table);
  device_->SetRefreshFlag(true);
  device_->Walk();
  return kRefreshDone;
}

CKelvUSBDev2K& CKelvUSBLib::Device() {
  if (!device_) device_ = std::make_unique<CKelvUSBDev2K>(services_, CKelvUSBDev2K::Options{});
  return *device_;
}

}  // namespace linetool::device
