#include "platform/linux/linux_volumes.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/fd_io.h"
#include "platform/linux/tool_runner.h"

namespace platform::linux_host {

namespace fs = std::filesystem;

namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

}  // namespace

// The kernel writes a space, tab, newline or backslash in a mount table field
// as \040, \011, \012 or \134; nothing else is escaped, so any other
// backslash is the text's own.
std::string UnescapeMountText(const std::string& s) {
  static constexpr std::pair<const char*, char> kEscapes[] = {
      {"\\040", ' '}, {"\\011", '\t'}, {"\\012", '\n'}, {"\\134", '\\'}};
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    bool decoded = false;
    for (const auto& [code, c] : kEscapes) {
      if (s.compare(i, 4, code) == 0) {
        out += c;
        i += 3;
        decoded = true;
        break;
      }
    }
    if (!decoded) out += s[i];
  }
  return out;
}

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
  std::vector<MountEntry> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    // The kernel separates fields by one blank and escapes blanks, tabs and
    // line breaks inside them; any other byte (a carriage return too) is part
    // of its field.
    std::vector<std::string> w;
    for (std::size_t at = 0; at <= line.size();) {
      const std::size_t blank = std::min(line.find(' ', at), line.size());
      if (blank > at) w.push_back(line.substr(at, blank - at));
      at = blank + 1;
    }
    const auto dash = std::find(w.begin(), w.end(), "-");
    if (w.size() < 5 || dash == w.end() || w.end() - dash < 3) continue;
    out.push_back({UnescapeMountText(w[4]), UnescapeMountText(*(dash + 2)), *(dash + 1), w[2]});
  }
  return out;
}

std::optional<VolumeInformation> ProbeVolume(const std::string& device) {
  blkid_probe pr = blkid_new_probe_from_filename(device.c_str());
  if (pr == nullptr) return std::nullopt;
  blkid_probe_enable_superblocks(pr, 1);
  blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_UUID |
                                            BLKID_SUBLKS_VERSION);
  std::optional<VolumeInformation> info;
  if (blkid_do_safeprobe(pr) == 0) {
    const auto value = [&](const char* name) -> std::string {
      const char* data = nullptr;
      std::size_t len = 0;
      if (blkid_probe_lookup_value(pr, name, &data, &len) != 0 || data == nullptr) return {};
      return std::string(data);
    };
    const std::string type = value("TYPE");
    if (!type.empty()) {
      info.emplace();
      info->label = value("LABEL");
      const std::string version = value("VERSION");
      if (type == "vfat") {
        info->file_system = version == "FAT32" ? "FAT32" : (version.empty() ? "FAT" : version);
      } else {
        info->file_system = type;
        std::transform(info->file_system.begin(), info->file_system.end(), info->file_system.begin(),
                       [](char c) { return Upper(c); });
      }
      // The serial number: the last eight hex digits of the UUID.
      std::string hex;
      for (char c : value("UUID")) {
        if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
      }
      if (hex.size() > 8) hex = hex.substr(hex.size() - 8);
      if (!hex.empty()) info->serial = static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
    }
  }
  blkid_free_probe(pr);
  return info;
}

LinuxVolumes::LinuxVolumes(std::string drive_root, DriveNaming& naming, std::string mountinfo)
    : drive_root_(std::move(drive_root)), naming_(naming), mountinfo_(std::move(mountinfo)) {
  std::error_code ec;
  fs::create_directories(drive_root_, ec);
  // Volumes the station mounted before keep their letters.
  for (const auto& e : ParseMountInfo(ReadText(mountinfo_))) {
    const fs::path point(e.mount_point);
    const std::string name = point.filename().string();
    if (point.parent_path() == fs::path(drive_root_) && name.size() == 1 &&
        std::isalpha(static_cast<unsigned char>(name[0]))) {
      devices_[Upper(name[0])] = e.source;
    }
  }
}

std::string LinuxVolumes::MountPoint(char letter) const { return drive_root_ + "/" + std::string(1, Upper(letter)); }

void LinuxVolumes::Assign(char letter, const std::string& device) {
  std::lock_guard lock(mutex_);
  for (auto it = devices_.begin(); it != devices_.end();) {
    it = it->second == device ? devices_.erase(it) : std::next(it);
  }
  devices_[Upper(letter)] = device;
}

void LinuxVolumes::Unassign(char letter) {
  std::lock_guard lock(mutex_);
  devices_.erase(Upper(letter));
}

std::optional<std::string> LinuxVolumes::DeviceOf(char letter) {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(Upper(letter));
  if (it == devices_.end()) return std::nullopt;
  return it->second;
}

