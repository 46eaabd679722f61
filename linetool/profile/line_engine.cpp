#include "linetool/profile/line_engine.h"

#include <exception>

#include "linetool/profile/firmware_image.h"
#include "linetool/profile/profile_format.h"
#include "linetool/profile/serial_number.h"
#include "linetool/profile/station_files.h"

namespace linetool::profile {

namespace {

constexpr std::string_view kTempFolder = "Temp";
constexpr std::string_view kImageFileName = "TempBinData.bin";
constexpr std::string_view kBrowsedPathsName = "BrowsedBINPath.txt";

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string JoinHost(std::string_view folder, std::string_view name) {
  std::string r(folder);
  if (!r.empty() && r.back() != '/') r += '/';
  r += name;
  return r;
}

std::string_view AsChars(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

CLineEngine::CLineEngine(platform::MessageSink& sink, platform::PathAccess& access, std::string host_workdir)
    : sink_(sink), access_(access), workdir_(std::move(host_workdir)) {
  Reset();
}

void CLineEngine::Show(std::string text) { sink_.Show(std::move(text)); }

void CLineEngine::SetConfigType(int type) {
  config_type_ = type;
  limits_ = LimitsFor(type, settings_.format_drive_type);
}

void CLineEngine::Reset() {
  settings_ = ProfileSettings{};
  SetConfigType(1);
  for (auto& t : templates_) t.fill(0);
  active_block_.fill(0);
}

// --- Profile ------------------------------------------------------------------

bool CLineEngine::CheckPathAccess(const std::string& path, bool show_message) {
  const platform::PathState state = access_.Check(HostPath(path));
  if (state == platform::PathState::kReadWrite) return true;
  if (show_message) {
    Show(path + " " +
         std::string(Text(state == platform::PathState::kMissing ? MessageId::kFilePathNotExist
                                                                  : MessageId::kFilePathNotReadWrite)));
  }
  return false;
}

bool CLineEngine::LoadProfile(const std::string& path) {
  settings_ = ProfileSettings{};
  profile_path_ = path;
  if (!CheckPathAccess(path, true)) return false;
  const auto head = ReadFileHead(HostPath(path), kProfileMaxBytes);
  if (!head) {
    // A folder, or a file that vanished or failed while being read.
    settings_ = ProfileSettings{};
    Show(path + " " + std::string(Text(MessageId::kFilePathNotReadWrite)));
    return false;
  }
  std::string_view text = AsChars(head->bytes);
  // Of a file longer than a profile, only its whole lines within the limit are
  // read; the rest counts as one line that is not a profile's.
  if (head->more) text = text.substr(0, text.rfind('\n') + 1);
  ProfileReadResult read = ReadProfileText(text, settings_);
  if (head->more) {
    read.unrecognised += std::to_string(read.line_count) + " " + std::string(Text(MessageId::kInvalidIniLine)) + "\r\n";
  }
  if (read.config_format) SetConfigType(*read.config_format);
  if (!read.unrecognised.empty()) Show(read.unrecognised);
  const std::uint8_t code = ValidateProfile();
  return code == 0 && read.line_count <= kProfileLineLimit && !head->more;
}

std::uint8_t CLineEngine::ValidateProfile() {
  try {
    if (config_type_ != 0 && config_type_ != 1) {
      settings_ = ProfileSettings{};
      SetConfigType(config_type_);  // limits of an invalid type: all 0
      Show(MessageId::kInvalidConfigType);
      return 1;
    }
    SetConfigType(config_type_);  // the label limit follows format_drive_type

    std::uint8_t code = 0;
    const std::string_view serial = TextOf(settings_.serial_number);
    if (serial.size() > limits_.serial_length) {
      settings_.serial_number.fill('\0');
      Show(MessageId::kInvalidSnSize);
      code = 2;
    } else {
      for (const char c : serial) {
        if (!IsHexDigit(c)) {
          Show(MessageId::kInvalidSnString);
          settings_.serial_number.fill('\0');
          code = 4;
          break;
        }
      }
    }
    if (TextOf(settings_.manufacturer_string).size() > limits_.manufacturer_length) {
      settings_.manufacturer_string.fill('\0');
      Show(MessageId::kInvalidManufacturerSize);
      code = 2;
    }
    if (TextOf(settings_.product_string).size() > limits_.product_length) {
      settings_.product_string.fill('\0');
      Show(MessageId::kInvalidProductSize);
      code = 2;
    }
    if (TextOf(settings_.drive_label_name).size() > limits_.label_length) {
      settings_.drive_label_name.fill('\0');
      Show(MessageId::kInvalidDiskLabelSize);
      code = 5;
    }
    return code;
  } catch (const std::exception&) {
    Show(MessageId::kUnknownError);
    return 3;
  }
}

bool CLineEngine::SaveProfile(const std::string& path) {
  if (ValidateProfile() != 0) return false;
  const std::string host = HostPath(path);
  // An existing file that may not be written stays as it is; a new name is fine.
  if (access_.Check(host) == platform::PathState::kNoReadWrite) {
    Show(path + " " + std::string(Text(MessageId::kFilePathNotReadWrite)));
    return false;
  }
  switch (ReplaceFile(host, WriteProfileText(settings_))) {
    case WriteOutcome::kWritten:
      return true;
    case WriteOutcome::kFolderMissing:
      Show(path + " " + std::string(Text(MessageId::kFilePathNotExist)));
      return false;
    case WriteOutcome::kFailed:
      break;
  }
  Show(path + " " + std::string(Text(MessageId::kFilePathNotReadWrite)));
  return false;
}

// --- Configuration blocks -------------------------------------------------------

bool CLineEngine::ComposePortBlock(int slot, const ConfigTexts& texts, ConfigBlock& port_block) {
  if (slot < 0 || slot >= kPortCount) return false;
  return ComposeWithSerial(texts, settings_.serial_number_increase == 1
                                      ? IncreaseSerialNumber(texts.serial_number, slot)
                                      : texts.serial_number,
                           port_block);
}

bool CLineEngine::ComposeBlockWithSerial(const std::string& serial, ConfigBlock& port_block) {
  return ComposeWithSerial(ConfigTexts::From(settings_), serial, port_block);
}

std::string CLineEngine::PortSerial(int slot) const {
  const std::string base(TextOf(settings_.serial_number));
  return settings_.serial_number_increase == 1 ? IncreaseSerialNumber(base, slot) : base;
}

bool CLineEngine::ComposeWithSerial(const ConfigTexts& texts, const std::string& serial, ConfigBlock& port_block) {
  active_block_.fill(0xFF);
  for (auto& t : templates_) t.fill(0xFF);
  const bool valid_type = config_type_ == 0 || config_type_ == 1;
  if (valid_type) {
    ConfigBlock& tmpl = templates_[static_cast<std::size_t>(config_type_)];
    tmpl = ComposeConfigBlock(config_type_, texts, serial, settings_);
    active_block_ = tmpl;
  }
  SelectTemplate(false);
  port_block = active_block_;
  return valid_type;
}

void CLineEngine::SelectTemplate(bool clear) {
  if (clear || (config_type_ != 0 && config_type_ != 1)) {
    active_block_.fill(0);
    return;
  }
  active_block_ = templates_[static_cast<std::size_t>(config_type_)];
}

std::string CLineEngine::IncreaseSerialNumber(std::string_view base, int slot) const {
  return profile::IncreaseSerialNumber(base, slot);
}

bool CLineEngine::CheckFirmwareName() const { return FirmwareNameAccepted(firmware_path_, settings_); }

// --- Firmware image ---------------------------------------------------------------

bool CLineEngine::ComposeImageFile(bool with_crc, const std::string& crc_source) {
  image_status_ = ImageStatus::kOk;
  const std::string image_path = ImageFilePath();
  if (!EnsureFolder(TempFolder()) || !CreateEmptyFile(image_path)) {
    image_status_ = ImageStatus::kWriteFailed;
    return false;
  }
  // Never more than the 2-byte length can describe is read.
  const auto firmware = ReadFileHead(HostPath(firmware_path_), kMaxFirmwareSize);
  if (!firmware) {
    image_status_ = ImageStatus::kFirmwareUnreadable;
    return false;
  }
  if (firmware->more) {
    image_status_ = ImageStatus::kFirmwareTooLarge;
    return false;
  }
  if (firmware->bytes.empty()) {
    image_status_ = ImageStatus::kFirmwareEmpty;
    return false;
  }
  const auto type_byte = ImageTypeByte(chip_code_, with_crc);
  if (!type_byte) image_status_ = ImageStatus::kUnknownChipCode;

  std::optional<std::uint32_t> crc;
  if (with_crc) {
    const auto source = ReadFileHead(HostPath(crc_source), kMaxFirmwareSize);
    if (!source) {
      image_status_ = ImageStatus::kCrcSourceUnreadable;
      return false;
    }
    if (source->more) {
      image_status_ = ImageStatus::kFirmwareTooLarge;
      return false;
    }
    crc = Crc32(source->bytes);
  }
  const auto image = ComposeImage(firmware->bytes, type_byte.value_or(0), crc);
  if (!WriteFileBytes(image_path, AsChars(image))) {
    image_status_ = ImageStatus::kWriteFailed;
    return false;
  }
  return image_status_ == ImageStatus::kOk;
}

bool CLineEngine::BuildFlashImage(FlashImageKind kind, bool with_crc) {
  const std::string target = FlashImagePath(kind);
  if (!EnsureFolder(TempFolder()) || !CreateEmptyFile(target)) {
    image_status_ = ImageStatus::kWriteFailed;
    return false;
  }
  const std::string crc_source(TextOf(settings_.fw_binary_name));
  if (!ComposeImageFile(with_crc, crc_source)) return false;
  const auto image = ReadFileHead(ImageFilePath(), kMaxImageSize);
  if (!image || image->more) {
    image_status_ = ImageStatus::kWriteFailed;
    return false;
  }
  std::vector<std::uint8_t> out(kConfigBlockSize, 0xFF);
  if (kind == FlashImageKind::kConfig) out.assign(active_block_.begin(), active_block_.end());
  out.insert(out.end(), image->bytes.begin(), image->bytes.end());
  if (!WriteFileBytes(target, AsChars(out))) {
    image_status_ = ImageStatus::kWriteFailed;
    return false;
  }
  return true;
}

std::string CLineEngine::ImageFailureText() const {
  MessageId id = MessageId::kFwImageNotWritten;
  switch (image_status_) {
    case ImageStatus::kOk:
    case ImageStatus::kWriteFailed: break;
    case ImageStatus::kFirmwareUnreadable: id = MessageId::kFwFileUnreadable; break;
    case ImageStatus::kFirmwareEmpty: id = MessageId::kFwFileEmpty; break;
    case ImageStatus::kFirmwareTooLarge: id = MessageId::kFwFileTooLarge; break;
    case ImageStatus::kUnknownChipCode: id = MessageId::kFwChipCodeUnknown; break;
    case ImageStatus::kCrcSourceUnreadable: id = MessageId::kCrcSourceUnreadable; break;
  }
  std::string text = firmware_path_ + " " + std::string(Text(id));
  if (image_status_ == ImageStatus::kUnknownChipCode) text += " \"" + chip_code_ + "\"";
  return text;
}

bool CLineEngine::RememberFirmwarePaths(std::string_view text) {
  return ReplaceFile(BrowsedPathsFile(), text) == WriteOutcome::kWritten;
}

// --- Files and folders ----------------------------------------------------------------

std::string CLineEngine::HostPath(std::string_view station_path) const {
  return platform::ToHostPath(station_path, workdir_, drive_root_);
}

std::string CLineEngine::TempFolder() const { return JoinHost(workdir_, kTempFolder); }

std::string CLineEngine::ImageFilePath() const { return JoinHost(TempFolder(), kImageFileName); }

std::string CLineEngine::FlashImagePath(FlashImageKind kind) const {
  const std::string_view prefix = kind == FlashImageKind::kConfig ? "Config_" : "UnConfig_";
  return JoinHost(TempFolder(), std::string(prefix) + FirmwareBaseName(TextOf(settings_.fw_binary_name)) + ".bin");
}

std::string CLineEngine::BrowsedPathsFile() const { return JoinHost(workdir_, kBrowsedPathsName); }

}  // namespace linetool::profile
