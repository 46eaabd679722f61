#pragma once
// CLineEngine: the production station's engine object and its lowest layer. It
// owns the job settings (ProfileSettings), the configuration type and its
// limits, the message texts, the configuration-block buffers, the bridge
// variant of the run, the working directory and the locks that serialise work
// across ports. Device access and disk preparation do not take the engine: the
// application hands them what they need from it.

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "linetool/profile/config_block.h"
#include "linetool/profile/message_texts.h"
#include "linetool/profile/profile_settings.h"
#include "platform/message_sink.h"
#include "platform/path_access.h"

namespace linetool::profile {

// The station's flash image files: with the composed configuration block in
// front ("Config_") or with a block of 0xFF ("UnConfig_").
enum class FlashImageKind { kConfig, kUnConfig };

// Why the last image composition failed.
enum class ImageStatus {
  kOk,
  kFirmwareUnreadable,   // the firmware file is missing or could not be read whole
  kFirmwareEmpty,        // an image without firmware would erase the bridge's
  kFirmwareTooLarge,     // 65,536 bytes or more do not fit the 2-byte length
  kUnknownChipCode,      // no image type byte for the chip code (the image holds 0)
  kCrcSourceUnreadable,  // the CRC source file is missing or unreadable
  kWriteFailed,          // "Temp" or a file in it could not be written
};

class CLineEngine {
 public:
  static constexpr int kPortCount = 16;

  // `host_workdir` is the station's working directory as a host path; relative
  // station paths are taken against it.
  CLineEngine(platform::MessageSink& sink, platform::PathAccess& access, std::string host_workdir);
  CLineEngine(const CLineEngine&) = delete;
  CLineEngine& operator=(const CLineEngine&) = delete;

  // --- Settings -------------------------------------------------------------
  ProfileSettings& Settings() { return settings_; }
  const ProfileSettings& Settings() const { return settings_; }

  int ConfigType() const { return config_type_; }
  // Sets the configuration type and recomputes the limits.
  void SetConfigType(int type);
  const ConfigLimits& Limits() const { return limits_; }

  std::string_view Text(MessageId id) const { return MessageText(id); }

  // Clears the settings to zero, sets configuration type 1 with its limits and
  // clears the three block buffers to zero.
  void Reset();

  // --- Profile --------------------------------------------------------------
  // Reads a profile (station path). True when the file was read, holds no more
  // lines than a profile has and its settings are valid. The values read stay
  // in the settings either way (minus what validation cleared).
  bool LoadProfile(const std::string& path);
  // The profile the last LoadProfile read (station path); empty before.
  const std::string& ProfilePath() const { return profile_path_; }
  // Validates the settings and writes them to `path` (station path): the new
  // text goes to a temporary file beside it that then replaces the old file.
  // True only when the new file is in place.
  bool SaveProfile(const std::string& path);
  // 0 when the settings are valid, else the code of the last failed check:
  // 1 configuration type, 2 a length, 4 serial number characters, 5 label
  // length, 3 unexpected failure. One message box per failed check; a failed
  // field is cleared (an invalid configuration type clears the whole record).
  // The type checked is the engine's ConfigType(): a caller that changes
  // config_format in the record calls SetConfigType as well.
  std::uint8_t ValidateProfile();
  // True when the path (station notation) exists and can be read and written.
  // With `show_message`, a failure shows "<path> File/Path Not Exist" or
  // "<path> File/Path Not Read/Write".
  bool CheckPathAccess(const std::string& path, bool show_message);

  // --- Configuration blocks ---------------------------------------------------
  // Composes the block of port `slot` (0-15) from the texts and the option
  // fields of the settings, for the current configuration type, with the
  // serial number increased by the slot when serial_number_increase is 1. The
  // block goes to the template of the type, the active block and `port_block`.
  // For a type other than 0 and 1 the port gets 128 zero bytes and the result
  // is false; a slot outside 0-15 changes nothing and gives false.
  bool ComposePortBlock(int slot, const ConfigTexts& texts, ConfigBlock& port_block);
  bool ComposePortBlock(int slot, ConfigBlock& port_block) {
    return ComposePortBlock(slot, ConfigTexts::From(settings_), port_block);
  }
  // The same with the serial number the block is to carry, as it stands.
  bool ComposeBlockWithSerial(const std::string& serial, ConfigBlock& port_block);
  // The serial number the block of port `slot` carries.
  std::string PortSerial(int slot) const;
  // Copies the template of the current type into the active block; with
  // `clear`, or for a type other than 0 and 1, clears the active block to zero.
  void SelectTemplate(bool clear);
  const ConfigBlock& ActiveBlock() const { return active_block_; }
  const ConfigBlock& TemplateBlock(int type) const { return templates_[type == 0 ? 0 : 1]; }

