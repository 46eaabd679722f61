#pragma once
// Repartitioning a bridge disk: one primary, active partition over the whole
// disk under the port's drive letter, made by the system's partitioning tool
// from a generated script; then a first partition that still starts at
// sector 63 is moved to sector 64.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "linetool/disk/disk_services.h"

namespace linetool::disk {

class PartitionStep {
 public:
  static constexpr int kMaxLaunches = 3;
  static constexpr std::chrono::milliseconds kRelaunchPause{500};
  static constexpr std::chrono::milliseconds kToolTimeout{12'000'000};
  static constexpr std::chrono::milliseconds kVolumePollPause{500};
  // How long the volume may take to come back under its letter after the
  // realignment before the step fails. A production line cannot wait longer.
  static constexpr std::chrono::milliseconds kVolumeReturnLimit{120'000};

  // Why the last run failed.
  enum class Failure {
    kNone,
    kSystemDisk,        // drive number 0
    kDiskInUse,         // the system uses the disk (a mount, swap, a RAID member...)
    kNoFreeLetter,      // no letter E-Z free for a port without one
    kScript,            // the script file could not be written
    kLaunch,            // three launches without a partition number (or each a failed tool)
    kDiskOpen,          // the disk could not be opened afterwards
    kBootSector,        // the first sector could not be read or written back
    kVolumeNotBack,     // the volume did not come back within the limit
    kStopped,           // a stop was requested while waiting
  };

  // "DiskPartTarget3.sc"
  static std::string ScriptName(int drive_number);
  // The script text, LF line ends.
  static std::string ScriptText(int drive_number, char letter);
  // " /s DiskPartTarget3.sc"
  static std::string ToolParameters(int drive_number);

  // Moves a first partition that starts at sector 63 (active, low byte of its
  // start 63, valid signature) to sector 64 and shortens it to a multiple of
  // 64 sectors. True when the sector was changed.
  static bool RealignFirstPartition(std::span<std::uint8_t> first_sector);

  // Runs the step for one port under `partition_lock`. A port without a
  // letter gets the first free one (stored in `port`). Never touches drive 0.
  bool Run(const DiskServices& s, std::mutex& partition_lock, PortDisk& port);

  Failure LastFailure() const { return failure_; }
  // Why the last run failed, as a sentence for the log; empty after a success.
  const std::string& Reason() const { return reason_; }
  int Launches() const { return launches_; }

 private:
  bool WriteScript(const DiskServices& s, const PortDisk& port);
  bool AfterTool(const DiskServices& s, const PortDisk& port, std::uint32_t partition_number);
  bool Fail(Failure why, std::string reason = {});

  Failure failure_ = Failure::kNone;
  std::string reason_;
  int launches_ = 0;
};

}  // namespace linetool::disk
