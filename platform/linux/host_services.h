#pragma once
// The Linux host's answers to the small platform seams: local time, path access.

#include "platform/clock.h"
#include "platform/path_access.h"

namespace platform::linux_host {

// The local calendar time from the host's time zone.
LocalTime LocalTimeNow();

// A SteadyClock whose calendar time is the host's local time.
SteadyClock MakeSystemClock();

// access(2) for read and write.
class HostPathAccess final : public PathAccess {
 public:
  PathState Check(const std::string& host_path) const override;
};

// The process's current directory (the station's working directory).
std::string CurrentDirectory();

}  // namespace platform::linux_host
