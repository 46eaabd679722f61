#include "linetool/disk/format_step.h"

#include <algorithm>
#include <cctype>

namespace linetool::disk {

namespace {

constexpr char kFormatTool[] = "format.com";
constexpr char kLabelTool[] = "label.exe";

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

}  // namespace

const char* FormatStep::FileSystemFor(SizeClass size_class, std::uint8_t format_drive_type) {
  if (size_class == SizeClass::kSmall && format_drive_type != 0) return "FAT32";
  return "NTFS";
}

std::uint32_t FormatStep::FatSectorsPerCluster(std::uint32_t disk_mib, std::uint32_t sector_size) {
  std::uint32_t sectors = 64;
  if (disk_mib != 0 && disk_mib != kUnknownMiB && disk_mib <= 0x22400) {
    sectors = 16;
  } else if (disk_mib != 0 && disk_mib != kUnknownMiB && disk_mib <= 280'576) {
    sectors = 32;
  }
  // 64 sectors of 4,096 bytes would make clusters of 256 KiB, which no FAT
  // driver mounts: the cluster keeps its size in bytes.
  if (sector_size <= 512) return sectors;
  return std::max<std::uint32_t>(1, sectors * 512 / sector_size);
}

std::string FormatStep::FormatParameters(char letter, const std::string& file_system) {
  return " " + std::string(1, letter) + ":/Q /FS:" + file_system + " /y";
}

std::string FormatStep::LabelParameters(char letter, const std::string& label) {
  return std::string(1, letter) + ": " + label;
}

bool FormatStep::Run(const DiskServices& s, CFat32Format& formatter, const profile::ProfileSettings& settings,
                     const PortDisk& port) {
  file_system_.clear();
  reason_.clear();
  attempts_ = 0;
  PollingPause pause(s.polling_allowed);
  const std::uint32_t disk_mib = DiskSizeMiB(s.disks, port.drive_number);
  const SizeClass size_class = SizeClassOf(disk_mib);
  if (port.drive_letter == kNoDriveLetter) return false;
  // The system volume is never formatted, by either file system.
  if (std::toupper(static_cast<unsigned char>(port.drive_letter)) == 'C') return false;
  // The volume device itself must not be an ordinary, usable path.
  if (s.PathUsable(VolumeDeviceName(port.drive_letter)) || size_class == SizeClass::kUnknown) return false;

  const std::string label = FieldText(settings.drive_label_name);
  for (attempts_ = 1; attempts_ <= kAttempts; ++attempts_) {
    if (Attempt(s, formatter, label, size_class, disk_mib, settings.format_drive_type, port)) {
      return true;
    }
    if (auto disk = s.disks.Open(SharedRequest(PhysicalDriveName(port.drive_number)))) {
      disk->UpdateProperties();
    }
    if (s.stop.stop_requested()) break;
  }
  attempts_ = std::min(attempts_, kAttempts);
  return false;
}

bool FormatStep::Attempt(const DiskServices& s, CFat32Format& formatter, const std::string& label,
                         SizeClass size_class, std::uint32_t disk_mib, std::uint8_t format_drive_type,
                         const PortDisk& port) {
  const char letter = port.drive_letter;
  file_system_ = FileSystemFor(size_class, format_drive_type);
  if (file_system_ == "FAT32") {
    formatter.SetTarget(letter, FatSectorsPerCluster(disk_mib, port.sector_size));
    reason_ = formatter.Format(label) ? std::string() : "FAT32: " + formatter.FailureText();
  } else if (auto tool = s.tools.Launch(kFormatTool, FormatParameters(letter, file_system_))) {
    if (!tool->Wait(kFormatTimeout)) {
      reason_ = file_system_ + ": the format tool did not end in time";
    } else if (tool->ExitCode() != 0) {
      const std::string why = tool->FailureText();
      reason_ = file_system_ + ": the format tool failed: " + (why.empty() ? "exit code " + std::to_string(tool->ExitCode()) : why);
    } else {
      reason_.clear();
    }
  } else {
    reason_ = file_system_ + ": the format tool could not be started";
  }

  const std::string probe = s.HostPath(std::string(1, letter) + ":\\tmp");
  if (!s.files.CreateFolder(probe)) {
    if (reason_.empty()) reason_ = std::string("the new volume ") + letter + ": cannot be written";
    s.clock.WaitFor(kProbePause, s.stop);
    return false;
  }
  s.files.RemoveFolder(probe);
  if (file_system_ == "NTFS" && !s.volumes.SetLabel(letter, label)) {
    if (auto tool = s.tools.Launch(kLabelTool, LabelParameters(letter, label))) tool->Wait(kLabelTimeout);
  }
  const auto info = s.volumes.Information(letter);
  if (info && SameText(info->file_system, file_system_) && SameText(info->label, label)) {
    reason_.clear();
    return true;
  }
  if (reason_.empty()) {
    reason_ = info ? "the volume reads back as " + (info->file_system.empty() ? std::string("no file system") : info->file_system) +
                         " labelled \"" + info->label + "\""
                   : std::string("the new volume ") + letter + ": cannot be read";
  }
  return false;
}

}  // namespace linetool::disk
