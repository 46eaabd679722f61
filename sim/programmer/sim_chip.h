#pragma once
// A chip in the simulated programmer's socket, made from a chip database record.
// SPI flash erases to 0xFF and programs by clearing bits; EEPROMs overwrite.
// Addresses wrap at the capacity, as the chips' address counters do.

#include <cstdint>
#include <span>
#include <vector>

#include "romwright/link/chip_record.h"

namespace sim::programmer {

class SimChip {
 public:
  explicit SimChip(const romwright::ChipRecord& record);

  const romwright::ChipRecord& Record() const { return record_; }
  // The protocol's type code of this chip's bus (1 SPI flash, 2 24-series,
  // 3 25-series, 4 93-series).
  std::uint8_t TypeCode() const;
  bool IsSpiFlash() const { return TypeCode() == 1; }

  std::uint8_t ReadByte(std::uint32_t address) const;
  void Program(std::uint32_t address, std::span<const std::uint8_t> data);
  void EraseAll();

  std::vector<std::uint8_t>& Contents() { return contents_; }
  const std::vector<std::uint8_t>& Contents() const { return contents_; }

 private:
  romwright::ChipRecord record_;
  std::vector<std::uint8_t> contents_;
};

}  // namespace sim::programmer
