#include "linetool/records/line_serials.h"

#include <limits>

#include "linetool/profile/serial_number.h"

namespace linetool::records {

ProductKey ProductOf(std::string_view vid, std::string_view pid, std::string_view serial) {
  const std::size_t keep = serial.size() > kCountedSerialDigits ? serial.size() - kCountedSerialDigits : 0;
  return ProductKey{std::string(vid), std::string(pid), std::string(serial.substr(0, keep))};
}

namespace {

// The station counts a serial number up by at most an int.
constexpr std::int64_t kLastAdvance = std::numeric_limits<int>::max();

std::string Advance(std::string_view base, std::int64_t n) {
  return profile::IncreaseSerialNumber(base, static_cast<int>(n));
}

}  // namespace

std::optional<std::vector<std::string>> TakeLineSerials(RecordsStore& store, std::string_view vid,
                                                        std::string_view pid, std::string_view panel_serial,
                                                        int count) {
  const auto counter = store.ReserveSerials(ProductOf(vid, pid, panel_serial), panel_serial, count);
  if (!counter || counter->next + count > kLastAdvance) return std::nullopt;
  std::vector<std::string> serials;
  for (int i = 0; i < count; ++i) serials.push_back(Advance(counter->base, counter->next + i));
  return serials;
}

std::optional<std::string> NextLineSerial(RecordsStore& store, std::string_view vid, std::string_view pid,
                                          std::string_view panel_serial) {
  const auto counter = store.PeekSerials(ProductOf(vid, pid, panel_serial));
  if (!counter) return std::nullopt;
  if (counter->base.empty()) return std::string(panel_serial);
  if (counter->next > kLastAdvance) return std::nullopt;
  return Advance(counter->base, counter->next);
}

}  // namespace linetool::records
