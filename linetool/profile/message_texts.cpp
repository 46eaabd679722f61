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
};

}  // namespace

std::string_view MessageText(MessageId id) {
  const auto i = static_cast<std::size_t>(id);
  return i < kTexts.size() ? kTexts[i] : kTexts[0];
}

}  // namespace linetool::profile
