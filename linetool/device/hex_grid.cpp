#include "linetool/device/hex_grid.h"

namespace linetool::device {

std::string HexGridText(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kLine = 48;  // 47 blanks and a line feed
  std::string grid;
  for (int line = 0; line < 16; ++line) grid += std::string(47, ' ') + "\n";
  static const char kDigits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < bytes.size() && i < 256; ++i) {
    const std::size_t at = (i / 16) * kLine + 3 * (i % 16);
    grid[at] = kDigits[bytes[i] >> 4];
    grid[at + 1] = kDigits[bytes[i] & 0x0F];
  }
  return grid;
}

}  // namespace linetool::device
