#pragma once
// The composed firmware image that the station streams into a bridge's serial
// flash, and the checks on a firmware file's name.
//
// Composed image ("TempBinData.bin"):
//   0      2  n, the firmware length, little-endian
//   2      n  the firmware bytes
//   2+n    1  image type byte (by chip variant and CRC option)
//   3+n    1  low 8 bits of the sum of the firmware bytes
//   4+n    4  with the CRC option only: CRC-32 (IEEE 802.3), little-endian

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "linetool/profile/profile_settings.h"

namespace linetool::profile {

// The largest firmware the 2-byte length can describe.
inline constexpr std::size_t kMaxFirmwareSize = 0xFFFF;
// The largest composed image: length, firmware, type byte, sum and CRC-32.
inline constexpr std::size_t kMaxImageSize = 2 + kMaxFirmwareSize + 2 + 4;

// The image type byte of a chip variant ("00", "001", "001_B0", "010", "011",
// "101", "110", "111"), with or without the CRC option. Nothing for an unknown
// variant.
std::optional<std::uint8_t> ImageTypeByte(std::string_view chip_code, bool with_crc);

// CRC-32 of IEEE 802.3 (reflected 0xEDB88320, start 0xFFFFFFFF, final complement).
std::uint32_t Crc32(std::span<const std::uint8_t> data);

// Low 8 bits of the sum of the bytes.
std::uint8_t ByteSum(std::span<const std::uint8_t> data);

// Builds the composed image. `crc` is appended when given. The caller keeps the
// firmware within kMaxFirmwareSize.
std::vector<std::uint8_t> ComposeImage(std::span<const std::uint8_t> firmware, std::uint8_t type_byte,
                                       std::optional<std::uint32_t> crc);

// The pieces of a composed image, read back. Nothing when the data is too short
// for its length field or has bytes left over.
struct ParsedImage {
  std::vector<std::uint8_t> firmware;
  std::uint8_t type_byte = 0;
  std::uint8_t sum = 0;
  std::optional<std::uint32_t> crc;
};
std::optional<ParsedImage> ParseImage(std::span<const std::uint8_t> image);

// The firmware name check before a configuration update: with any of the
// options customized string, EUP, two LEDs, HDD standby, U1U2, 2TB, slow
// enumeration or HDDPC on, the firmware file name (at most 15 characters after
// the last backslash, "_" removed) must start with a date code of at least
// 0x120416, then a two-digit code with bit 0x10 set, then "0000".
bool FirmwareNameAccepted(std::string_view firmware_path, const ProfileSettings& options);

// The file name of a station path without folder and without extension (the
// text between the last backslash and the last dot).
std::string FirmwareBaseName(std::string_view firmware_path);

}  // namespace linetool::profile