  // The serial number of port `slot` for a base serial number.
  std::string IncreaseSerialNumber(std::string_view base, int slot) const;
  // The firmware name check before a configuration update, on the firmware
  // path of the run (FirmwarePath()) and the option fields.
  bool CheckFirmwareName() const;

  // --- Firmware image ---------------------------------------------------------
  // The bridge variant of the run ("00", "001", ...), read from a bridge.
  const std::string& ChipCode() const { return chip_code_; }
  void SetChipCode(std::string code) { chip_code_ = std::move(code); }
  // The firmware file of the run (station path), as the settings panel holds it.
  const std::string& FirmwarePath() const { return firmware_path_; }
  void SetFirmwarePath(std::string path) { firmware_path_ = std::move(path); }

  // Composes "Temp\TempBinData.bin" from the firmware file of the run and the
  // chip code; with `with_crc`, appends the CRC-32 of `crc_source` (station
  // path). False when the firmware or CRC source cannot be read, the firmware
  // is empty or has 65,536 bytes or more (nothing is written then), the chip
  // code is unknown (the image is written with type byte 0) or a write fails.
  bool ComposeImageFile(bool with_crc, const std::string& crc_source);
  // Composes the image (CRC source: fw_binary_name) and writes
  // "Temp\Config_<name>.bin" or "Temp\UnConfig_<name>.bin": 128 bytes of the
  // active block or of 0xFF, then the composed image.
  bool BuildFlashImage(FlashImageKind kind, bool with_crc);
  ImageStatus LastImageStatus() const { return image_status_; }
  // Why the last composition failed, for a message box: the firmware path, a
  // blank and the reason (with the chip code when that was unknown).
  std::string ImageFailureText() const;

  // Writes `text` (the firmware drop-down's entries, each ended by CR LF) as the
  // only content of "BrowsedBINPath.txt" in the working directory.
  bool RememberFirmwarePaths(std::string_view text);

  // --- Files and folders --------------------------------------------------------
  const std::string& WorkDir() const { return workdir_; }
  // The host folder under which the volumes of bridge disks appear, one folder
  // per drive letter ("E:\x" is <root>/E/x). Empty: below the working directory.
  const std::string& DriveRoot() const { return drive_root_; }
  void SetDriveRoot(std::string host_root) { drive_root_ = std::move(host_root); }
  // A station path as a host path (relative paths against the working
  // directory, drive letters below the drive root).
  std::string HostPath(std::string_view station_path) const;
  // Host paths of the files this engine writes.
  std::string TempFolder() const;
  std::string ImageFilePath() const;
  std::string FlashImagePath(FlashImageKind kind) const;
  std::string BrowsedPathsFile() const;

  // --- Locks across ports -----------------------------------------------------
  // Re-finding restarted bridges; ReloadCounter() is guarded by it.
  std::mutex& ReloadLock() { return reload_lock_; }
  int& ReloadCounter() { return reload_counter_; }
  std::mutex& PartitionLock() { return partition_lock_; }
  std::mutex& PreloadLock() { return preload_lock_; }

 private:
  void Show(std::string text);
  void Show(MessageId id) { Show(std::string(Text(id))); }
  bool ComposeWithSerial(const ConfigTexts& texts, const std::string& serial, ConfigBlock& port_block);

  platform::MessageSink& sink_;
  platform::PathAccess& access_;
  std::string workdir_;
  std::string drive_root_;

  ProfileSettings settings_{};
  int config_type_ = 1;
  ConfigLimits limits_{};

  std::array<ConfigBlock, 2> templates_{};
  ConfigBlock active_block_{};

  std::string chip_code_;
  std::string firmware_path_;
  std::string profile_path_;
  ImageStatus image_status_ = ImageStatus::kOk;

  std::mutex reload_lock_;
  int reload_counter_ = 0;
  std::mutex partition_lock_;
  std::mutex preload_lock_;
};

}  // namespace linetool::profile
