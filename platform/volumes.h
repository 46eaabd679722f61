#pragma once
// The volumes the station sees, named by drive letter: what kind of drive a
// letter is, which disk a volume lies on, its label, file system and free
// space. The files of a volume are reached through a host folder, one per
// letter, below DriveRoot() ("E:\x" is <DriveRoot()>/E/x).
//
// Every call answers from the system's current state and may block briefly;
// none waits for a volume to appear.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The kinds of drive a letter can name.
enum class DriveType {
  kUnknown,        // the system cannot tell
  kNoRootDir,      // no volume under this letter
  kRemovable,
  kFixed,
  kRemote,
  kCdRom,
  kRamDisk,
};

// Where a volume lies: one extent on one disk.
struct DiskExtent {
  std::uint32_t disk_number = 0;
  std::uint64_t starting_offset = 0;  // bytes
  std::uint64_t length = 0;           // bytes
};

struct VolumeInformation {
  std::string label;        // the volume name ("" when none)
  std::uint32_t serial = 0;
  std::string file_system;  // "NTFS", "FAT32", ...
};

// Free room as the file system counts it.
struct FreeSpace {
  std::uint32_t sectors_per_cluster = 0;
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t free_clusters = 0;
  std::uint32_t total_clusters = 0;
};

class Volumes {
 public:
  virtual ~Volumes() = default;

  virtual DriveType TypeOf(char letter) = 0;
  // The system's name of the volume mounted at "X:\", nullopt when none.
  virtual std::optional<std::string> VolumeName(char letter) = 0;
  // The extents of a volume by its name; nullopt when it cannot be opened.
  virtual std::optional<std::vector<DiskExtent>> Extents(const std::string& volume_name) = 0;
  // Label, serial and file system of "X:\"; nullopt when no file system is
  // mounted there.
  virtual std::optional<VolumeInformation> Information(char letter) = 0;
  virtual bool SetLabel(char letter, const std::string& label) = 0;
  virtual std::optional<FreeSpace> Free(char letter) = 0;
  // The host folder under which each letter's folder appears.
  virtual std::string DriveRoot() const = 0;
  // Puts what the host holds of the volume's device on the medium and drops
  // it from the host's cache, so the next read of the volume's files comes
  // from the device (a file system driver outside the kernel reads through
  // the device's cache). False when that failed; volumes the host does not
  // cache need nothing.
  virtual bool DropDeviceCache(char /*letter*/) { return true; }

  // Whether a volume of disk `disk_number` may still come under a letter
  // without the station giving it one, so that a letter not there yet is
  // worth waiting for. A system that letters arriving volumes itself says
  // yes; where only the station gives letters, only a disk one of whose
  // partitions holds a letter may show it.
  virtual bool LetterMayAppear(std::uint32_t /*disk_number*/) { return true; }

  // Puts everything the host holds of the volumes on disk `disk_number` on
  // the medium and takes their file systems off; a later use of a letter
  // mounts its volume again, and the letters stay where they are. Done
  // before the disk's bridge restarts or leaves the bus and when the station
  // is done with the disk, so that nothing of the host holds the disk when
  // it goes (a volume left mounted on a pulled disk keeps the disk's name
  // taken and its file system marked in use). A disk that is gone still has
  // its volumes taken off. True when none of them is mounted afterwards.
  virtual bool UnmountDisk(std::uint32_t disk_number) = 0;
};

}  // namespace platform
