#include "linetool/disk/disk_services.h"

#include <cstring>

namespace linetool::disk {

std::string PhysicalDriveName(int drive_number) {
  return "\\\\.\\PHYSICALDRIVE" + std::to_string(drive_number);
}

platform::DeviceOpenRequest QueryRequest(std::string name) {
  return {std::move(name), platform::kAccessNone, platform::kShareRead | platform::kShareWrite, platform::kOpenPlain};
}

platform::DeviceOpenRequest SharedRequest(std::string name) {
  return {std::move(name), platform::kAccessRead | platform::kAccessWrite,
          platform::kShareRead | platform::kShareWrite, platform::kOpenNoBuffering};
}

platform::DeviceOpenRequest ExclusiveRequest(std::string name) {
  return {std::move(name), platform::kAccessRead | platform::kAccessWrite, platform::kShareNone,
          platform::kOpenNoBuffering};
}

std::string VolumeDeviceName(char letter) { return std::string("\\\\.\\") + letter + ":"; }

std::string RootPath(char letter) { return std::string(1, letter) + ":\\"; }

std::string FieldText(const char* field, std::size_t size) {
  const void* nul = std::memchr(field, 0, size);
  return std::string(field, nul != nullptr ? static_cast<const char*>(nul) - field : size);
}

}  // namespace linetool::disk
