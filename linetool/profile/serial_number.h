#pragma once
// Serial numbers per port: every port of a run gets the base serial number plus
// its slot index.

#include <string>
#include <string_view>

namespace linetool::profile {

// The serial number of slot `slot` for the base serial number `base`.
// An upper-case hexadecimal base is counted up digit by digit in place (its
// length never changes; a carry out of the first digit is dropped). Any other
// base (lower-case letters included) keeps its leading characters and gets its
// last 7 characters, read as a hexadecimal number plus the slot, in upper-case
// hexadecimal without leading zeros. An empty base stays empty.
std::string IncreaseSerialNumber(std::string_view base, int slot);

}  // namespace linetool::profile
