#pragma once
// Questions the station asks about drive letters and disks before and after
// partitioning: a free letter, the letter of a disk's volume, the disk's size
// and the number of its partition.

#include <cstdint>
#include <optional>

#include "linetool/disk/disk_services.h"

namespace linetool::disk {

// Disk size classes: below 8 TiB FAT32 may be chosen; from 8 TiB on only NTFS.
enum class SizeClass { kUnknown = -1, kLarge = 0, kSmall = 1 };

inline constexpr std::uint32_t kLargeDiskMiB = 0x800000;  // 8 TiB
inline constexpr int kLetterLookupTries = 5;
inline constexpr std::chrono::milliseconds kLetterLookupPause{1000};

// True when a volume holds the letter (removable, fixed, remote, CD-ROM or
// RAM disk); unknown kinds and letters without a root directory are free.
bool LetterTaken(platform::Volumes& volumes, char letter);

// The first free letter from E to Z, or kNoDriveLetter.
char FreeDriveLetter(platform::Volumes& volumes);

// The letter whose volume's first extent lies on disk `drive_number`,
// looking at C to Z; up to five tries one second apart, but only one where
// no letter can appear for the disk (Volumes::LetterMayAppear).
// kNoDriveLetter when none is found (or a stop was requested).
char DriveLetterOfDisk(const DiskServices& s, int drive_number);

// The size of the whole disk in MiB, kUnknownMiB when the geometry query fails.
std::uint32_t DiskSizeMiB(platform::DiskRequests& disks, int drive_number);

SizeClass SizeClassOf(std::uint32_t size_mib);

// The last numbered partition in the disk's layout; nullopt when the layout
// cannot be read or no entry is numbered.
std::optional<std::uint32_t> PartitionNumber(platform::DiskRequests& disks, int drive_number);

}  // namespace linetool::disk
