#include "platform/linux/drive_naming.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/fd_io.h"

namespace platform::linux_host {

namespace fs = std::filesystem;

namespace {

bool IsDiskName(const std::string& n) {
  for (const char* skip : {"loop", "ram", "zram", "dm-", "sr", "md", "fd", "nbd"}) {
    if (n.rfind(skip, 0) == 0) return false;
  }
  return true;
}

}  // namespace

DriveNaming::DriveNaming(std::string sysfs_block, std::string dev, std::string system_disk)
    : sysfs_(std::move(sysfs_block)), dev_(std::move(dev)), system_disk_(std::move(system_disk)) {
  if (system_disk_.empty()) {
    system_disk_ = SystemDiskName(ReadText("/proc/self/mountinfo"), sysfs_);
  }
}

DriveNaming::DriveNaming(PinnedDisks source, std::string sysfs_block, std::string dev)
    : sysfs_(std::move(sysfs_block)), dev_(std::move(dev)), pinned_(std::move(source)) {}

std::vector<std::string> DriveNaming::Present() const {
  if (pinned_) {
    std::vector<std::string> names;
    for (const auto& [number, name] : pinned_()) {
      if (!name.empty()) names.push_back(name);
    }
    return names;
  }
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(sysfs_, ec)) {
    const std::string n = e.path().filename().string();
    if (n != system_disk_ && IsDiskName(n) && fs::exists(e.path() / "device", ec)) names.push_back(n);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;  // sdz before sdaa
  });
  if (!system_disk_.empty()) names.insert(names.begin(), system_disk_);
  return names;
}

std::vector<std::string> DriveNaming::Numbered(std::vector<std::string>* present_out) const {
  const auto present = Present();
  std::lock_guard lock(mutex_);
  if (pinned_) {
    // The numbers are the source's: a gap is a number nobody has.
    numbered_.clear();
    for (const auto& [number, name] : pinned_()) {
      if (number < 0 || name.empty()) continue;
      if (numbered_.size() <= static_cast<std::size_t>(number)) numbered_.resize(static_cast<std::size_t>(number) + 1);
      numbered_[static_cast<std::size_t>(number)] = name;
    }
    if (present_out) *present_out = present;
    return numbered_;
  }
  for (const auto& name : present) {
    if (std::find(numbered_.begin(), numbered_.end(), name) == numbered_.end()) numbered_.push_back(name);
  }
  if (present_out) *present_out = present;
  return numbered_;
}

bool DriveNaming::IsPresent(int number, std::string& name) const {
  std::vector<std::string> present;
  const auto numbered = Numbered(&present);
  if (number < 0 || static_cast<std::size_t>(number) >= numbered.size()) return false;
  name = numbered[static_cast<std::size_t>(number)];
  return !name.empty() && std::find(present.begin(), present.end(), name) != present.end();
}

std::vector<std::string> DriveNaming::Disks() const {
  std::vector<std::string> present;
  std::vector<std::string> disks;
  for (const auto& name : Numbered(&present)) {
    if (!name.empty() && std::find(present.begin(), present.end(), name) != present.end()) disks.push_back(name);
  }
  return disks;
}

std::optional<std::string> DriveNaming::DiskDevice(int drive_number) const {
  std::string name;
  if (!IsPresent(drive_number, name)) return std::nullopt;
  return dev_ + "/" + name;
}

std::optional<int> DriveNaming::DriveNumberOf(const std::string& disk_name) const {
  std::vector<std::string> present;
  const auto numbered = Numbered(&present);
  if (std::find(present.begin(), present.end(), disk_name) == present.end()) return std::nullopt;
  const auto it = std::find(numbered.begin(), numbered.end(), disk_name);
  return static_cast<int>(it - numbered.begin());
}

std::optional<int> DriveNaming::NumberGivenTo(const std::string& disk_name) const {
  if (disk_name.empty()) return std::nullopt;
  const auto numbered = Numbered();
  const auto it = std::find(numbered.begin(), numbered.end(), disk_name);
  if (it == numbered.end()) return std::nullopt;
  return static_cast<int>(it - numbered.begin());
}

std::optional<std::string> DriveNaming::PartitionDevice(int drive_number, int partition) const {
  std::string disk;
  if (!IsPresent(drive_number, disk)) return std::nullopt;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(sysfs_) / disk, ec)) {
    if (ReadFirstLine((e.path() / "partition").string()) == std::to_string(partition)) {
      return dev_ + "/" + e.path().filename().string();
    }
  }
  return std::nullopt;
}

std::optional<std::pair<int, int>> DriveNaming::PartitionOf(const std::string& device) const {
  const std::string name = fs::path(device).filename().string();
  const auto disks = Numbered();
  for (std::size_t i = 0; i < disks.size(); ++i) {
    if (disks[i].empty()) continue;
    const fs::path part = fs::path(sysfs_) / disks[i] / name;
    std::error_code ec;
    if (name != disks[i] && fs::exists(part / "partition", ec)) {
      return std::pair{static_cast<int>(i), std::stoi("0" + ReadFirstLine((part / "partition").string()))};
    }
  }
  return std::nullopt;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> DriveNaming::PartitionExtent(const std::string& device) const {
  const auto p = PartitionOf(device);
  if (!p) return std::nullopt;
  const fs::path part = fs::path(sysfs_) / Numbered()[static_cast<std::size_t>(p->first)] / fs::path(device).filename();
  const std::string start = ReadFirstLine((part / "start").string());
  const std::string size = ReadFirstLine((part / "size").string());
  if (start.empty() || size.empty()) return std::nullopt;
  return std::pair{std::stoull(start), std::stoull(size)};
}

std::string SystemDiskName(const std::string& mountinfo_text, const std::string& sysfs_block) {
  std::istringstream in(mountinfo_text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    std::string id, parent, majmin, root, mount_point;
    f >> id >> parent >> majmin >> root >> mount_point;
    if (mount_point != "/") continue;
    std::error_code ec;
    for (const auto& disk : fs::directory_iterator(sysfs_block, ec)) {
      if (ReadFirstLine((disk.path() / "dev").string()) == majmin) return disk.path().filename().string();
      for (const auto& part : fs::directory_iterator(disk.path(), ec)) {
        if (fs::exists(part.path() / "partition", ec) && ReadFirstLine((part.path() / "dev").string()) == majmin) {
          return disk.path().filename().string();
        }
      }
    }
  }
  return {};
}

}  // namespace platform::linux_host
