#pragma once
// The job settings record of the production station: every setting of a run,
// read from and written to the INI profile. Flags and small numbers are 8-bit;
// texts are 255-byte NUL-terminated single-byte strings (at most 254 characters).

#include <array>
#include <cstdint>

namespace linetool::profile {

inline constexpr std::size_t kProfileTextSize = 255;
using ProfileText = std::array<char, kProfileTextSize>;

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
};

}  // namespace linetool::profile
