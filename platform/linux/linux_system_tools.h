#pragma once
// The station's system tools carried out on a Linux host: the partition
// script becomes an sfdisk run (one primary, active partition from 1 MiB to
// the end of the disk, every old signature wiped) and a drive letter for the
// new partition; "format.com X:/Q /FS:NTFS" becomes a quick mkntfs and a
// mount under the letter; "label.exe X: NAME" becomes ntfslabel (or fatlabel).
// Drive 0, the host's system disk, is refused.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/linux/drive_naming.h"
#include "platform/linux/linux_volumes.h"
#include "platform/system_tools.h"

namespace platform::linux_host {

// What a partition script asks for.
struct PartitionRequest {
  int disk = -1;
  bool clean = false;
  bool create_primary = false;
  bool active = false;
  char letter = 0;
};

// The requests of a script, or nullopt when it holds a command this backend
// cannot carry out.
std::optional<PartitionRequest> ParsePartitionScript(const std::string& script);
// sfdisk's input for the request: a DOS label and one partition.
std::string SfdiskInput(const PartitionRequest& request);
std::vector<std::string> SfdiskCommand(const std::string& disk_device);
std::vector<std::string> MkntfsCommand(const std::string& partition_device);
// Letter and file system of " E:/Q /FS:NTFS /y".
std::optional<std::pair<char, std::string>> ParseFormatParameters(const std::string& parameters);
// Letter and label of "E: NAME".
std::optional<std::pair<char, std::string>> ParseLabelParameters(const std::string& parameters);
// "/dev/sdb" -> "/dev/sdb1", "/dev/nvme0n1" -> "/dev/nvme0n1p1".
std::string FirstPartitionDevice(const std::string& disk_device);

class LinuxSystemTools final : public SystemTools {
 public:
  LinuxSystemTools(Clock& clock, std::string host_workdir, DriveNaming& naming, LinuxVolumes& volumes);
  std::unique_ptr<ToolProcess> Launch(const std::string& program, const std::string& parameters) override;

 private:
  Clock& clock_;
  std::string workdir_;
  DriveNaming& naming_;
  LinuxVolumes& volumes_;
};

}  // namespace platform::linux_host