std::optional<char> LinuxVolumes::LetterOfDevice(const std::string& device) {
  std::lock_guard lock(mutex_);
  for (const auto& [l, d] : devices_) {
    if (d == device) return l;
  }
  return std::nullopt;
}

std::optional<MountEntry> LinuxVolumes::MountAt(const std::string& mount_point) {
  for (const auto& e : ParseMountInfo(ReadText(mountinfo_))) {
    if (e.mount_point == mount_point) return e;
  }
  return std::nullopt;
}

bool LinuxVolumes::Mounted(char letter) { return MountAt(MountPoint(letter)).has_value(); }

bool LinuxVolumes::EnsureMounted(char letter) {
  if (Mounted(letter)) return true;
  const auto device = DeviceOf(letter);
  if (!device) return false;
  const auto info = ProbeVolume(*device);
  if (!info) return false;
  const std::string point = MountPoint(letter);
  std::error_code ec;
  fs::create_directories(point, ec);
  const auto kernel = [](const std::string& dev, const std::string& at, const std::string& type) {
    return ::mount(dev.c_str(), at.c_str(), type.c_str(), 0, nullptr) == 0 ? 0 : errno;
  };
  const auto tool = [](const std::vector<std::string>& argv) { return RunTool(argv, nullptr); };
  bool ok = false;
  if (info->file_system == "NTFS") {
    ok = RunTool({"ntfs-3g", *device, point}, nullptr) == 0;
  } else if (info->file_system == "FAT32" || info->file_system == "FAT") {
    ok = MountFatVolume(*device, point, kernel, tool);
  } else {
    std::string lower = info->file_system;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    ok = kernel(*device, point, lower) == 0;
  }
  if (!ok) fs::remove(point, ec);
  return ok;
}

bool KernelHasFileSystem(const std::string& filesystems_text, const std::string& type) {
  std::istringstream in(filesystems_text);
  for (std::string line; std::getline(in, line);) {
    const auto tab = line.find('\t');
    if (tab != std::string::npos && line.substr(tab + 1) == type) return true;
  }
  return false;
}

std::string FatMountDriver() {
  return KernelHasFileSystem(ReadText("/proc/filesystems"), "vfat") ? "vfat" : "fusefat";
}

bool MountFatVolume(const std::string& device, const std::string& point, const KernelMount& kernel,
                    const ToolRun& tool) {
  const int error = kernel(device, point, "vfat");
  if (error == 0) return true;
  if (error != ENODEV) return false;  // the kernel has vfat and refused this volume
  return tool({"fusefat", "-o", "rw+", device, point}) == 0;
}

std::vector<int> ProcessesHolding(const std::string& device, const std::string& proc_root) {
  std::vector<int> out;
  std::error_code ec;
  for (fs::directory_iterator p(proc_root, ec), end; !ec && p != end; p.increment(ec)) {
    const std::string pid = p->path().filename().string();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
      continue;
    }
    std::error_code fd_ec;
    for (fs::directory_iterator f(p->path() / "fd", fd_ec), fd_end; !fd_ec && f != fd_end; f.increment(fd_ec)) {
      std::error_code link_ec;
      if (fs::read_symlink(f->path(), link_ec) == device) {
        out.push_back(std::stoi(pid));
        break;
      }
    }
  }
  return out;
}

bool LinuxVolumes::Unmount(char letter) {
  using namespace std::chrono_literals;
  const std::string point = MountPoint(letter);
  if (const auto mount = MountAt(point)) {
    ::sync();
    if (::umount2(point.c_str(), 0) != 0) return false;
    // A FUSE mount names its driver as the source ("fusefat"), not the device.
    const auto device = DeviceOf(letter);
    if (mount->fs_type.rfind("fuse", 0) == 0 && device) {
      const auto limit = std::chrono::steady_clock::now() + 10s;
      while (!ProcessesHolding(*device).empty() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(20ms);
      }
    }
  }
  std::error_code ec;
  fs::remove(point, ec);  // only an empty mount point
  return true;
}

