#include "linetool/profile/profile_format.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>

#include "linetool/profile/message_texts.h"

namespace linetool::profile {

namespace {

struct KeyDef {
  std::string_view name;
  std::uint8_t ProfileSettings::*number;  // null for a text key
  ProfileText ProfileSettings::*text;     // null for a numeric key
  int fixed;                              // -1, or the value the reader always stores
};

constexpr KeyDef Num(std::string_view name, std::uint8_t ProfileSettings::*field, int fixed = -1) {
  return KeyDef{name, field, nullptr, fixed};
}
constexpr KeyDef Text(std::string_view name, ProfileText ProfileSettings::*field) {
  return KeyDef{name, nullptr, field, -1};
}

struct Section {
  std::string_view header;
  std::size_t first;  // index into kKeys
  std::size_t count;
};

// Every key, in the order the writer puts them.
const std::array<KeyDef, 36> kKeys = {{
    // [usb_func]
    Num("format_enable", &ProfileSettings::format_enable),
    Num("format_drive_type", &ProfileSettings::format_drive_type),
    Text("drive_label_name", &ProfileSettings::drive_label_name),
    Num("wr_test_enable", &ProfileSettings::wr_test_enable),
    Text("wr_test_binary_name", &ProfileSettings::wr_test_binary_name),
    Num("wr_test_count", &ProfileSettings::wr_test_count),
    Num("auto_mp", &ProfileSettings::auto_mp),
    Num("preload_enable", &ProfileSettings::preload_enable),
    Text("preload_folder_path", &ProfileSettings::preload_folder_path),
    // [usb_fw]
    Num("fw_enable", &ProfileSettings::fw_enable),
    Text("fw_binary_name", &ProfileSettings::fw_binary_name),
    Num("fw_reload", &ProfileSettings::fw_reload),
    // [usb_config]
    Num("config_enable", &ProfileSettings::config_enable),
    Num("config_format", &ProfileSettings::config_format),
    Text("vendor_id", &ProfileSettings::vendor_id),
    Text("product_id", &ProfileSettings::product_id),
    Text("device_revision", &ProfileSettings::device_revision),
    Text("manufacturer_string", &ProfileSettings::manufacturer_string),
    Text("product_string", &ProfileSettings::product_string),
    Text("serial_number", &ProfileSettings::serial_number),
    Num("serial_number_increase", &ProfileSettings::serial_number_increase),
    Num("standby_timer", &ProfileSettings::standby_timer),
    Num("hdd_standby", &ProfileSettings::hdd_standby),
    Num("customized_string", &ProfileSettings::customized_string),
    Num("eup_enable", &ProfileSettings::eup_enable),
    Num("two_leds", &ProfileSettings::two_leds),
    Num("U1U2", &ProfileSettings::U1U2),
    Num("low_power_mode", &ProfileSettings::low_power_mode, 0),
    Num("2TB", &ProfileSettings::two_tb),
    Num("image0", &ProfileSettings::image0, 1),
    Num("image1", &ProfileSettings::image1, 0),
    Num("crc32", &ProfileSettings::crc32, 0),
    Num("slow_enumeration", &ProfileSettings::slow_enumeration),
    Num("Win8WTG", &ProfileSettings::Win8WTG, 0),
    Num("HDDPC", &ProfileSettings::HDDPC),
    // [usb_mode]
    Num("cd_rom_mode", &ProfileSettings::cd_rom_mode),
}};

constexpr std::array<Section, 4> kSections = {{
    {"[usb_func]", 0, 9},
    {"[usb_fw]", 9, 3},
    {"[usb_config]", 12, 23},
    {"[usb_mode]", 35, 1},
}};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Decimal value of an optional sign and the leading digits, truncated to 8 bits.
std::uint8_t DecimalByte(std::string_view v) {
  bool negative = false;
  std::size_t i = 0;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) {
    negative = v[i] == '-';
    ++i;
  }
  unsigned value = 0;
  for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) value = value * 10 + static_cast<unsigned>(v[i] - '0');
  if (negative) value = 0u - value;
  return static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

ProfileReadResult ReadProfileText(std::string_view text, ProfileSettings& settings) {
  ProfileReadResult result;
  while (!text.empty()) {
    const auto eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;

    std::string_view key = line;
    std::string_view value;
    if (const auto eq = line.find('='); eq != std::string_view::npos) {
      key = line.substr(0, eq);
      value = line.substr(eq + 1);
      // A text field ends at its first NUL, so the value does too: what
      // follows it would never be saved, and a blank before it would be saved
      // but not read back.
      value = value.substr(0, std::min(value.find('/'), value.find('\0')));
    }
    key = Trim(key);
    value = Trim(value);

    bool recognised = false;
    for (const auto& s : kSections) {
      if (EqualsNoCase(key, s.header)) recognised = true;
    }
    for (const auto& k : kKeys) {
      if (recognised || !EqualsNoCase(key, k.name)) continue;
      recognised = true;
      if (k.text != nullptr) {
        // Cut here rather than in SetText, so a blank before the cut goes as
        // well and the value reads back the same after a save.
        SetText(settings.*k.text, Trim(value.substr(0, kProfileTextMax)));
      } else if (k.fixed >= 0) {
        settings.*k.number = static_cast<std::uint8_t>(k.fixed);
      } else {
        settings.*k.number = DecimalByte(value);
        if (k.number == &ProfileSettings::config_format) result.config_format = settings.config_format;
      }
    }
    if (!recognised) {
      result.unrecognised += std::to_string(result.line_count);
      result.unrecognised += ' ';
      result.unrecognised += MessageText(MessageId::kInvalidIniLine);
      result.unrecognised += "\r\n";
    }
    ++result.line_count;
  }
  return result;
}

std::string WriteProfileText(const ProfileSettings& settings) {
  std::string out;
  for (std::size_t si = 0; si < kSections.size(); ++si) {
    const auto& s = kSections[si];
    out += s.header;
    out += "\r\n";
    for (std::size_t i = s.first; i < s.first + s.count; ++i) {
      const auto& k = kKeys[i];
      out += k.name;
      out += '=';
      if (k.text != nullptr) {
        out += TextOf(settings.*k.text);
      } else {
        out += std::to_string(static_cast<unsigned>(settings.*k.number));
      }
      out += "\r\n";
    }
    if (si + 1 < kSections.size()) out += "\r\n";
  }
  return out;
}

}  // namespace linetool::profile
