#include "linetool/profile/firmware_image.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>

#include "linetool/profile/config_block.h"
#include "platform/path_access.h"

namespace linetool::profile {

namespace {

struct TypeByteRow {
  std::string_view chip_code;
  std::uint8_t plain;
  std::uint8_t with_crc;
};

constexpr std::array<TypeByteRow, 8> kTypeBytes = {{
    {"00", 0x5A, 0xA5},
    {"001_B0", 0x5A, 0xA5},
    {"001", 0x4B, 0xB4},
    {"010", 0x3C, 0xBC},
    {"011", 0x2D, 0xD2},
    {"101", 0x1E, 0xE1},
    {"110", 0x0F, 0xF0},
    {"111", 0x69, 0x96},
}};

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::optional<std::uint8_t> ImageTypeByte(std::string_view chip_code, bool with_crc) {
  for (const auto& row : kTypeBytes) {
    if (row.chip_code == chip_code) return with_crc ? row.with_crc : row.plain;
  }
  return std::nullopt;
}

std::uint32_t Crc32(std::span<const std::uint8_t> data) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes the length as uInt; feed large buffers in pieces.
  while (!data.empty()) {
    const std::size_t piece = std::min<std::size_t>(data.size(), 1u << 30);
    crc = crc32(crc, data.data(), static_cast<uInt>(piece));
    data = data.subspan(piece);
  }
  return static_cast<std::uint32_t>(crc);
}

std::uint8_t ByteSum(std::span<const std::uint8_t> data) {
  unsigned sum = 0;
  for (const auto b : data) sum += b;
  return static_cast<std::uint8_t>(sum & 0xFF);
}

std::vector<std::uint8_t> ComposeImage(std::span<const std::uint8_t> firmware, std::uint8_t type_byte,
                                       std::optional<std::uint32_t> crc) {
  std::vector<std::uint8_t> out;
  out.reserve(firmware.size() + 8);
  out.push_back(static_cast<std::uint8_t>(firmware.size() & 0xFF));
  out.push_back(static_cast<std::uint8_t>((firmware.size() >> 8) & 0xFF));
  out.insert(out.end(), firmware.begin(), firmware.end());
  out.push_back(type_byte);
  out.push_back(ByteSum(firmware));
  if (crc) PutLe32(out, *crc);
  return out;
}

std::optional<ParsedImage> ParseImage(std::span<const std::uint8_t> image) {
  if (image.size() < 4) return std::nullopt;
  const std::size_t n = image[0] | (static_cast<std::size_t>(image[1]) << 8);
  const std::size_t rest = image.size() - 2;
  if (rest != n + 2 && rest != n + 6) return std::nullopt;
  ParsedImage p;
  p.firmware.assign(image.begin() + 2, image.begin() + 2 + static_cast<std::ptrdiff_t>(n));
  p.type_byte = image[2 + n];
  p.sum = image[3 + n];
  if (rest == n + 6) {
    std::uint32_t c = 0;
    for (int i = 3; i >= 0; --i) c = (c << 8) | image[4 + n + static_cast<std::size_t>(i)];
    p.crc = c;
  }
  return p;
}

bool FirmwareNameAccepted(std::string_view firmware_path, const ProfileSettings& o) {
  const bool any_option = o.customized_string || o.eup_enable || o.two_leds || o.hdd_standby || o.U1U2 ||
                          o.two_tb || o.slow_enumeration || o.HDDPC;
  if (!any_option) return true;
  std::string n(platform::FileNameOf(firmware_path).substr(0, 15));
  std::erase(n, '_');
  auto part = [&](std::size_t pos, std::size_t len) -> std::string_view {
    return pos < n.size() ? std::string_view(n).substr(pos, len) : std::string_view{};
  };
  const auto date = ParseHexNumber(part(0, 6)).value_or(0);
  const auto code = ParseHexNumber(part(6, 2)).value_or(0);
  const std::string_view tail = part(8, 4);
  const bool zeros = tail.size() == 4 && std::all_of(tail.begin(), tail.end(), [](char c) { return c == '0'; });
  return date >= 0x120416 && (code & 0x10) != 0 && zeros;
}

std::string FirmwareBaseName(std::string_view firmware_path) {
  std::string_view name = platform::FileNameOf(firmware_path);
  const auto dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name);
}

}  // namespace linetool::profile