DriveType LinuxVolumes::TypeOf(char letter) {
  if (Upper(letter) == 'C') return DriveType::kFixed;
  const auto device = DeviceOf(letter);
  struct stat st{};
  if (!device || ::stat(device->c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return DriveType::kNoRootDir;
  return DriveType::kFixed;  // mounted or not, even raw: the letter is taken
}

std::string DiskNameOfPartition(const std::string& device) {
  const std::string name = fs::path(device).filename().string();
  std::size_t end = name.size();
  while (end > 0 && std::isdigit(static_cast<unsigned char>(name[end - 1]))) --end;
  if (end == name.size() || end == 0) return {};
  // A disk whose name ends in a digit separates its partition number by 'p'.
  if (name[end - 1] == 'p' && end >= 2 && std::isdigit(static_cast<unsigned char>(name[end - 2]))) return name.substr(0, end - 1);
  if (std::isdigit(static_cast<unsigned char>(name[end - 1]))) return {};
  return name.substr(0, end);
}

std::vector<char> LinuxVolumes::LettersOfDisk(std::uint32_t disk_number) {
  std::map<char, std::string> devices;
  {
    std::lock_guard lock(mutex_);
    devices = devices_;
  }
  std::vector<char> out;
  for (const auto& [letter, device] : devices) {
    std::optional<int> number;
    if (const auto part = naming_.PartitionOf(device)) {
      number = part->first;
    } else {
      number = naming_.NumberGivenTo(DiskNameOfPartition(device));
    }
    if (number && static_cast<std::uint32_t>(*number) == disk_number) out.push_back(letter);
  }
  return out;
}

bool LinuxVolumes::LetterMayAppear(std::uint32_t disk_number) { return !LettersOfDisk(disk_number).empty(); }

bool LinuxVolumes::UnmountDisk(std::uint32_t disk_number) {
  ::sync();
  bool ok = true;
  for (char letter : LettersOfDisk(disk_number)) ok = Unmount(letter) && ok;
  return ok;
}

std::optional<std::string> LinuxVolumes::VolumeName(char letter) {
  if (TypeOf(letter) != DriveType::kFixed) return std::nullopt;
  if (Upper(letter) == 'C') {
    const auto root = MountAt("/");
    return root ? std::optional(root->source) : std::nullopt;
  }
  return DeviceOf(letter);
}

std::optional<std::vector<DiskExtent>> LinuxVolumes::Extents(const std::string& volume_name) {
  const auto part = naming_.PartitionOf(volume_name);
  const auto extent = naming_.PartitionExtent(volume_name);
  if (!part || !extent) return std::nullopt;
  return std::vector<DiskExtent>{{static_cast<std::uint32_t>(part->first), extent->first * 512, extent->second * 512}};
}

std::optional<VolumeInformation> LinuxVolumes::Information(char letter) {
  if (Upper(letter) == 'C') {
    const auto root = MountAt("/");
    if (!root) return std::nullopt;
    auto info = ProbeVolume(root->source);
    return info ? info : VolumeInformation{"", 0, root->fs_type};
  }
  const auto device = DeviceOf(letter);
  if (!device) return std::nullopt;
  return ProbeVolume(*device);
}

bool LinuxVolumes::SetLabel(char letter, const std::string& label) {
  const auto device = DeviceOf(letter);
  const auto info = Information(letter);
  if (!device || !info || Upper(letter) == 'C') return false;
  std::vector<std::string> command;
  if (info->file_system == "NTFS") {
    command = {"ntfslabel", *device, label};
  } else if (info->file_system == "FAT32") {
    command = {"fatlabel", *device, label};
  } else {
    return false;
  }
  const bool was_mounted = Mounted(letter);
  if (was_mounted && !Unmount(letter)) return false;
  const bool ok = RunTool(command, nullptr) == 0;
  if (was_mounted) EnsureMounted(letter);
  return ok;
}

bool LinuxVolumes::DropDeviceCache(char letter) {
  const auto device = DeviceOf(letter);
  if (!device || Upper(letter) == 'C') return false;
  const int fd = ::open(device->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::ioctl(fd, BLKFLSBUF, 0) == 0 ||
                  (::fdatasync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0);
  ::close(fd);
  return ok;
}

std::optional<FreeSpace> LinuxVolumes::Free(char letter) {
  const std::string point = Upper(letter) == 'C' ? "/" : MountPoint(letter);
  if (Upper(letter) != 'C' && !EnsureMounted(letter)) return std::nullopt;
  struct statvfs st{};
  if (::statvfs(point.c_str(), &st) != 0 || st.f_frsize == 0) return std::nullopt;
  FreeSpace f;
  f.bytes_per_sector = 512;
  f.sectors_per_cluster = static_cast<std::uint32_t>(std::max<unsigned long>(1, st.f_frsize / 512));
  const auto clamp = [](unsigned long long v) { return static_cast<std::uint32_t>(std::min<unsigned long long>(v, 0xFFFFFFFF)); };
  f.free_clusters = clamp(st.f_bavail);
  f.total_clusters = clamp(st.f_blocks);
  return f;
}

}  // namespace platform::linux_host
