#include "platform/linux/disk_use.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/linux/fd_io.h"
#include "platform/linux/linux_volumes.h"

namespace platform::linux_host {

namespace fs = std::filesystem;

namespace {

// The disk itself and each of its partitions: name, "major:minor", sysfs folder.
struct BlockDevice {
  std::string name;
  std::string number;
  fs::path dir;
};

std::vector<BlockDevice> DevicesOf(const std::string& disk, const fs::path& sysfs_block) {
  const fs::path dir = sysfs_block / disk;
  std::vector<BlockDevice> out{{disk, ReadFirstLine((dir / "dev").string()), dir}};
  std::vector<BlockDevice> parts;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (fs::exists(e.path() / "partition", ec)) {
      parts.push_back({e.path().filename().string(), ReadFirstLine((e.path() / "dev").string()), e.path()});
    }
  }
  std::sort(parts.begin(), parts.end(), [](const BlockDevice& a, const BlockDevice& b) { return a.name < b.name; });
  out.insert(out.end(), parts.begin(), parts.end());
  return out;
}

// What a holder of a disk or partition is, in words.
std::string HolderText(const fs::path& sysfs_block, const std::string& holder) {
  if (holder.rfind("md", 0) == 0) return "a member of the software RAID " + holder;
  if (holder.rfind("dm-", 0) == 0) {
    const std::string uuid = ReadFirstLine((sysfs_block / holder / "dm" / "uuid").string());
    std::string name = ReadFirstLine((sysfs_block / holder / "dm" / "name").string());
    if (name.empty()) name = holder;
    if (uuid.rfind("LVM-", 0) == 0) return "a physical volume of the LVM volume " + name;
    if (uuid.rfind("CRYPT-", 0) == 0) return "under the encrypted volume " + name;
    return "under the device-mapper device " + name;
  }
  return "held by " + holder;
}

// `path` is `root` or lies below it.
bool Below(const std::string& path, const std::string& root) {
  if (root.empty()) return false;
  const std::string p = fs::path(path).lexically_normal().string();
  std::string r = fs::path(root).lexically_normal().string();
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  return p == r || (p.size() > r.size() && p.compare(0, r.size(), r) == 0 && (r == "/" || p[r.size()] == '/'));
}

bool Names(const std::string& source, const BlockDevice& d) { return source == "/dev/" + d.name; }

}  // namespace

std::optional<std::string> DiskInUse(const std::string& disk_name, const DiskUseSources& sources) {
  const fs::path sysfs(sources.sysfs_block);
  const SystemDisks system = sources.system ? *sources.system : FindSystemDisks(sources.mountinfo_text, sources.sysfs_block);
  if (!system.unknown.empty()) {
    return "the host's system disk is not known (" + system.unknown + "), so " + disk_name + " may be it";
  }
  if (std::find(system.disks.begin(), system.disks.end(), disk_name) != system.disks.end()) {
    return disk_name + " holds the host's root file system";
  }
  const auto devices = DevicesOf(disk_name, sysfs);
  std::error_code ec;
  for (const auto& d : devices) {
    std::vector<std::string> holders;
    for (const auto& h : fs::directory_iterator(d.dir / "holders", ec)) holders.push_back(h.path().filename().string());
    std::sort(holders.begin(), holders.end());
    if (!holders.empty()) return d.name + " is " + HolderText(sysfs, holders.front());
  }
  for (const auto& m : ParseMountInfo(sources.mountinfo_text)) {
    if (Below(m.mount_point, sources.station_mount_root)) continue;
    for (const auto& d : devices) {
      if ((!d.number.empty() && m.device_number == d.number) || Names(m.source, d)) {
        return d.name + " is mounted at " + m.mount_point;
      }
    }
  }
  std::istringstream swaps(sources.swaps_text);
  std::string line;
  std::getline(swaps, line);  // the header
  while (std::getline(swaps, line)) {
    std::istringstream fields(line);
    std::string file;
    fields >> file;
    file = UnescapeMountText(file);
    for (const auto& d : devices) {
      if (Names(file, d)) return d.name + " is active swap";
    }
  }
  return std::nullopt;
}

std::optional<std::string> HostDiskInUse(const std::string& disk_name, const std::string& sysfs_block,
                                         const std::string& station_mount_root, const SystemDisks& system) {
  DiskUseSources s;
  s.sysfs_block = sysfs_block;
  s.mountinfo_text = ReadText("/proc/self/mountinfo");
  s.swaps_text = ReadText("/proc/swaps");
  s.station_mount_root = station_mount_root;
  s.system = system;
  return DiskInUse(disk_name, s);
}

}  // namespace platform::linux_host
