#include "linetool/disk/partition_step.h"

#include <optional>
#include <vector>

#include "linetool/disk/disk_queries.h"
#include "linetool/disk/le_bytes.h"

namespace linetool::disk {

namespace {
constexpr std::size_t kFirstEntry = 446;
constexpr std::size_t kBootFlag = kFirstEntry;
constexpr std::size_t kStartSector = kFirstEntry + 8;   // 454
constexpr std::size_t kSectorCount = kFirstEntry + 12;  // 458
constexpr char kScriptBase[] = "DiskPartTarget";
constexpr char kScriptExtension[] = "sc";
constexpr char kPartitionTool[] = "diskpart.exe";
}  // namespace

std::string PartitionStep::ScriptName(int drive_number) {
  return std::string(kScriptBase) + std::to_string(drive_number) + "." + kScriptExtension;
}

std::string PartitionStep::ScriptText(int drive_number, char letter) {
  return " list disk\n select disk " + std::to_string(drive_number) +
         "\n clean \ncreate partition primary \n active\n select partition 1\n assign letter=" +
         std::string(1, letter) + "\n";
}

std::string PartitionStep::ToolParameters(int drive_number) { return " /s " + ScriptName(drive_number); }

bool PartitionStep::RealignFirstPartition(std::span<std::uint8_t> sector) {
  if (sector.size() < 512) return false;
  if (sector[510] != 0x55 || sector[511] != 0xAA) return false;
  if (sector[kBootFlag] != 0x80 || sector[kStartSector] != 63) return false;
  sector[kStartSector] = 64;
  const std::uint32_t count = GetLe32(sector, kSectorCount);
  PutLe32(sector, kSectorCount, (count - 1) & ~std::uint32_t{63});
  return true;
}

bool PartitionStep::Fail(Failure why, std::string reason) {
  failure_ = why;
  if (reason.empty()) {
    switch (why) {
      case Failure::kNone:
      case Failure::kDiskInUse:
        break;
      case Failure::kSystemDisk:
        reason = "drive 0 is the system's own disk";
        break;
      case Failure::kNoFreeLetter:
        reason = "no drive letter from E to Z is free";
        break;
      case Failure::kScript:
        reason = "the partition script could not be written";
        break;
      case Failure::kLaunch:
        reason = "the partitioning tool gave no partition in " + std::to_string(kMaxLaunches) + " launches";
        break;
      case Failure::kDiskOpen:
        reason = "the disk could not be opened after partitioning";
        break;
      case Failure::kBootSector:
        reason = "the first sector could not be read or written back";
        break;
      case Failure::kVolumeNotBack:
        reason = "the volume did not come back under its letter";
        break;
      case Failure::kStopped:
        reason = "stopped";
        break;
    }
  }
  reason_ = std::move(reason);
  return false;
}

bool PartitionStep::WriteScript(const DiskServices& s, const PortDisk& port) {
  const std::string name = ScriptName(port.drive_number);
  const std::string path = s.HostPath(name);
  if (s.files.Exists(path)) s.files.RemoveFile(path);
  auto file = s.files.Open(path, platform::FileOpen::kOpenAlways);
  if (!file) return false;
  const std::string text = ScriptText(port.drive_number, port.drive_letter);
  const bool written = file->WriteAt(0, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) &&
                       file->Flush();
  file.reset();
  return written && s.PathUsable(name);
}

bool PartitionStep::Run(const DiskServices& s, std::mutex& partition_lock, PortDisk& port) {
  failure_ = Failure::kNone;
  reason_.clear();
  launches_ = 0;
  std::lock_guard lock(partition_lock);
  PollingPause pause(s.polling_allowed);
  const std::string script_path = s.HostPath(ScriptName(port.drive_number));
  struct ScriptCleanup {
    const DiskServices& s;
    const std::string& path;
    ~ScriptCleanup() {
      if (s.files.Exists(path)) s.files.RemoveFile(path);
    }
  } cleanup{s, script_path};

  // The disk that holds drive number 0 is the system's own: never partitioned.
  if (port.drive_number <= 0) return Fail(Failure::kSystemDisk);
  // Nor is a disk the system uses: a file system someone mounted, swap, a
  // RAID, LVM or device-mapper member would be destroyed under its user.
  if (auto why = s.disks.InUse(port.drive_number)) return Fail(Failure::kDiskInUse, "refused: " + *why);
  if (port.drive_letter == kNoDriveLetter) {
    port.drive_letter = FreeDriveLetter(s.volumes);
    // Without a letter the script would assign nonsense.
    if (port.drive_letter == kNoDriveLetter) return Fail(Failure::kNoFreeLetter);
  }
  if (!WriteScript(s, port)) return Fail(Failure::kScript);

  const std::string parameters = ToolParameters(port.drive_number);
  std::optional<std::uint32_t> number;
  std::string tool_failure;
  while (launches_ < kMaxLaunches && !number) {
    ++launches_;
    auto tool = s.tools.Launch(kPartitionTool, parameters);
    if (!tool) {
      if (!s.clock.WaitFor(kRelaunchPause, s.stop)) return Fail(Failure::kStopped);
      continue;
    }
    // A tool that ended with a failure made no partition to go on with, even
    // where the disk's table reads well (the system may have kept the old one).
    if (tool->Wait(kToolTimeout) && tool->ExitCode() != 0) {
      tool_failure = tool->FailureText();
      if (tool_failure.empty()) tool_failure = "exit code " + std::to_string(tool->ExitCode());
      continue;
    }
    number = PartitionNumber(s.disks, port.drive_number);
  }
  if (!number && !tool_failure.empty()) {
    return Fail(Failure::kLaunch, "the partitioning tool failed " + std::to_string(launches_) + " times: " + tool_failure);
  }
  if (!number) return Fail(Failure::kLaunch);
  return AfterTool(s, port, *number);
}

bool PartitionStep::AfterTool(const DiskServices& s, const PortDisk& port, std::uint32_t partition_number) {
  auto disk = s.disks.Open(SharedRequest(PhysicalDriveName(port.drive_number)));
  if (!disk) return partition_number == 1 ? Fail(Failure::kDiskOpen) : true;
  disk->UpdateProperties();
  if (partition_number != 1) return true;

  // The first sector is as long as the disk's sectors: a disk of 4,096-byte
  // sectors cannot be read in 512 bytes.
  std::vector<std::uint8_t> sector(port.sector_size, 0);
  if (sector.size() < 512 || !disk->ReadAt(0, sector)) return Fail(Failure::kBootSector);
  RealignFirstPartition(sector);
  bool ok = true;
  const bool locked = disk->Lock();
  if (locked) ok = disk->WriteAt(0, sector);
  disk->Dismount();
  if (locked) disk->Unlock();

  // Wait for the volume to come back under its letter, within a bound.
  const auto deadline = s.clock.Now() + kVolumeReturnLimit;
  for (;;) {
    disk->UpdateProperties();
    if (LetterTaken(s.volumes, port.drive_letter)) break;
    if (s.clock.Now() >= deadline) return Fail(Failure::kVolumeNotBack);
    if (!s.clock.WaitFor(kVolumePollPause, s.stop)) return Fail(Failure::kStopped);
  }
  return ok ? true : Fail(Failure::kBootSector);
}

}  // namespace linetool::disk
