#pragma once
// What the disk preparation steps work with: the platform services, the
// station's working directory and the port's disk. The application fills
// these from its engine and the port's device record.

#include <array>
#include <atomic>
#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/disk_requests.h"
#include "platform/host_files.h"
#include "platform/path_access.h"
#include "platform/system_tools.h"
#include "platform/volumes.h"

namespace linetool::disk {

// A drive letter of 127 means the port's volume has no letter.
inline constexpr char kNoDriveLetter = 127;
// Free space or size the station failed to obtain.
inline constexpr std::uint32_t kUnknownMiB = 0xFFFFFFFF;

struct DiskServices {
  platform::DiskRequests& disks;
  platform::Volumes& volumes;
  platform::SystemTools& tools;
  platform::HostFiles& files;
  platform::PathAccess& access;
  platform::Clock& clock;
  std::string host_workdir;  // the station's working directory (host path)
  // Cleared while a step runs so the port table does not react to volumes
  // leaving and coming back; null when nothing polls.
  std::atomic<bool>* polling_allowed = nullptr;
  std::stop_token stop;

  // A station path ("E:\x", "Temp\y") as a host path.
  std::string HostPath(std::string_view station_path) const {
    return platform::ToHostPath(station_path, host_workdir, volumes.DriveRoot());
  }
  // The path check of the profile, without message: exists, readable, writable.
  bool PathUsable(std::string_view station_path) const {
    return access.Check(HostPath(station_path)) == platform::PathState::kReadWrite;
  }
};

// The disk behind a port, as its device record holds it.
struct PortDisk {
  int drive_number = -1;             // "\\.\PHYSICALDRIVE%d"
  char drive_letter = kNoDriveLetter;
  std::uint32_t sector_size = 512;  // bytes per sector, as the record's geometry says
};

// Clears the polling flag for as long as it lives.
class PollingPause {
 public:
  explicit PollingPause(std::atomic<bool>* flag) : flag_(flag) {
    if (flag_ != nullptr) flag_->store(false);
  }
  ~PollingPause() {
    if (flag_ != nullptr) flag_->store(true);
  }
  PollingPause(const PollingPause&) = delete;
  PollingPause& operator=(const PollingPause&) = delete;

 private:
  std::atomic<bool>* flag_;
};

// "\\.\PHYSICALDRIVE3"
std::string PhysicalDriveName(int drive_number);
// Open requests: for queries only (no access, shared), for reading and
// writing shared with others, and for reading and writing alone.
platform::DeviceOpenRequest QueryRequest(std::string name);
platform::DeviceOpenRequest SharedRequest(std::string name);
platform::DeviceOpenRequest ExclusiveRequest(std::string name);
// "\\.\E:"
std::string VolumeDeviceName(char letter);
// "E:\"
std::string RootPath(char letter);
// The text of a profile field (up to its NUL).
std::string FieldText(const char* field, std::size_t size);
template <std::size_t N>
std::string FieldText(const std::array<char, N>& field) {
  return FieldText(field.data(), N);
}

}  // namespace linetool::disk
