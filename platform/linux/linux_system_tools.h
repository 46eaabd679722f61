#pragma once
// The station's system tools carried out on a Linux host: the partition
// script becomes an sfdisk run (one primary, active partition from 1 MiB to
// the end of the disk, every old signature wiped) and a drive letter for the
// new partition, once the kernel shows the partition as written and its
// node is there (at most kPartitionSettleLimit of the clock; sfdisk ends well
// even when the kernel kept the old table because a partition of the disk
// was in use); "format.com X:/Q /FS:NTFS" becomes a quick mkntfs and a
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

// Whether the kernel shows the first partition as the table written says:
// `disk_dir` is the disk's sysfs folder (/sys/block/sdb), `node` the
// partition's device node (/dev/sdb1), start and size in 512-byte units.
// nullopt when the partition is there with those extents and its node is
// the block device sysfs names; else why not, as a sentence for the log.
std::optional<std::string> PartitionNotAsWritten(const std::string& disk_dir, const std::string& node,
                                                 std::uint64_t start, std::uint64_t size);

class LinuxSystemTools final : public SystemTools {
 public:
  static constexpr std::chrono::milliseconds kPartitionSettleLimit{30'000};

  LinuxSystemTools(Clock& clock, std::string host_workdir, DriveNaming& naming, LinuxVolumes& volumes);
  std::unique_ptr<ToolProcess> Launch(const std::string& program, const std::string& parameters) override;

 private:
  // Waits until the kernel shows partition `part` of `disk` as the table on
  // the disk says; false, with why, after kPartitionSettleLimit.
  bool AwaitPartitionAsWritten(const std::string& disk, const std::string& part, std::string& why);

  Clock& clock_;
  std::string workdir_;
  DriveNaming& naming_;
  LinuxVolumes& volumes_;
};

}  // namespace platform::linux_host
