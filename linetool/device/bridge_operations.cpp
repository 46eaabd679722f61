#include "linetool/device/bridge_operations.h"

#include <array>
#include <cstdlib>

#include "linetool/profile/firmware_image.h"
#include "linetool/profile/station_files.h"
#include "platform/path_access.h"

namespace linetool::device {

namespace {

constexpr std::uint32_t kShareRW = platform::kShareRead | platform::kShareWrite;
constexpr std::uint32_t kReadWrite = platform::kAccessRead | platform::kAccessWrite;

bool ValidSlot(int slot) { return slot >= 0 && slot < kMaxBridges; }

}  // namespace

std::string ChipCodeOf(std::uint8_t v) {
  std::string code;
  if (v & 0x30) code += (v & 0x40) ? "1" : "0";
  code += (v & 0x20) ? "1" : "0";
  code += (v & 0x10) ? "1" : "0";
  return code;
}

BridgeOperations::BridgeOperations(CKelvUSBLib& lib, DeviceTable& table, platform::Clock& clock,
                                   std::string host_workdir, ReloadSync reload, DriveLetterLookup drive_letter_of)
    : lib_(lib),
      table_(table),
      clock_(clock),
      host_workdir_(std::move(host_workdir)),
      reload_(reload),
      drive_letter_of_(std::move(drive_letter_of)) {}

std::unique_ptr<platform::DeviceHandle> OpenBridgeDevice(platform::DeviceIo& io, const BridgeDeviceRecord& record,
                                                         BridgeOpen kind) {
  platform::DeviceOpenRequest r{record.DevicePath(), kReadWrite, kShareRW, platform::kOpenPlain};
  switch (kind) {
    case BridgeOpen::kProduction:
      r.flags = platform::kOpenNoBuffering;
      break;
    case BridgeOpen::kSafeRemove:
      r.flags = platform::kOpenNoBuffering | platform::kOpenSequentialScan;
      break;
    case BridgeOpen::kRefind:
      break;
    case BridgeOpen::kEngineering:
      r.share = platform::kShareNone;
      break;
  }
  return io.Open(r);
}

std::unique_ptr<platform::DeviceHandle> BridgeOperations::OpenBridge(const BridgeDeviceRecord& record,
                                                                     BridgeOpen kind) {
  return OpenBridgeDevice(Dev().Services().io, record, kind);
}

std::uint8_t BridgeOperations::ConfigSlotTransfer(int slot, int direction, profile::ConfigBlock& buffer,
                                                  int config_slot) {
  if (!ValidSlot(slot)) return 0;
  auto h = OpenBridge(table_.records[static_cast<std::size_t>(slot)], BridgeOpen::kProduction);
  if (!h) return 0;
  const auto s = Dev().ConfigTable(h.get(), direction, buffer, profile::kConfigBlockSize,
                                   static_cast<std::uint32_t>(config_slot));
  return s == kCmdDone ? 1 : 0;
}

std::uint8_t BridgeOperations::FirmwareWrite(int slot, int config_slot) {
  if (!ValidSlot(slot)) return 0;
  auto image = profile::ReadFileHead(platform::ToHostPath("Temp\\TempBinData.bin", host_workdir_),
                                     profile::kMaxImageSize);
  // Only a whole composed image with firmware in it goes to the flash: an
  // empty, cut or foreign file would leave the bridge without firmware.
  if (!image || image->more) return 0;
  const auto parsed = profile::ParseImage(image->bytes);
  if (!parsed || parsed->firmware.empty()) return 0;
  auto h = OpenBridge(table_.records[static_cast<std::size_t>(slot)], BridgeOpen::kProduction);
  if (!h) return 0;
  const auto s = Dev().WriteFirmwareData(h.get(), image->bytes, static_cast<std::uint32_t>(image->bytes.size()),
                                         static_cast<std::uint32_t>(config_slot));
  return s == kCmdDone ? 1 : 0;
}

std::uint8_t BridgeOperations::FirmwareReload(int slot, std::uint8_t tag1, int disk_count_minus_1,
                                              int highest_cdrom, std::stop_token stop) {
  if (!ValidSlot(slot)) return 0;
  BridgeDeviceRecord& record = table_.records[static_cast<std::size_t>(slot)];
  const bool cdrom = record.presents_cdrom != 0;
  std::unique_lock lock(reload_.lock, std::defer_lock);
  // A CD-ROM bridge holds the lock from the tag write on; a disk only for the
  // search.
  if (cdrom) lock.lock();

  std::array<std::uint8_t, 2> old_tag{};
  {
    auto h = OpenBridge(record, BridgeOpen::kProduction);
    if (!h) return 0;
    if (Dev().ReadRegisters(h.get(), kRegTag1, old_tag, 2) == kCmdDone) {
      Dev().WriteRegisterByte(h.get(), kRegTag1, tag1);
      if (Dev().WriteRegisterByte(h.get(), kRegTag2, static_cast<std::uint8_t>(slot)) != kCmdDone) return 0;
      Dev().ReloadFirmware(h.get());
    }
  }
  if (!cdrom) lock.lock();

  std::uint8_t result = 0;
  if (Refind(record, slot, tag1, disk_count_minus_1, highest_cdrom, stop)) {
    auto h = OpenBridge(record, BridgeOpen::kProduction);
    if (h && Dev().WriteRegisterByte(h.get(), kRegTag1, old_tag[0]) == kCmdDone) {
      Dev().WriteRegisterByte(h.get(), kRegTag2, old_tag[1]);
      result = 1;
    }
  }
  ++reload_.counter;
  return result;
}

bool BridgeOperations::Refind(BridgeDeviceRecord& record, int slot, std::uint8_t tag1, int disk_count_minus_1,
                              int highest_cdrom, std::stop_token stop) {
  const bool cdrom = record.presents_cdrom != 0;
  const auto start = clock_.Now();
  for (;;) {
    for (int i = 1; i <= disk_count_minus_1 + 1; ++i) {
      if (stop.stop_requested()) return false;
      int number = i;
      if (cdrom) number = (i % 2 == 1) ? highest_cdrom + 1 : record.cdrom_number;
      if (number < 0 || number >= kNoDriveNumber) continue;
      BridgeDeviceRecord candidate = record;
      if (cdrom) {
        candidate.cdrom_number = static_cast<std::uint8_t>(number);
      } else {
        candidate.physical_drive_number = static_cast<std::uint8_t>(number);
      }
      auto h = OpenBridge(candidate, BridgeOpen::kRefind);
      if (!h) continue;
      std::array<std::uint8_t, 2> tag{};
      if (Dev().ReadRegisters(h.get(), kRegTag1, tag, 2) != kCmdDone) continue;
      if (tag[0] != tag1 || tag[1] != static_cast<std::uint8_t>(slot)) continue;
      if (!clock_.WaitFor(std::chrono::milliseconds(cdrom ? 1500 : 500), stop)) return false;
      std::array<std::uint8_t, kBridgeInquiryBytes> inquiry{};
      if (Dev().ScsiInquiry(h.get(), inquiry) != kCmdDone || !IsBridgeInquiry(inquiry)) continue;

      char letter = kNoDriveLetter;
      if (!cdrom && record.drive_letter != kNoDriveLetter) {
        letter = drive_letter_of_ ? drive_letter_of_(static_cast<std::uint8_t>(number)) : kNoDriveLetter;
        if (letter == kNoDriveLetter) continue;
      }
      std::array<std::uint8_t, 7> version{};
      if (Dev().ReadRegisters(h.get(), kRegFirmwareVersion, version, 7) != kCmdDone) continue;
      auto hub = Dev().Services().usb.OpenHub(record.hub_path);
      if (!hub) continue;
      const auto connection = hub->Connection(record.port);
      if (!connection || connection->status != platform::kUsbDeviceConnected) continue;
      const DescriptorTexts texts = DecodeDescriptors(*hub, record.port, connection->descriptor);
      // The tags alone do not tell: another bridge may still hold the same
      // ones from a restart that never ended. The drive must be the bridge
      // that is back on this port (a bridge without a serial number is taken
      // on its tags).
      if (!texts.serial_number.empty() &&
          !Dev().DriveShowsSerial(h.get(), cdrom ? platform::kDeviceTypeCdRom : platform::kDeviceTypeDisk,
                                  static_cast<std::uint32_t>(number), texts.serial_number,
                                  hub->DriverKeyName(record.port).value_or(std::string()))) {
        continue;
      }

      // Accepted: the record takes the new numbers only now, so a bridge that
      // is not accepted leaves it as it was.
      record.physical_drive_number = candidate.physical_drive_number;
      record.cdrom_number = candidate.cdrom_number;
      if (!cdrom) record.drive_letter = letter;
      record.firmware_version = FirmwareVersionText(version);
      record.vendor_id = texts.vendor_id;
      record.product_id = texts.product_id;
      record.device_release = texts.device_release;
      record.manufacturer = texts.manufacturer;
      record.product = texts.product;
      record.serial_number = texts.serial_number;
      return true;
    }
    if (clock_.Now() - start > kRefindTimeLimit) return false;
    if (!clock_.WaitFor(kRefindPassPause, stop)) return false;
  }
}

std::uint8_t BridgeOperations::SafeRemoveBridge(int slot) {
  if (!ValidSlot(slot)) return 0;
  auto h = OpenBridge(table_.records[static_cast<std::size_t>(slot)], BridgeOpen::kSafeRemove);
  if (!h) return 0;
  return Dev().SafeRemove(h.get()) == kCmdDone ? 1 : 0;
}

std::uint8_t BridgeOperations::ReadAtaIdentity(int slot, std::string& model, std::string& serial) {
  model.clear();
  serial.clear();
  if (!ValidSlot(slot)) return 0;
  auto h = OpenBridge(table_.records[static_cast<std::size_t>(slot)], BridgeOpen::kProduction);
  if (!h) return 0;
  return Dev().AtaIdentity(h.get(), model, serial) == kCmdDone ? 1 : 0;
}

std::uint8_t BridgeOperations::ReadChipVariant(int slot, const std::string& expected_hex, std::string& chip_code,
                                               bool& match) {
  match = false;
  if (!ValidSlot(slot)) return 0;
  auto h = OpenBridge(table_.records[static_cast<std::size_t>(slot)], BridgeOpen::kProduction);
  if (!h) return 0;
  std::array<std::uint8_t, 1> variant{};
  if (Dev().ReadRegisters(h.get(), kRegChipVariant, variant, 1) != kCmdDone) return 0;
  std::string code = ChipCodeOf(variant[0]);
  const auto expected = static_cast<std::uint8_t>(std::strtoul(expected_hex.c_str(), nullptr, 16) & 0xFF);
  match = code == ChipCodeOf(expected);
  if (code == "001" && (variant[0] & 0x0F) == 0) code += "_B0";
  chip_code = code;
  return 1;
}

}  // namespace linetool::device
