#include "linetool/profile/config_block.h"

#include <cctype>

namespace linetool::profile {

std::optional<ConfigLayout> LayoutOf(int config_type) {
  if (config_type == 0) return kConfigLayoutType0;
  if (config_type == 1) return kConfigLayoutType1;
  return std::nullopt;
}

ConfigLimits LimitsFor(int config_type, std::uint8_t format_drive_type) {
  ConfigLimits l;
  l.label_length = format_drive_type != 0 ? 11 : 32;
  if (config_type == 0 || config_type == 1) {
    l.vendor_id_length = 4;
    l.product_id_length = 4;
    l.revision_length = 4;
    l.serial_length = 20;
    l.manufacturer_length = config_type == 0 ? 28 : 44;
    l.product_length = config_type == 0 ? 28 : 48;
  }
  return l;
}

ConfigTexts ConfigTexts::From(const ProfileSettings& s) {
  return ConfigTexts{std::string(TextOf(s.vendor_id)),           std::string(TextOf(s.product_id)),
                     std::string(TextOf(s.device_revision)),     std::string(TextOf(s.serial_number)),
                     std::string(TextOf(s.manufacturer_string)), std::string(TextOf(s.product_string))};
}

std::uint8_t ConfigChecksum(const ConfigBlock& block) {
  unsigned sum = 0;
  for (std::size_t i = kConfigSumFirst; i <= kConfigSignatureOffset; ++i) sum += block[i];
  return static_cast<std::uint8_t>(sum & 0xFF);
}

bool ConfigBlockIsValid(const ConfigBlock& block) {
  return block[kConfigSignatureOffset] == kConfigSignature &&
         block[kConfigChecksumOffset] == ConfigChecksum(block);
}

std::uint8_t StandbyByte(const ProfileSettings& o) {
  unsigned b = (o.standby_timer >= 1 && o.standby_timer <= 11) ? 0xF0u + o.standby_timer : 0xFFu;
  if (o.Win8WTG != 0) b &= ~0x10u;
  if (o.HDDPC != 0) b &= ~0x20u;
  return static_cast<std::uint8_t>(b);
}

std::uint8_t OptionByte(const ProfileSettings& o) {
  const std::uint8_t flags[8] = {o.customized_string, o.eup_enable, o.two_leds,         o.hdd_standby,
                                 o.U1U2,              o.low_power_mode, o.two_tb, o.slow_enumeration};
  unsigned b = 0xFF;
  for (unsigned bit = 0; bit < 8; ++bit) {
    if (flags[bit] != 0) b &= ~(1u << bit);
  }
  return static_cast<std::uint8_t>(b);
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size() && std::isspace(static_cast<unsigned char>(t[i]))) ++i;
  if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X') && i + 2 < t.size() &&
      std::isxdigit(static_cast<unsigned char>(t[i + 2]))) {
    i += 2;
  }
  std::uint32_t v = 0;
  bool any = false;
  for (; i < t.size() && std::isxdigit(static_cast<unsigned char>(t[i])); ++i) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(t[i])));
    v = v * 16 + static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'A' + 10);
    any = true;
  }
  if (!any) return std::nullopt;
  return v;
}

namespace {

void PutText(ConfigBlock& block, std::size_t offset, std::size_t size, std::string_view text) {
  text = text.substr(0, size);
  for (std::size_t i = 0; i < text.size(); ++i) block[offset + i] = static_cast<std::uint8_t>(text[i]);
}

void PutHex16(ConfigBlock& block, std::size_t offset, std::string_view text) {
  if (const auto v = ParseHexNumber(text)) {
    block[offset] = static_cast<std::uint8_t>(*v & 0xFF);
    block[offset + 1] = static_cast<std::uint8_t>((*v >> 8) & 0xFF);
  }
}

}  // namespace

ConfigBlock ComposeConfigBlock(int config_type, const ConfigTexts& texts, std::string_view serial_number,
                               const ProfileSettings& options) {
  ConfigBlock block;
  block.fill(0xFF);
  const auto layout = LayoutOf(config_type);
  if (!layout) return block;
  PutHex16(block, layout->vendor_id_offset, texts.vendor_id);
  PutHex16(block, layout->product_id_offset, texts.product_id);
  PutHex16(block, layout->revision_offset, texts.device_revision);
  PutText(block, layout->serial_offset, layout->serial_size, serial_number);
  PutText(block, layout->manufacturer_offset, layout->manufacturer_size, texts.manufacturer_string);
  PutText(block, layout->product_offset, layout->product_size, texts.product_string);
  if (config_type == 0) {
    block[0x56] = 0xFF;
    block[0x57] = 0x00;
    block[0x58] = 0x02;
    block[0x59] = 0xFF;
  } else {
    block[kConfigStandbyOffset] = StandbyByte(options);
    block[0x7B] = 0xFF;
    block[0x7C] = 0x02;
    block[kConfigOptionOffset] = OptionByte(options);
  }
  block[kConfigSignatureOffset] = kConfigSignature;
  block[kConfigChecksumOffset] = ConfigChecksum(block);
  return block;
}

}  // namespace linetool::profile
