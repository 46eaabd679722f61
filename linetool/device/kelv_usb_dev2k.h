#pragma once
// CKelvUSBDev2K: the bridge access of one refresh. It carries the vendor
// command transport (every command opens nothing: the caller hands it an open
// handle) and the walk that finds the bridges on the USB tree, ties each to
// its disk or CD-ROM device and fills the device table.
//
// The command operations keep no state and may be called from any thread with
// that thread's own handle. The walk runs on the caller's thread and must not
// overlap production work on the records.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "linetool/device/cmd_status.h"
#include "linetool/device/device_table.h"
#include "platform/device_services.h"

namespace linetool::device {

inline constexpr std::uint32_t kMaxTransferBytes = 65536;
inline constexpr std::uint32_t kMaxRegisterBytes = 256;
inline constexpr std::uint32_t kConfigTableBytes = 128;
inline constexpr std::uint32_t kBridgeInquiryBytes = 38;

// Bridge registers the station uses.
inline constexpr std::uint16_t kRegFirmwareVersion = 0x07F0;
inline constexpr std::uint16_t kRegUaspStatus = 0x9000;
inline constexpr std::uint16_t kRegLinkSpeed = 0x9002;
inline constexpr std::uint16_t kRegUaspSupport = 0xC890;
inline constexpr std::uint16_t kRegChipVariant = 0xC8FF;
inline constexpr std::uint16_t kRegTag1 = 0xCA02;
inline constexpr std::uint16_t kRegTag2 = 0xCA03;

// Looks up the drive letter of the volume on a physical drive; 127 when it
// has none. Provided by the disk preparation.
using DriveLetterLookup = std::function<char(std::uint8_t physical_drive)>;

// Descriptor texts of a USB device as a record holds them.
struct DescriptorTexts {
  std::string vendor_id;
  std::string product_id;
  std::string device_release;
  std::string manufacturer;
  std::string product;
  std::string serial_number;
};

// Reads and decodes the descriptors of the device at a hub port: identifiers
// as hex texts, the three strings through the port's first language.
DescriptorTexts DecodeDescriptors(platform::UsbHub& hub, int port,
                                  const platform::UsbDeviceDescriptor& descriptor);

// The INQUIRY bridge check: bytes 37 and 36 read as "%02X%02X" are "2105".
bool IsBridgeInquiry(std::span<const std::uint8_t> inquiry);

// Formats register bytes 0-5 as twelve lower-case hex digits.
std::string FirmwareVersionText(std::span<const std::uint8_t> bytes);

class CKelvUSBDev2K {
 public:
  struct Options {
    bool cd_rom_mode = false;     // the profile's cd_rom_mode
    DriveLetterLookup drive_letter_of;  // may be empty: no letters
  };

  CKelvUSBDev2K(platform::DeviceServices services, Options options);
  virtual ~CKelvUSBDev2K();

