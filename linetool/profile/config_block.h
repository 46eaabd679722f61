#pragma once
// The 128-byte bridge configuration block: identifiers, strings, serial number
// and option bits, kept in the bridge's configuration slots. Signature 0x5A at
// byte 126 and an 8-bit sum of bytes 4..126 at byte 127. Two layouts exist,
// chosen by the configuration type (0 or 1). Text fields hold the characters
// without terminator; the bytes after a text stay 0xFF. Numbers are little-endian.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "linetool/profile/profile_settings.h"

namespace linetool::profile {

inline constexpr std::size_t kConfigBlockSize = 128;
inline constexpr std::size_t kConfigSignatureOffset = 0x7E;
inline constexpr std::size_t kConfigChecksumOffset = 0x7F;
inline constexpr std::uint8_t kConfigSignature = 0x5A;
inline constexpr std::size_t kConfigSumFirst = 0x04;  // the checksum adds bytes 0x04..0x7E

using ConfigBlock = std::array<std::uint8_t, kConfigBlockSize>;

// Where the fields of one configuration type lie in the block.
struct ConfigLayout {
  std::size_t serial_offset;
  std::size_t serial_size;
  std::size_t manufacturer_offset;
  std::size_t manufacturer_size;
  std::size_t product_offset;
  std::size_t product_size;
  std::size_t vendor_id_offset;   // 2 bytes each, little-endian
  std::size_t product_id_offset;
  std::size_t revision_offset;
};

inline constexpr ConfigLayout kConfigLayoutType0{0x04, 20, 0x18, 28, 0x34, 28, 0x50, 0x52, 0x54};
inline constexpr ConfigLayout kConfigLayoutType1{0x04, 20, 0x18, 44, 0x44, 48, 0x74, 0x76, 0x78};
inline constexpr std::size_t kConfigStandbyOffset = 0x7A;  // type 1 only
inline constexpr std::size_t kConfigOptionOffset = 0x7D;   // type 1 only

// The layout of a configuration type; nothing for a type other than 0 and 1.
std::optional<ConfigLayout> LayoutOf(int config_type);

// The length limits that the profile validation applies for a configuration
// type. For a type other than 0 and 1 the identifier and string limits are 0.
struct ConfigLimits {
  std::size_t vendor_id_length = 0;
  std::size_t product_id_length = 0;
  std::size_t revision_length = 0;
  std::size_t serial_length = 0;
  std::size_t manufacturer_length = 0;
  std::size_t product_length = 0;
  std::size_t label_length = 0;  // 11 for FAT32, 32 for NTFS
};

ConfigLimits LimitsFor(int config_type, std::uint8_t format_drive_type);

// The texts a block is composed from (the settings panel's edits, which mirror
// ProfileSettings).
struct ConfigTexts {
  std::string vendor_id;
  std::string product_id;
  std::string device_revision;
  std::string serial_number;
  std::string manufacturer_string;
  std::string product_string;

  static ConfigTexts From(const ProfileSettings& settings);
};

// Low 8 bits of the sum of bytes 0x04..0x7E.
std::uint8_t ConfigChecksum(const ConfigBlock& block);

// True when the block carries the signature and a matching checksum.
bool ConfigBlockIsValid(const ConfigBlock& block);

// Type 1 standby byte: 0xF0 + n for a standby timer n of 1..11, else 0xFF; bit
// 0x10 cleared by Win8WTG and bit 0x20 by HDDPC.
std::uint8_t StandbyByte(const ProfileSettings& options);

// Type 1 option byte: 0xFF with one bit cleared per option that is on.
std::uint8_t OptionByte(const ProfileSettings& options);

// Reads a hexadecimal number the way the identifier edits are read: leading
// blanks, an optional "0x", then hexadecimal digits up to the first other
// character. Nothing when no digit follows.
std::optional<std::uint32_t> ParseHexNumber(std::string_view text);

// Composes the block of a configuration type 0 or 1 from the texts, the serial
// number to store and the option fields. Every byte not composed stays 0xFF.
// A text longer than its field is cut to the field.
ConfigBlock ComposeConfigBlock(int config_type, const ConfigTexts& texts,
                               std::string_view serial_number, const ProfileSettings& options);

}  // namespace linetool::profile
