#pragma once
// The Linux host's answers to the small platform seams: local time, path access.

#include <string>
#include <vector>

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

// The capabilities a production run needs and that a /proc/<pid>/status text
// lacks: "CAP_SYS_RAWIO" (vendor SCSI commands through SG_IO) and
// "CAP_SYS_ADMIN" (mounting and unmounting the bridge disks' volumes, their
// partition tables) in the "CapEff:" line, and "CAP_SYS_ADMIN for the tools it
// starts" when "CapBnd:" lacks it, so sfdisk and partx cannot inherit it
// (tool_runner.h). Root has them all; an operator who is not root has them
// from the file capabilities of linetool-cli and linetool. Both are missing
// when the lines are.
std::vector<std::string> MissingRunCapabilities(const std::string& status_text);
// The same for this process (root has both).
std::vector<std::string> MissingRunCapabilities();

// The process's current directory (the station's working directory).
std::string CurrentDirectory();
// The folder of the running program; empty when the system does not say.
std::string ExecutableFolder();

}  // namespace platform::linux_host
