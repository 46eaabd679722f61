#pragma once
// The INI profile's text: four section headers ("[usb_func]", "[usb_fw]",
// "[usb_config]", "[usb_mode]") and "key=value" lines. Sections do not scope
// keys; keys and headers are compared without regard to case; a value ends at
// its first "/" (the rest of the line is a comment).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "linetool/profile/profile_settings.h"

namespace linetool::profile {

// What reading a profile text found besides the values.
struct ProfileReadResult {
  // Non-empty lines read, recognised or not.
  int line_count = 0;
  // One line "<count> Line of Configuration String in INI file is invalid !\r\n"
  // per unrecognised line, <count> being the non-empty lines before it. Empty
  // when every line was recognised.
  std::string unrecognised;
  // The value of the last "config_format" line, when there was one.
  std::optional<std::uint8_t> config_format;
};

// Reads a profile text into `settings` (which the caller has cleared). Lines end
// with LF, with or without CR. Numbers are read as decimal (optional sign,
// leading digits) truncated to 8 bits; texts are cut to 254 characters, and
// blanks that the cut leaves at the end are dropped, as a reader drops them
// from a value it reads back.
// low_power_mode, image1, crc32 and Win8WTG are always set to 0 and image0 to 1,
// whatever their lines say.
ProfileReadResult ReadProfileText(std::string_view text, ProfileSettings& settings);

// The profile text of a record: each section's header and keys, CR LF line
// ends, one empty line after each of the first three sections.
std::string WriteProfileText(const ProfileSettings& settings);

// The number of non-empty lines that WriteProfileText produces: 4 headers and
// 36 keys. A file with more lines than this is not a profile.
inline constexpr int kProfileLineLimit = 40;

// The most of a file the station reads as a profile. A saved profile has
// fewer than 11,000 bytes (40 lines, values of at most 254 characters); this
// leaves room for comments and blank lines. A longer file is not a profile,
// and nothing beyond this is read.
inline constexpr std::size_t kProfileMaxBytes = 64 * 1024;

}  // namespace linetool::profile
