#include "platform/linux/drive_naming.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/fd_io.h"
#include "platform/linux/linux_volumes.h"
#include "platform/linux/usb_sysfs.h"

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
    : DriveNaming(sysfs_block, dev,
                  system_disk.empty() ? FindSystemDisks(ReadText("/proc/self/mountinfo"), sysfs_block, dev)
                                      : SystemDisks{{system_disk}, {}}) {}

DriveNaming::DriveNaming(std::string sysfs_block, std::string dev, SystemDisks system)
    : sysfs_(std::move(sysfs_block)), dev_(std::move(dev)), system_(std::move(system)) {
  // Drive 0 is the root file system's disk and nothing else: none when it is
  // not known, and never a disk on USB (a bridge).
  if (system_.unknown.empty() && !system_.disks.empty() &&
      !UsbDeviceAbove(fs::path(sysfs_) / system_.disks.front())) {
    system_disk_ = system_.disks.front();
  }
  numbered_.push_back(system_disk_);
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

namespace {

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Finds the whole disks below block devices of a sysfs tree.
class DiskResolver {
 public:
  DiskResolver(const std::string& sysfs_block, const std::string& dev)
      : block_(sysfs_block), sys_(fs::path(sysfs_block).parent_path()), dev_(dev) {}

  // The block device of a device node ("/dev/disk/by-uuid/..." -> "sda2").
  std::string NameOfNode(const std::string& node) const {
    if (node.rfind("/dev/", 0) != 0) return {};
    // The links of /dev (by-uuid, mapper, root) followed by their text: the
    // node they end at is named as its block device.
    fs::path p = fs::path(dev_) / node.substr(5);
    std::error_code ec;
    for (int hops = 0; hops < 8 && fs::is_symlink(p, ec); ++hops) {
      const fs::path target = fs::read_symlink(p, ec);
      if (ec) return {};
      p = (target.is_absolute() ? fs::path(dev_) / target.relative_path().lexically_relative("dev")
                                : p.parent_path() / target)
              .lexically_normal();
    }
    const std::string name = p.filename().string();
    return Exists(name) ? name : std::string();
  }
  // The block device of a "major:minor".
  std::string NameOfNumber(const std::string& majmin) const {
    if (majmin.empty() || majmin.rfind("0:", 0) == 0) return {};
    std::error_code ec;
    const fs::path p = fs::canonical(sys_ / "dev/block" / majmin, ec);
    if (!ec) return p.filename().string();
    for (const auto& disk : Entries(block_)) {
      if (ReadFirstLine((block_ / disk / "dev").string()) == majmin) return disk;
      for (const auto& part : Entries(block_ / disk)) {
        if (fs::exists(block_ / disk / part / "partition", ec) &&
            ReadFirstLine((block_ / disk / part / "dev").string()) == majmin) {
          return part;
        }
      }
    }
    return {};
  }
  // The whole disks below a block device: its own disk for a partition, the
  // disks below the slaves of a device-mapper or RAID device.
  void DisksBelow(const std::string& name, std::vector<std::string>& out, int depth = 0) const {
    if (name.empty() || depth > 8) return;
    const auto dir = Folder(name);
    if (!dir) return;
    std::error_code ec;
    if (fs::exists(*dir / "partition", ec)) {
      Add(dir->parent_path().filename().string(), out);
      return;
    }
    const auto slaves = Entries(*dir / "slaves");
    if (slaves.empty()) {
      Add(name, out);
      return;
    }
    for (const auto& s : slaves) DisksBelow(s, out, depth + 1);
  }
  // The member devices of the btrfs that has `member` among its devices.
  std::vector<std::string> BtrfsMembers(const std::string& member) const {
    for (const auto& fsid : Entries(sys_ / "fs/btrfs")) {
      const auto devices = Entries(sys_ / "fs/btrfs" / fsid / "devices");
      if (std::find(devices.begin(), devices.end(), member) != devices.end()) return devices;
    }
    return {member};
  }

 private:
  bool Exists(const std::string& name) const { return Folder(name).has_value(); }
  std::optional<fs::path> Folder(const std::string& name) const {
    std::error_code ec;
    fs::path p = fs::canonical(sys_ / "class/block" / name, ec);
    if (!ec) return p;
    if (fs::exists(block_ / name, ec)) return fs::canonical(block_ / name, ec);
    for (const auto& disk : Entries(block_)) {
      if (fs::exists(block_ / disk / name / "partition", ec)) return block_ / disk / name;
    }
    return std::nullopt;
  }
  static void Add(const std::string& disk, std::vector<std::string>& out) {
    if (std::find(out.begin(), out.end(), disk) == out.end()) out.push_back(disk);
  }

  fs::path block_;
  fs::path sys_;
  std::string dev_;
};

}  // namespace

SystemDisks FindSystemDisks(const std::string& mountinfo_text, const std::string& sysfs_block,
                            const std::string& dev) {
  std::optional<MountEntry> root;
  for (const auto& m : ParseMountInfo(mountinfo_text)) {
    if (m.mount_point == "/") root = m;  // the last one is the one on top
  }
  SystemDisks out;
  if (!root) {
    out.unknown = "no root file system in the mount table";
    return out;
  }
  // A root served over the network or held in memory lies on no local disk:
  // the host then has no system disk to keep the station away from.
  static constexpr std::string_view kDiskless[] = {"9p", "nfs", "nfs4", "cifs", "smb3", "virtiofs",
                                                   "tmpfs", "ramfs", "rootfs"};
  if (std::find(std::begin(kDiskless), std::end(kDiskless), root->fs_type) != std::end(kDiskless)) return out;
  const DiskResolver resolve(sysfs_block, dev);
  std::string device = resolve.NameOfNumber(root->device_number);
  if (device.empty()) device = resolve.NameOfNode(root->source);
  if (device.empty()) {
    out.unknown = "the root file system (" + root->fs_type + " on " + root->source + ") is on no block device found";
    return out;
  }
  const auto members = root->fs_type == "btrfs" ? resolve.BtrfsMembers(device) : std::vector<std::string>{device};
  for (const auto& m : members) resolve.DisksBelow(m, out.disks);
  if (out.disks.empty()) out.unknown = "the disk below " + device + " is not found";
  return out;
}


}  // namespace platform::linux_host
