#pragma once
// Serial numbers of a line: every unit of every station that shares a
// records store takes its serial number from one counter per product, so no
// two units of the line get the same one.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "linetool/records/records_store.h"

namespace linetool::records {

// The characters of a serial number before the seven the station counts in.
inline constexpr std::size_t kCountedSerialDigits = 7;

// The product a serial number belongs to: vendor and product identifiers and
// the serial number's leading characters.
ProductKey ProductOf(std::string_view vid, std::string_view pid, std::string_view serial);

// Takes `count` serial numbers for the ports of one run, in port order. The
// panel's serial starts the product's counter when the line has none yet.
// Nothing when the store could not take them (its Error() says why).
std::optional<std::vector<std::string>> TakeLineSerials(RecordsStore& store, std::string_view vid,
                                                        std::string_view pid, std::string_view panel_serial,
                                                        int count);

// The next serial number the line would hand out for the panel's product:
// the panel's own serial while the product has no counter. Nothing when the
// store cannot be read.
std::optional<std::string> NextLineSerial(RecordsStore& store, std::string_view vid, std::string_view pid,
                                          std::string_view panel_serial);

}  // namespace linetool::records
