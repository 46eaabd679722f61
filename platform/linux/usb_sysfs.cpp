#include "platform/linux/usb_sysfs.h"

#include <algorithm>
#include <cctype>

namespace platform::linux_host {

namespace fs = std::filesystem;

namespace {

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

bool IsUsbDeviceName(const std::string& name) {
  const auto dash = name.find('-');
  if (dash == std::string::npos || !AllDigits(name.substr(0, dash))) return false;
  std::string rest = name.substr(dash + 1);
  // Port numbers separated by dots; "0" is the root hub's own interface.
  std::size_t start = 0;
  for (;;) {
    const auto dot = rest.find('.', start);
    const std::string part = rest.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (!AllDigits(part) || part == "0") return false;
    if (dot == std::string::npos) return true;
    start = dot + 1;
  }
}

bool IsRootHubName(const std::string& name) { return name.size() > 3 && name.rfind("usb", 0) == 0 && AllDigits(name.substr(3)); }

std::optional<fs::path> UsbDeviceAbove(const fs::path& device_folder) {
  std::error_code ec;
  const fs::path dir = fs::canonical(device_folder, ec);
  if (ec) return std::nullopt;
  for (fs::path p = dir.parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path()) {
    if (IsUsbDeviceName(p.filename().string()) && fs::exists(p / "idVendor", ec)) return p;
  }
  return std::nullopt;
}

}  // namespace platform::linux_host
