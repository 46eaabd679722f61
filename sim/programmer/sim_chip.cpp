#include "sim/programmer/sim_chip.h"

#include <algorithm>

namespace sim::programmer {

SimChip::SimChip(const romwright::ChipRecord& record)
    : record_(record), contents_(record.capacity == 0 ? 1 : record.capacity, 0xFF) {}

std::uint8_t SimChip::TypeCode() const { return static_cast<std::uint8_t>(record_.type + 1); }

std::uint8_t SimChip::ReadByte(std::uint32_t address) const {
  return contents_[address % contents_.size()];
}

void SimChip::Program(std::uint32_t address, std::span<const std::uint8_t> data) {
  const std::size_t size = contents_.size();
  std::size_t at = address % size;
  for (std::uint8_t b : data) {
    if (IsSpiFlash()) {
      contents_[at] &= b;  // programming only clears bits
    } else {
      contents_[at] = b;
    }
    if (++at == size) at = 0;
  }
}

void SimChip::EraseAll() { std::fill(contents_.begin(), contents_.end(), std::uint8_t{0xFF}); }

}  // namespace sim::programmer
