#pragma once
// The readable chip list from which the chip database file is built: a CSV
// text, one chip per line, in database order. Lines that are empty or start
// with "#" are skipped, as is the header line (it starts with "name,"), so a
// chip whose name starts with "#" or is "name" is written quoted.
//
// Columns: name, manufacturer, type ("SPI FLASH", "24 EEPROM", "25 EEPROM",
// "93 EEPROM"), capacity (bytes), page_write (0/1), page_size (bytes),
// manufacturer_id, device_id, mode, voltage (tenths of a volt; above 40 the
// programmer supplies 5 V), address_bits, organisation (8 for x8, 16 for
// x16; 93-series only), notes (free text, not stored). Numbers are decimal or
// "0x" hexadecimal; a field holding a comma, a double quote (doubled inside)
// or a line break is wrapped in double quotes.

#include <string>
#include <string_view>
#include <vector>

#include "romwright/link/chip_record.h"

namespace romwright::app {

inline constexpr std::string_view kChipListHeader =
    "name,manufacturer,type,capacity,page_write,page_size,manufacturer_id,device_id,mode,voltage,"
    "address_bits,organisation,notes";

struct ChipListResult {
  std::vector<ChipRecord> chips;
  std::vector<std::string> errors;  // "line N: what is wrong"
};

// Reads a chip list. Every line with a fault gives one error and no record.
ChipListResult ParseChipList(std::string_view text);

// Writes records as a chip list (header line included) that ParseChipList
// reads back to the same records.
std::string FormatChipList(const std::vector<ChipRecord>& chips);

// What makes a list unfit for the programmer: no chips at all, more records
// than the database holds, a name used twice, a type outside 0-3, a capacity
// of 0 or beyond the 16 MiB data buffer, a page size of 0 or one that does not
// divide the capacity, a 93-series part without address bits. One text per
// problem.
std::vector<std::string> CheckChipList(const std::vector<ChipRecord>& chips);

}  // namespace romwright::app
