#pragma once
// The daily production log: one tab-separated record per finished port in
// "<working directory>\YYYYMMDD.log", with a header line when the day's file
// is new.

#include <array>
#include <cstdint>
#include <string>

#include "linetool/disk/disk_services.h"
#include "linetool/profile/profile_settings.h"

namespace linetool::disk {

// Stage result slots, in the job's order.
enum StageSlot : int {
  kStageConfig = 0,
  kStageFirmware,
  kStageRelink,
  kStagePartition,
  kStageFormat,
  kStageWriteRead,
  kStagePreload,
  kStageCount,
};

// What the log needs of a port's device record.
struct LogPort {
  int slot = 0;
  int usb_port = 0;
  std::string vid, pid, version, manufacturer, product, serial_number, fw_version, usb_speed;
  int drive_number = 0;
  char drive_letter = kNoDriveLetter;
  std::array<std::uint8_t, kStageCount> results{};  // 1 = pass
};

inline constexpr std::size_t kLogColumns = 34;
inline constexpr std::size_t kLogTextLimit = 1023;

// "<workdir>\20260312.log" as a station path relative to the working directory.
std::string LogFileName(const platform::LocalTime& t);
// The 34 titles, each followed by a tab; the line ends with the CR LF that
// starts the record after it.
std::string LogHeader();
// CR LF and the fields of one record, ending with the blank field.
std::string LogRecord(const LogPort& port, const profile::ProfileSettings& settings, const platform::LocalTime& t);

// Appends the record of one port (with the header when the day's file is new).
// A file that cannot be opened is skipped; the result is then false.
bool WriteLogRecord(const DiskServices& s, const LogPort& port, const profile::ProfileSettings& settings);

}  // namespace linetool::disk
