#pragma once
// The five bytes every chip command carries, derived from the selected chip.

#include <cstdint>

#include "romwright/link/chip_record.h"

namespace romwright::link {

struct ChipParams {
  std::uint8_t type_code = 0;  // 1 SPI flash, 2 24-series, 3 25-series, 4 93-series
  std::uint8_t cfg0 = 0;       // bus and addressing
  std::uint8_t cfg1 = 0;       // organisation of 93-series parts
  std::uint8_t cfg2 = 0;       // 1 for a supply byte above 40
  std::uint8_t cfg3 = 0;       // never set

  bool operator==(const ChipParams&) const = default;
};

// Derives the parameters of `record` into `params`. Fields a chip type does not
// use keep the value of the previous chip. Returns false, leaving `params` as
// it was, for an unknown type.
bool DeriveChipParams(const ChipRecord& record, ChipParams& params);

}  // namespace romwright::link
