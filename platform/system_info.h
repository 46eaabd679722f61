#pragma once
// What the station asks of the operating system as a whole: its version (the
// station refuses too old a system) and the number of disks it knows.

#include <cstdint>

namespace platform {

struct OsVersion {
  std::uint32_t platform_id = 2;  // 2: the NT family
  std::uint32_t major = 6;
  std::uint32_t minor = 1;
};

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  virtual OsVersion Version() = 0;
  // The number of disks the system has numbered (system disk included); 0
  // when it cannot be read. Drives 0 .. count-1 exist while nothing changes.
  virtual std::uint32_t DiskCount() = 0;
};

}  // namespace platform
