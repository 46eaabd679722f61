// The composed firmware image: any firmware composes to an image that reads
// back to it, and an image read from any bytes composes to the same bytes;
// the firmware file name checks take any name.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "linetool/profile/firmware_image.h"
#include "linetool/profile/profile_settings.h"
#include "tools/fuzz/fuzz_input.h"

using namespace linetool::profile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  {
    const auto firmware = bytes.first(std::min(size, kMaxFirmwareSize));
    const std::uint8_t type = size > 0 ? data[0] : 0;
    const auto crc = size % 2 ? std::optional<std::uint32_t>(Crc32(firmware)) : std::nullopt;
    const auto image = ParseImage(ComposeImage(firmware, type, crc));
    fuzz::Check(image && std::equal(image->firmware.begin(), image->firmware.end(), firmware.begin(),
                                    firmware.end()) &&
                    image->type_byte == type && image->sum == ByteSum(firmware) && image->crc == crc,
                "a composed image does not read back to its firmware");
  }
  if (const auto image = ParseImage(bytes)) {
    fuzz::Check(image->firmware.size() <= kMaxFirmwareSize, "a parsed image holds more firmware than its length field");
    const auto again = ComposeImage(image->firmware, image->type_byte, image->crc);
    // The sum byte is not recomputed by the parser; compose writes the true one.
    auto expected = std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    expected[2 + image->firmware.size() + 1] = ByteSum(image->firmware);
    fuzz::Check(again == expected, "a parsed image does not compose to its own bytes");
  }

  // The same bytes as a firmware path and the option flags of a profile.
  fuzz::FuzzInput in(data, size);
  ProfileSettings options{};
  options.customized_string = in.Byte();
  options.eup_enable = in.Byte();
  options.two_leds = in.Byte();
  options.hdd_standby = in.Byte();
  options.U1U2 = in.Byte();
  options.two_tb = in.Byte();
  const std::string path(in.Rest());
  (void)FirmwareNameAccepted(path, options);
  const std::string base = FirmwareBaseName(path);
  fuzz::Check(base.size() <= path.size(), "a base name longer than its path");
  for (const char* code : {"00", "001", "001_B0", "010", "011", "101", "110", "111"}) {
    fuzz::Check(ImageTypeByte(code, false).has_value() && ImageTypeByte(code, true).has_value(),
                "a known chip variant without an image type");
  }
  (void)ImageTypeByte(path, false);
  return 0;
}
