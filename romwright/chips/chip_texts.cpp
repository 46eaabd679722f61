#include "romwright/chips/chip_texts.h"

#include <array>

namespace romwright::app {

namespace {

constexpr std::array<std::string_view, 4> kTypeNames = {"SPI FLASH", "24 EEPROM", "25 EEPROM",
                                                        "93 EEPROM"};

bool IsX8Eeprom93(const ChipRecord& c) {
  return c.type == static_cast<std::uint32_t>(ChipType::kEeprom93) && c.organisation == 8;
}
bool IsX16Eeprom93(const ChipRecord& c) {
  return c.type == static_cast<std::uint32_t>(ChipType::kEeprom93) && c.organisation != 8;
}

std::string Num(std::uint32_t v) { return std::to_string(v); }

}  // namespace

std::string_view TypeName(std::uint32_t type) {
  return type < kTypeNames.size() ? kTypeNames[type] : std::string_view("UNKNOWN");
}

std::uint32_t TypeFromName(std::string_view name) {
  for (std::uint32_t t = 0; t < kTypeNames.size(); ++t) {
    if (kTypeNames[t] == name) return t;
  }
  return 4;
}

std::string SearchCapacityText(const ChipRecord& c) {
  const std::uint32_t cap = c.capacity;
  if (IsX8Eeprom93(c)) return cap > 1023 ? Num(cap / 1024) + "K x8bit" : Num(cap) + " x8bit";
  if (IsX16Eeprom93(c)) return cap > 2047 ? Num(cap / 2048) + "K x16bit" : Num(cap / 2) + " x16bit";
  return cap > 1023 ? Num(cap / 1024) + "KB" : Num(cap) + "B";
}

std::string PanelCapacityText(const ChipRecord& c, std::string_view byte_order_note) {
  constexpr std::string_view kGap = "\r\n\r\n";
  const std::uint32_t cap = c.capacity;
  std::string text;
  if (IsX8Eeprom93(c)) {
    text = cap >= 1048576 ? Num(cap / 1048576) + "M x8bit"
           : cap >= 1024  ? Num(cap / 1024) + "K x8bit"
                          : Num(cap) + " x8bit";
    return text + std::string(kGap);
  }
  if (IsX16Eeprom93(c)) {
    text = cap >= 2097152 ? Num(cap / 2097152) + "M x16bit"
           : cap >= 2048  ? Num(cap / 2048) + "K x16bit"
                          : Num(cap / 2) + " x16bit";
    return text + std::string(kGap) + std::string(byte_order_note) + std::string(kGap);
  }
  text = cap >= 1048576 ? Num(cap / 1048576) + "MB" : cap >= 1024 ? Num(cap / 1024) + "KB" : Num(cap) + "B";
  return text + std::string(kGap);
}

}  // namespace romwright::app
