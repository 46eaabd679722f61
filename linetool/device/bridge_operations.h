#pragma once
// The operations a production job and the pre-start checks run on one bridge,
// addressed by its slot in the device table: configuration slot transfer,
// firmware write, restart with re-find, safe removal and the chip variant
// read. Each returns 1 for success and 0 for failure, opens its own handle and
// closes it before it returns.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>

#include "linetool/device/device_table.h"
#include "linetool/device/kelv_usb_lib.h"
#include "linetool/profile/config_block.h"
#include "platform/clock.h"

namespace linetool::device {

// The lock that lets one port at a time look for its restarted bridge, and
// the count of restarts it guards. Both belong to the station's engine.
struct ReloadSync {
  std::mutex& lock;
  int& counter;
};

// What a production open, the safe-removal open, the re-find open and an
// engineering open ask for.
enum class BridgeOpen { kProduction, kSafeRemove, kRefind, kEngineering };

// The chip variant text of register 0xC8FF (bits 6-4; "00" when bits 5 and 4
// are clear), without the "_B0" suffix.
std::string ChipCodeOf(std::uint8_t variant);

// Opens the bridge of a record ("\\.\PHYSICALDRIVE%d", or "\\.\CDROM%d" when it
// presents as CD-ROM) with the share mode and flags `kind` asks for; nullptr
// when it does not open. Engineering opens are exclusive.
std::unique_ptr<platform::DeviceHandle> OpenBridgeDevice(platform::DeviceIo& io, const BridgeDeviceRecord& record,
                                                         BridgeOpen kind);

inline constexpr std::chrono::seconds kRefindTimeLimit{60};
// Pause between two passes over the drives while the bridge is not back.
inline constexpr std::chrono::milliseconds kRefindPassPause{250};

class BridgeOperations {
 public:
  // `host_workdir`: the station's working directory (host path); the
  // firmware image is "Temp\TempBinData.bin" under it.
  BridgeOperations(CKelvUSBLib& lib, DeviceTable& table, platform::Clock& clock, std::string host_workdir,
                   ReloadSync reload, DriveLetterLookup drive_letter_of);

  // Opens the bridge of a record as `kind` asks; nullptr when it fails.
  std::unique_ptr<platform::DeviceHandle> OpenBridge(const BridgeDeviceRecord& record, BridgeOpen kind);

  // direction 0 reads configuration slot `config_slot` into `buffer`, 1
  // writes `buffer` into it.
  std::uint8_t ConfigSlotTransfer(int slot, int direction, profile::ConfigBlock& buffer, int config_slot);
  // Streams the whole "TempBinData.bin" into firmware slot `config_slot`.
  std::uint8_t FirmwareWrite(int slot, int config_slot);
  // Tags the bridge with (tag1, slot), restarts it and finds it again among
  // the drives 1 .. disk_count_minus_1 + 1 (CD-ROM: alternating one past
  // `highest_cdrom` and its own number) within 60 seconds; then writes the old
  // tag back. A stop request ends the search as a failure.
  std::uint8_t FirmwareReload(int slot, std::uint8_t tag1, int disk_count_minus_1, int highest_cdrom = -1,
                              std::stop_token stop = {});
  std::uint8_t SafeRemoveBridge(int slot);
  // Reads register 0xC8FF into `chip_code` ("001_B0" when the code is "001"
  // and bits 3-0 are 0); `match` tells whether the code equals that of
  // `expected_hex`.
  // The ATA model and serial number of the disk behind the port's bridge; 0
  // (both empty) when the bridge cannot be opened or rejects IDENTIFY.
  std::uint8_t ReadAtaIdentity(int slot, std::string& model, std::string& serial);
  std::uint8_t ReadChipVariant(int slot, const std::string& expected_hex, std::string& chip_code, bool& match);

 private:
  bool Refind(BridgeDeviceRecord& record, int slot, std::uint8_t tag1, int disk_count_minus_1,
              int highest_cdrom, std::stop_token stop);
  CKelvUSBDev2K& Dev() { return lib_.Device(); }

  CKelvUSBLib& lib_;
  DeviceTable& table_;
  platform::Clock& clock_;
  std::string host_workdir_;
  ReloadSync reload_;
  DriveLetterLookup drive_letter_of_;
};

}  // namespace linetool::device
