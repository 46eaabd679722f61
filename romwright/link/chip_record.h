#pragma once
// One chip of the chip database, as the database file stores it and as the
// program keeps the selected chip. The transfer engine derives its per-chip
// protocol parameters from it; the simulated programmer builds its chip models
// from it.

#include <array>
#include <cstdint>

namespace romwright {

enum class ChipType : std::uint32_t {
  kSpiFlash = 0,    // "SPI FLASH"
  kEeprom24 = 1,    // "24 EEPROM"
  kEeprom25 = 2,    // "25 EEPROM"
  kEeprom93 = 3,    // "93 EEPROM"
};

struct ChipRecord {
  std::uint32_t type = 0;             // ChipType value
  std::array<char, 40> name{};        // NUL-terminated
  std::array<char, 20> manufacturer{};  // NUL-terminated
  std::uint8_t mode = 0;              // programming-mode byte (carried, not interpreted)
  std::uint8_t voltage = 0;           // supply byte; above 40 sets cfg2
  std::uint32_t capacity = 0;         // bytes
  std::uint32_t page_write = 0;       // non-zero when the page size applies
  std::uint16_t page_size = 0;        // bytes
  std::uint8_t manufacturer_id = 0;
  std::uint8_t device_id = 0;         // 0xFE: the special 24-series addressing
  std::uint8_t address_bits = 0;      // 93-series
  std::uint8_t organisation = 0;      // 93-series: 8 for x8, otherwise x16

  bool operator==(const ChipRecord&) const = default;
};

// Size of one record in the database file.
inline constexpr std::size_t kChipRecordFileSize = 108;

}  // namespace romwright
