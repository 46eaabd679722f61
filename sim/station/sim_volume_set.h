#pragma once
// The volumes of the simulated station: which drive letter names the
// partition of which disk, what file system and label are on it (read from
// the disk image itself), where its files live on the host and how much room
// they have; and the disk work the system tools do (clean, create a primary
// partition, mark it active, assign a letter, format NTFS, set a label).
//
// A letter belongs to a disk image, so it follows the disk when the disk
// comes back under another drive number. Drive 0 is the system disk with
// volume C. A volume that was dismounted is away until the world's clock has
// passed its return delay.
//
// The simulated NTFS keeps its volume name in the boot sector's code area
// (bytes 0x180 to 0x19F), where the station never looks.
//
// Thread-safe.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/disk_requests.h"
#include "platform/volumes.h"
#include "sim/station/station_world.h"

namespace sim::station {

inline constexpr std::size_t kSimNtfsLabelOffset = 0x180;
inline constexpr std::size_t kSimNtfsLabelSize = 32;

// Faults of one volume, by letter.
struct VolumeFaults {
  bool full = false;           // no room: free space 0, every write fails
  bool corrupt_reads = false;  // a read that reaches a file's last byte returns it changed
  bool label_fails = false;    // setting the label fails (the label tool too)
  // The bridge of the volume's disk is pulled out during the n-th file write
  // on the volume (counted from 1 since the faults were set); that write fails.
  std::optional<std::uint32_t> pulled_at_write = std::nullopt;
};

class SimVolumeSet final : public WorldService {
 public:
  // Volume files live in <drive_root>/<letter>.
  SimVolumeSet(StationWorld& world, std::filesystem::path drive_root);

  // Adds a volume set to `world` (which owns it) and returns it.
  static SimVolumeSet& AttachTo(StationWorld& world, std::filesystem::path drive_root);

  StationWorld& World() { return world_; }
  platform::Clock& GetClock() { return world_.GetClock(); }
  const std::filesystem::path& DriveRoot() const { return drive_root_; }
  std::filesystem::path FolderOf(char letter) const;

  // --- Letters and volumes ---------------------------------------------------
  // The disk number of a mounted volume (letter assigned, disk present,
  // partition on it, not away).
  std::optional<int> MountedDisk(char letter);
  std::optional<char> LetterOf(int drive_number);
  // The first partition of a disk as its partition table says.
  std::optional<platform::PartitionInfo> FirstPartition(int drive_number);
  std::optional<std::vector<platform::PartitionInfo>> Layout(int drive_number);
  std::optional<platform::VolumeInformation> Information(char letter);
  std::optional<platform::FreeSpace> Free(char letter);
  bool SetLabel(char letter, const std::string& label);
  // The volume of the disk is taken off until the return delay has passed.
  void Dismounted(int drive_number);
  // The station takes the file system of the disk's volume off: the volume
  // files are the host's and hold everything written, and the volume is
  // mounted again at its next use, so what remains is the count.
  void Unmounted(int drive_number);
  // How often the volume of the disk now numbered `drive_number` was taken off.
  std::uint32_t UnmountCount(int drive_number);

  // --- What the tools do ------------------------------------------------------
  bool Clean(int drive_number);
  bool CreatePrimaryPartition(int drive_number);
  bool SetActive(int drive_number, int partition);
  bool AssignLetter(int drive_number, char letter);
  bool FormatNtfs(char letter);
  // Sets the partition type of the letter's partition in the table.
  bool SetPartitionType(char letter, std::uint8_t type);
  // Empties the letter's host folder (the file system was written anew).
  void DropFiles(char letter);

  // --- Settings and faults ----------------------------------------------------
  // Where "create partition primary" starts the partition, in 512-byte
  // sectors (2048 = 1 MiB, as the system tool aligns; 63 as older tools did).
  // A disk of 4,096-byte sectors starts it at the same byte, rounded up to
  // its next sector.
  void SetAlignment(std::uint32_t sectors);
  // How long a dismounted volume stays away; nullopt: it never comes back.
  void SetReturnDelay(std::optional<std::chrono::milliseconds> delay);
  // The disk's partition layout cannot be read.
  void SetLayoutUnreadable(int drive_number, bool unreadable);
  VolumeFaults Faults(char letter);
  // Setting faults starts the count of writes for `pulled_at_write` anew.
  void SetFaults(char letter, const VolumeFaults& faults);
  // Counts one file write on the volume; when that is the write the bridge
  // is pulled out at, pulls it and answers false (the write fails).
  bool WriteGoesThrough(char letter);

 private:
  struct Letter {
    std::filesystem::path image;  // the disk it belongs to
  };

  std::optional<int> DriveNumberOfImage(const std::filesystem::path& image);
  std::optional<SimDiskInfo> DiskOfLetterLocked(char letter);
  bool AwayLocked(const std::filesystem::path& image);
  std::uint64_t UsedBytes(char letter, std::uint64_t cluster_bytes);

  StationWorld& world_;
  std::filesystem::path drive_root_;
  std::mutex mutex_;
  std::map<char, Letter> letters_;
  std::map<std::filesystem::path, std::optional<std::chrono::milliseconds>> away_until_;
  std::map<std::filesystem::path, bool> layout_unreadable_;
  std::map<char, VolumeFaults> faults_;
  std::map<char, std::uint32_t> writes_;
  std::map<std::filesystem::path, std::uint32_t> unmounts_;
  std::uint32_t alignment_ = 2048;
  std::optional<std::chrono::milliseconds> return_delay_{std::chrono::milliseconds(1000)};
};

}  // namespace sim::station
