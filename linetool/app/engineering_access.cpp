#include "linetool/app/engineering_access.h"

#include "linetool/device/bridge_operations.h"

namespace linetool::app {

const device::BridgeDeviceRecord* EngineeringAccess::Record(int port) const {
  if (table == nullptr || port < 0 || port >= device::kMaxBridges) return nullptr;
  const auto& r = table->records[static_cast<std::size_t>(port)];
  return r.Present() ? &r : nullptr;
}

std::unique_ptr<platform::DeviceHandle> EngineeringAccess::OpenExclusive(int port) const {
  const device::BridgeDeviceRecord* r = Record(port);
  if (r == nullptr || lib == nullptr) return nullptr;
  return device::OpenBridgeDevice(lib->Device().Services().io, *r, device::BridgeOpen::kEngineering);
}

std::string WithNumber(std::string_view text, int value) {
  std::string out(text);
  const auto at = out.find("%d");
  if (at != std::string::npos) out.replace(at, 2, std::to_string(value));
  return out;
}

}  // namespace linetool::app
