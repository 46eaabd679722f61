#pragma once
// The register dialog's hex grid: 16 lines of 47 blanks, each ended by a line
// feed; byte i as two upper-case hex digits at line i / 16, column
// 3 x (i mod 16). At most 256 bytes are shown.

#include <cstdint>
#include <span>
#include <string>

namespace linetool::device {

inline constexpr const char* kHexGridColumnCaption = "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";

std::string HexGridText(std::span<const std::uint8_t> bytes);

}  // namespace linetool::device
