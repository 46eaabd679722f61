#pragma once
// How the window names chip types and capacities.

#include <cstdint>
#include <string>
#include <string_view>

#include "romwright/link/chip_record.h"

namespace romwright::app {

// "SPI FLASH", "24 EEPROM", "25 EEPROM", "93 EEPROM"; any other type "UNKNOWN".
std::string_view TypeName(std::uint32_t type);
// A type-list text back to its type 0-3; any other text gives 4 (every type).
std::uint32_t TypeFromName(std::string_view name);

// The capacity column of the chip search list: "1024KB", "512B",
// "1K x16bit", "128 x8bit", ...
std::string SearchCapacityText(const ChipRecord& chip);

// The capacity text of the main window's chip panel, each line ending in
// "\r\n\r\n": "1MB", "4KB", "2K x8bit", "1K x16bit" followed by
// `byte_order_note` (the window's "(High 8 bits first, low 8 bits followed)"
// in its language) for 93-series x16 parts.
std::string PanelCapacityText(const ChipRecord& chip, std::string_view byte_order_note);

}  // namespace romwright::app
