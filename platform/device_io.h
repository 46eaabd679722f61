#pragma once
// Opening a storage device by its station name and talking to it: SCSI
// requests (standard and vendor opcodes), the device number, the bus type and
// the drive geometry, and plain sector access to a disk.
//
// Names are the station's device names: "\\.\PHYSICALDRIVE3", "\\.\CDROM1",
// or an interface path as the storage enumeration reports it. A backend decides
// what such a name means on its system.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace platform {

// Access wanted by an open (bit set).
enum OpenAccess : std::uint32_t {
  kAccessNone = 0,
  kAccessRead = 1u << 0,
  kAccessWrite = 1u << 1,
};

// What other opens of the same device may do while this handle is open.
// kShareNone asks for exclusive use.
enum OpenShare : std::uint32_t {
  kShareNone = 0,
  kShareRead = 1u << 0,
  kShareWrite = 1u << 1,
};

// Open flags.
enum OpenFlag : std::uint32_t {
  kOpenPlain = 0,
  kOpenNoBuffering = 1u << 0,
  kOpenSequentialScan = 1u << 1,
};

struct DeviceOpenRequest {
  std::string name;
  std::uint32_t access = kAccessRead | kAccessWrite;
  std::uint32_t share = kShareRead | kShareWrite;
  std::uint32_t flags = kOpenPlain;
};

enum class ScsiDirection : std::uint8_t {
  kOut = 0,  // host to device (or no data)
  kIn = 1,   // device to host
};

inline constexpr std::size_t kMaxCdbLength = 16;
inline constexpr std::uint8_t kScsiStatusGood = 0x00;
inline constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

// One SCSI request: the command block, the direction and length of its data
// phase and its time-out. The data itself travels in a separate buffer of at
// least transfer_length bytes.
struct ScsiRequest {
  std::array<std::uint8_t, kMaxCdbLength> cdb{};
  std::uint8_t cdb_length = 0;
  ScsiDirection direction = ScsiDirection::kIn;
  std::uint32_t transfer_length = 0;
  std::uint32_t timeout_seconds = 0;
};

// ok: the request reached the device and came back (the transport worked);
// scsi_status: the device's status byte, kScsiStatusGood when it completed.
struct ScsiResult {
  bool ok = false;
  std::uint8_t scsi_status = 0;

  bool Good() const { return ok && scsi_status == kScsiStatusGood; }
};

// Storage device types as the device-number query reports them.
inline constexpr std::uint32_t kDeviceTypeCdRom = 2;
inline constexpr std::uint32_t kDeviceTypeDisk = 7;

struct StorageDeviceNumber {
  std::uint32_t device_type = 0;  // kDeviceTypeDisk or kDeviceTypeCdRom (others exist)
  std::uint32_t device_number = 0;
  std::uint32_t partition_number = 0;
};

// Bus types of the storage-device descriptor.
enum class StorageBusType : std::uint32_t {
  kUnknown = 0,
  kScsi = 1,
  kAtapi = 2,
  kAta = 3,
  kUsb = 7,
  kSata = 11,
  kNvme = 17,
};

// Media types of a drive geometry (the subset the station meets).
inline constexpr std::uint32_t kMediaUnknown = 0;
inline constexpr std::uint32_t kMediaRemovable = 11;
inline constexpr std::uint32_t kMediaFixed = 12;

struct DriveGeometry {
  std::uint64_t cylinders = 0;
  std::uint32_t media_type = kMediaUnknown;
  std::uint32_t tracks_per_cylinder = 0;
  std::uint32_t sectors_per_track = 0;
  std::uint32_t bytes_per_sector = 0;
  std::uint64_t disk_size = 0;  // bytes
};

// An open device. Every call may block for the length of one device request.
// A handle belongs to one thread at a time; different handles may be used
// from different threads at once. Closing is destroying.
class DeviceHandle {
 public:
  virtual ~DeviceHandle() = default;

  // Sends one request. For kIn the device's data lands in `data`; for kOut the
  // first transfer_length bytes of `data` are sent. `data` holds at least
  // transfer_length bytes.
  virtual ScsiResult Scsi(const ScsiRequest& request, std::span<std::uint8_t> data) = 0;

  // The device type and number; nullopt when the query fails.
  virtual std::optional<StorageDeviceNumber> DeviceNumber() = 0;

  // The bus the storage device hangs on; nullopt when the query fails.
  virtual std::optional<StorageBusType> BusType() = 0;

  // The disk's geometry and size; nullopt when the device has no medium or is
  // not a disk. (Sector access to a disk goes through DiskRequests.)
  virtual std::optional<DriveGeometry> Geometry() = 0;
};

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;
  // Opens a device; nullptr when it does not exist, is gone, or is held
  // exclusively by another handle (or this open asks for exclusive use while
  // another handle is open).
  virtual std::unique_ptr<DeviceHandle> Open(const DeviceOpenRequest& request) = 0;
};

}  // namespace platform