  // --- Vendor command transport (a null handle is an invalid handle) ---------
  // INQUIRY of n (1-255) bytes into `destination`; 0 done, 1 failed (the
  // destination stays cleared).
  CmdStatus ScsiInquiry(platform::DeviceHandle* handle, std::span<std::uint8_t> destination);
  // Appends the disk's 20-character ATA serial number (word-swapped IDENTIFY
  // words 10-19) to `text`. When the bridge rejects IDENTIFY nothing is
  // appended. 0, or 3 for a null handle.
  CmdStatus AtaIdentifySerial(platform::DeviceHandle* handle, std::string& text);
  // The disk's ATA model (IDENTIFY words 27-46) and serial number (words
  // 10-19), word-swapped, without the blanks that pad them. 0 read; 1 when the
  // bridge rejects IDENTIFY (both stay empty); 3 for a null handle.
  CmdStatus AtaIdentity(platform::DeviceHandle* handle, std::string& model, std::string& serial);
  // direction 0 reads slot `slot` into `buffer`, any other writes it.
  // `length` must be 128.
  CmdStatus ConfigTable(platform::DeviceHandle* handle, int direction, std::span<std::uint8_t> buffer,
                        std::uint32_t length, std::uint32_t slot);
  CmdStatus ReadConfigTable(platform::DeviceHandle* h, std::span<std::uint8_t> buffer, std::uint32_t length,
                            std::uint32_t slot) {
    return ConfigTable(h, 0, buffer, length, slot);
  }
  CmdStatus WriteConfigTable(platform::DeviceHandle* h, std::span<std::uint8_t> buffer, std::uint32_t length,
                             std::uint32_t slot) {
    return ConfigTable(h, 1, buffer, length, slot);
  }
  // mode 1 streams `length` bytes into firmware slot `slot`, 64 KiB per
  // request with one CDB; mode 0 reads up to 64 KiB back.
  CmdStatus FirmwareData(platform::DeviceHandle* handle, int mode, std::span<std::uint8_t> buffer,
                         std::uint32_t length, std::uint32_t slot);
  CmdStatus WriteFirmwareData(platform::DeviceHandle* h, std::span<std::uint8_t> buffer, std::uint32_t length,
                              std::uint32_t slot) {
    return FirmwareData(h, 1, buffer, length, slot);
  }
  CmdStatus ReadFirmwareData(platform::DeviceHandle* h, std::span<std::uint8_t> buffer, std::uint32_t length,
                             std::uint32_t slot) {
    return FirmwareData(h, 0, buffer, length, slot);
  }
  // direction 0 reads `length` (at most 256) registers from `address`;
  // any other writes the first byte of `buffer` to `address`.
  CmdStatus Registers(platform::DeviceHandle* handle, int direction, std::uint16_t address,
                      std::span<std::uint8_t> buffer, std::uint32_t length);
  CmdStatus ReadRegisters(platform::DeviceHandle* h, std::uint16_t address, std::span<std::uint8_t> buffer,
                          std::uint32_t length) {
    return Registers(h, 0, address, buffer, length);
  }
  CmdStatus WriteRegister(platform::DeviceHandle* h, std::uint16_t address, std::span<std::uint8_t> buffer,
                          std::uint32_t length) {
    return Registers(h, 1, address, buffer, length);
  }
  CmdStatus WriteRegisterByte(platform::DeviceHandle* h, std::uint16_t address, std::uint8_t value) {
    std::uint8_t b[1] = {value};
    return Registers(h, 1, address, b, 1);
  }
  // E8 00: the bridge restarts its firmware. E8 01: it leaves the bus.
  CmdStatus ReloadFirmware(platform::DeviceHandle* handle);
  CmdStatus SafeRemove(platform::DeviceHandle* handle);

  // --- Discovery ---------------------------------------------------------------
  void SetTable(DeviceTable* table) { table_ = table; }
  void SetRefreshFlag(bool on) { refresh_ = on; }
  // Walks every controller and hub and fills the table.
  void Walk();
  // The drive matcher: the drive (kind 7 disk, 2 CD-ROM) whose bridge carries
  // `serial` in its configuration slot 0, its disk's ATA serial or its
  // instance path; 255 when none. With the driver key of the port's USB
  // device, a drive whose storage interface names another USB device is
  // passed over, so bridges that share a serial each get their own port's
  // drive; the serial must still match.
  std::uint8_t MatchDrive(const std::string& serial, std::uint32_t kind, const std::string& usb_driver_key = {});
  // True when `drive`, drive `number` of `kind`, is the bridge whose USB
  // serial number is `serial`, by the same marks the matcher goes by (and,
  // with a driver key, hangs on no other USB device than that one).
  bool DriveShowsSerial(platform::DeviceHandle* drive, std::uint32_t kind, std::uint32_t number,
                        const std::string& serial, const std::string& usb_driver_key = {});

  platform::DeviceServices& Services() { return services_; }
  const Options& GetOptions() const { return options_; }

 private:
  void WalkHub(platform::UsbHub& hub, int port_count, int depth, int controller, const std::string& hub_path);
  void AddRecord(const std::string& path, const std::string& hub_path, bool cdrom);
  bool HeldByRecord(std::uint32_t kind, std::uint32_t number) const;
  // The serial text of a bridge drive: configuration slot 0's, or the disk's
  // ATA serial when the slot holds none; upper case.
  std::string ConfigSerialText(platform::DeviceHandle* drive);
  // The drive number behind a storage interface of a USB or SCSI bus.
  std::optional<std::uint32_t> NumberOfInterface(const std::string& path);

  platform::DeviceServices services_;
  Options options_;
  DeviceTable* table_ = nullptr;
  // Working state of one walk.
  std::uint8_t device_count_ = 0;
  bool refresh_ = false;
  std::int32_t location_ = -1;
  DescriptorTexts texts_;
  std::string connection_driver_key_;
  std::string root_hub_path_;
  std::uint32_t current_port_ = 0;
};

}  // namespace linetool::device
