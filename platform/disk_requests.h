#pragma once
// Requests to a disk or a volume device, in the station's terms.
//
// The station names devices as the system it was built for does:
// "\\.\PHYSICALDRIVE3" is the whole disk with drive number 3, "\\.\E:" the
// volume behind drive letter E. A backend decides what such a name means on
// its host (a block device, a partition of it, a simulated disk image).
// Every request of an open device may block for as long as the device needs;
// none of them retries by itself. Opening takes the same request as DeviceIo
// (access, sharing, flags); the geometry is the DeviceIo one.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/device_io.h"

namespace platform {

// One partition: where it lies on its disk and what its table entry says.
struct PartitionInfo {
  std::uint64_t starting_offset = 0;  // bytes from the start of the disk
  std::uint64_t length = 0;           // bytes
  std::uint32_t hidden_sectors = 0;   // sectors before the partition
  std::uint32_t number = 0;           // 1-based; 0 = not numbered
  std::uint8_t type = 0;              // MBR partition type (0x07 NTFS, 0x0C FAT32 LBA)
  bool boot_indicator = false;
};

// An open disk or volume device. Closed when destroyed.
class DiskDevice {
 public:
  virtual ~DiskDevice() = default;

  // Geometry and size; nullopt when the device does not answer.
  virtual std::optional<DriveGeometry> Geometry() = 0;
  // The partition this device is (for a volume), or the whole device as one
  // partition starting at 0 (for a disk).
  virtual std::optional<PartitionInfo> PartitionInformation() = 0;
  // The entries of the disk's partition table, in table order; nullopt when
  // the layout cannot be read.
  virtual std::optional<std::vector<PartitionInfo>> DriveLayout() = 0;
  // Changes the partition type in the table entry of this volume.
  virtual bool SetPartitionType(std::uint8_t type) = 0;
  // Makes the system read the disk's partition table and size again.
  virtual bool UpdateProperties() = 0;
  // Exclusive use of the volume: nobody else may have its files open.
  virtual bool Lock() = 0;
  // Takes the file system off the volume; it is mounted afresh on next use.
  // Everything written before is on the medium when this returns true.
  virtual bool Dismount() = 0;
  virtual bool Unlock() = 0;
  // Reads or writes whole sectors at a byte offset (a multiple of the sector
  // size). True only when every byte was transferred.
  virtual bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) = 0;
  virtual bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
  // Asks the device itself to make `length` bytes at `offset` (whole sectors)
  // read as zeros, without the data crossing the bus. False when it cannot:
  // the caller then writes zeros.
  virtual bool ZeroRange(std::uint64_t /*offset*/, std::uint64_t /*length*/) { return false; }
};

// A disk kept for the station alone while it rewrites the disk's table and
// file system: the system neither probes the disk nor re-reads its table
// meanwhile. Released when destroyed.
class DiskHold {
 public:
  virtual ~DiskHold() = default;
  // Between the new table and the new file system: lets the system take in
  // the disk's new partitions (a system that waits for the hold gives their
  // device nodes their owner and mode only then) and holds the disk again.
  // False when it cannot be held again: it is gone, or another program
  // took it meanwhile.
  virtual bool AwaitNewPartitions() { return true; }
};

class DiskRequests {
 public:
  virtual ~DiskRequests() = default;
  // Holds "\\.\PHYSICALDRIVEn" from its partition step through its format.
  // nullptr when the disk is not there or another program holds it. A system
  // that probes no disk by itself needs no hold: the default holds nothing.
  virtual std::unique_ptr<DiskHold> Hold(int /*drive_number*/) { return std::make_unique<DiskHold>(); }
  // Opens "\\.\PHYSICALDRIVEn" or "\\.\X:". kShareNone asks that nobody
  // else has the device open. nullptr when it does not exist or is busy.
  virtual std::unique_ptr<DiskDevice> Open(const DeviceOpenRequest& request) = 0;
  // Why the system itself uses the disk "\\.\PHYSICALDRIVEn", so that it must
  // not be partitioned: it is drive 0 or holds the system, carries a file
  // system that someone other than the station mounted, active swap, or a
  // member of a RAID, LVM or device-mapper device. A sentence for the log,
  // or nullopt when nothing uses it.
  virtual std::optional<std::string> InUse(int drive_number) = 0;
};

}  // namespace platform
