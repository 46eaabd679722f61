#pragma once
// The station's table of bridges: a header and 16 records, one per port row.
// Discovery fills it; the production steps address a bridge only through its
// record.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "linetool/profile/config_block.h"

namespace linetool::device {

inline constexpr int kMaxBridges = 16;
inline constexpr std::uint8_t kEmptySlot = 255;
inline constexpr char kNoDriveLetter = 127;
inline constexpr std::uint8_t kNoDriveNumber = 255;
inline constexpr int kStageCount = 7;
inline constexpr int kPreloadStage = 6;

struct BridgeDeviceRecord {
  std::uint8_t slot = kEmptySlot;  // index 0-15 in discovery order
  char drive_letter = kNoDriveLetter;
  std::string media_type_text;
  std::uint32_t tracks_per_cylinder = 0;
  std::uint32_t sectors_per_track = 0;
  std::uint32_t bytes_per_sector = 0;
  std::uint64_t cylinders = 0;
  std::uint64_t disk_size = 0;  // bytes
  std::int64_t capacity = -1;   // bytes; -1 unknown
  std::uint8_t presents_cdrom = 0;
  std::uint8_t physical_drive_number = kNoDriveNumber;
  std::uint8_t cdrom_number = kNoDriveNumber;
  std::string product_id;      // 4 upper-case hex digits
  std::string vendor_id;       // 4 upper-case hex digits
  std::string serial_number;   // trimmed, upper case
  std::string manufacturer;    // trimmed
  std::string product;         // trimmed
  std::string device_release;  // 4 lower-case hex digits
  std::int32_t location = -1;  // port + 10 x hub depth + 100 x controller index
  std::string firmware_version;  // 12 lower-case hex digits
  std::string hub_path;          // device path of the hub the bridge hangs on
  std::int32_t port = -1;        // port on that hub
  std::string usb_speed;         // "SUPER", "HIGH", "FULL" or empty
  profile::ConfigBlock config{};

  // Station fields: results of the seven stages, the write/read test buffers
  // and the test file length.
  std::array<std::uint8_t, kStageCount> stage_results{};
  std::vector<std::uint8_t> test_write_buffer;
  std::vector<std::uint8_t> test_read_buffer;
  std::uint32_t test_file_length = 0;

  bool Present() const { return slot != kEmptySlot; }
  // The device path the bridge is reached through: "\\.\CDROM%d" when it
  // presents as CD-ROM, else "\\.\PHYSICALDRIVE%d".
  std::string DevicePath() const;
};

struct DeviceTable {
  std::uint32_t device_count = 0;  // records filled by the last refresh
  std::uint8_t cd_rom_present = 0;  // a bridge presents as CD-ROM (a refresh does not clear it)
  std::uint32_t left_out = 0;       // bridges the last refresh found beyond the sixteenth
  std::array<BridgeDeviceRecord, kMaxBridges> records{};
};

// Empties a record as a refresh does: every device field to its empty value,
// stage results 0-5 to 0, the test buffers released; the preload result stays.
void ClearRecord(BridgeDeviceRecord& record);

// The description of a disk's media type (0-25); "Format is unknown" for
// anything else.
const char* MediaTypeText(std::uint32_t media_type);

// "\\.\PHYSICALDRIVE3", "\\.\CDROM0"
std::string PhysicalDrivePath(int number);
std::string CdRomPath(int number);

// The Capacity column: MiB (the byte count shifted right by 20, as 32 bits)
// as "%u MB" up to 1024, else "%u GB" of MiB / 1024; empty when unknown.
std::string CapacityText(std::int64_t capacity);

}  // namespace linetool::device
