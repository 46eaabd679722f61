#include "linetool/profile/message_texts.h"

#include <array>

namespace linetool::profile {

namespace {

// In the order of MessageId.
constexpr std::array<std::string_view, static_cast<std::size_t>(MessageId::kCount)> kTexts = {
    "Unknown Error",
    "Invalid Config Type",
    "Invalid SN Size",
    "Invalid Manufacturer Size",
    "Invalid Product Size",
    "Invalid SN String",
    "Invalid DiskLabel Size",
    "File/Path Not Exist",
    "File/Path Not Read/Write",
    "Line of Configuration String in INI file is invalid !",
    "VID Format not valid",
    "PID Format not valid",
    "Device Revision Format not valid",
    "Serial Number Invalid, at least 12 digits",
    "please check dual image setting in more config or ini file",
    "R/W test file Error because the ini info is incorrect",
    "WrRdTest file size too large",
    "Error!!\nPlease check following setting:\n1. <<More Config>>\n2. <<Update FW>>\n3. <<Update Config>>\n4. FW path",
    "Chip and FW don't match. Port:",
    "FW file cannot be read",
    "FW file is empty",
    "FW file size too large, 65535 bytes at most",
    "FW image has no type byte for chip code",
    "CRC source file cannot be read",
    "FW image cannot be written into the Temp folder",
    "PASS",
    "FAIL",
    "Port#",
    "Status",
    "VID",
    "PID",
    "Serial Number",
    "FW Version",
    "Capacity",
    "Config Update",
    "FW Update",
    "ReLink",
    "Partition",
    "Format",
    "R/W Test",
    "Preload",
    "LineTool is already running.",
};

}  // namespace

std::string_view MessageText(MessageId id) {
  const auto i = static_cast<std::size_t>(id);
  return i < kTexts.size() ? kTexts[i] : kTexts[0];
}

}  // namespace linetool::profile
