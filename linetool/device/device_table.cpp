#include "linetool/device/device_table.h"

#include <array>
#include <cstdio>

namespace linetool::device {

namespace {

constexpr std::array<const char*, 26> kMediaTypeTexts = {
    "Format is unknown",
    "A 5.25 floppy, with 1.2MB and 512 bytes/sector.",
    "A 3.5 floppy, with 1.44MB and 512 bytes/sector.",
    "A 3.5 floppy, with 2.88MB and 512 bytes/sector.",
    "A 3.5 floppy, with 20.8MB and 512 bytes/sector.",
    "A 3.5 floppy, with 720KB and 512 bytes/sector.",
    "A 5.25 floppy, with 360KB and 512 bytes/sector.",
    "A 5.25 floppy, with 320KB and 512 bytes/sector.",
    "A 5.25 floppy, with 320KB and 1024 bytes/sector.",
    "A 5.25 floppy, with 180KB and 512 bytes/sector.",
    "A 5.25 floppy, with 160KB and 512 bytes/sector.",
    "Removable media other than floppy.",
    "Fixed hard disk media.",
    "A 3.5 floppy, with 120MB and 512 bytes/sector.",
    "A 3.5 floppy, with 640KB and 512 bytes/sector.",
    "A 5.25 floppy, with 640KB and 512 bytes/sector.",
    "A 5.25 floppy, with 720KB and 512 bytes/sector.",
    "A 3.5 floppy, with 1.2MB and 512 bytes/sector.",
    "A 3.5 floppy, with 1.23MB and 1024 bytes/sector.",
    "A 5.25 floppy, with 1.23MB and 1024 bytes/sector.",
    "A 3.5 floppy, with 128MB and 512 bytes/sector.",
    "A 3.5 floppy, with 230MB and 512 bytes/sector.",
    "An 8 floppy, with 256KB and 128 bytes/sector.",
    "A 3.5 floppy, with 200MB and 512 bytes/sector.",
    "A 3.5 floppy, with 240MB and 512 bytes/sector.",
    "A 3.5 floppy, with 32MB and 512 bytes/sector.",
};

}  // namespace

void ClearRecord(BridgeDeviceRecord& record) {
  const std::uint8_t preload = record.stage_results[kPreloadStage];
  BridgeDeviceRecord empty;
  empty.test_file_length = record.test_file_length;
  empty.stage_results[kPreloadStage] = preload;
  record = std::move(empty);
}

const char* MediaTypeText(std::uint32_t media_type) {
  return media_type < kMediaTypeTexts.size() ? kMediaTypeTexts[media_type] : kMediaTypeTexts[0];
}

std::string PhysicalDrivePath(int number) {
  char path[48];
  std::snprintf(path, sizeof path, "\\\\.\\%s%d", "PHYSICALDRIVE", number);
  return path;
}

std::string CdRomPath(int number) {
  char path[48];
  std::snprintf(path, sizeof path, "\\\\.\\%s%d", "CDROM", number);
  return path;
}

std::string BridgeDeviceRecord::DevicePath() const {
  return presents_cdrom ? CdRomPath(cdrom_number) : PhysicalDrivePath(physical_drive_number);
}

std::string CapacityText(std::int64_t capacity) {
  const auto bytes = static_cast<std::uint64_t>(capacity);
  if (bytes == ~std::uint64_t{0}) return {};
  const auto mib = static_cast<std::uint32_t>(bytes >> 20);
  char text[32];
  if (mib <= 1024) {
    std::snprintf(text, sizeof text, "%u MB", mib);
  } else {
    std::snprintf(text, sizeof text, "%u GB", mib / 1024);
  }
  return text;
}

}  // namespace linetool::device
