#pragma once
// The job settings record of the production station: every setting of a run,
// read from and written to the INI profile. Flags and small numbers are 8-bit;
// texts are 255-byte NUL-terminated single-byte strings (at most 254 characters).

#include <array>
#include <cstdint>
#include <string_view>

namespace linetool::profile {

inline constexpr std::size_t kProfileTextSize = 255;
inline constexpr std::size_t kProfileTextMax = kProfileTextSize - 1;  // characters a field holds
using ProfileText = std::array<char, kProfileTextSize>;

// The characters of a text field up to its terminator.
inline std::string_view TextOf(const ProfileText& field) {
  std::size_t n = 0;
  while (n < kProfileTextMax && field[n] != '\0') ++n;
  return {field.data(), n};
}

// Stores `value` in a text field, cut to kProfileTextMax characters, and fills
// the rest with NUL.
inline void SetText(ProfileText& field, std::string_view value) {
  field.fill('\0');
  value = value.substr(0, kProfileTextMax);
  for (std::size_t i = 0; i < value.size(); ++i) field[i] = value[i];
}

struct ProfileSettings {
  std::uint8_t format_enable;
  std::uint8_t format_drive_type;  // 0 = NTFS, any other value = FAT32
  ProfileText drive_label_name;
  std::uint8_t wr_test_enable;
  ProfileText wr_test_binary_name;
  std::uint8_t wr_test_count;
  std::uint8_t auto_mp;
  std::uint8_t preload_enable;
  ProfileText preload_folder_path;
  std::uint8_t fw_enable;
  ProfileText fw_binary_name;
  std::uint8_t fw_reload;
  std::uint8_t config_enable;
  std::uint8_t config_format;  // configuration type 0 or 1
  ProfileText vendor_id;
  ProfileText product_id;
  ProfileText device_revision;
  ProfileText manufacturer_string;
  ProfileText product_string;
  ProfileText serial_number;
  std::uint8_t serial_number_increase;
  std::uint8_t standby_timer;  // 0..11
  std::uint8_t customized_string;
  std::uint8_t eup_enable;
  std::uint8_t two_leds;
  std::uint8_t hdd_standby;
  std::uint8_t U1U2;
  std::uint8_t low_power_mode;
  std::uint8_t two_tb;  // INI key "2TB"
  std::uint8_t slow_enumeration;
  std::uint8_t Win8WTG;
  std::uint8_t HDDPC;
  std::uint8_t image0;
  std::uint8_t image1;
  std::uint8_t crc32;
  std::uint8_t cd_rom_mode;

  bool operator==(const ProfileSettings&) const = default;
};

}  // namespace linetool::profile
