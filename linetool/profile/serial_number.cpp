#include "linetool/profile/serial_number.h"

#include <cctype>
#include <cstdio>

#include "linetool/profile/config_block.h"

namespace linetool::profile {

namespace {

bool IsUpperHex(std::string_view s) {
  for (const char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

std::string UpperHex(unsigned long long v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llX", v);
  return buf;
}

}  // namespace

std::string IncreaseSerialNumber(std::string_view base, int slot) {
  if (base.empty()) return std::string(base);
  const auto k = static_cast<unsigned>(slot < 0 ? 0 : slot);
  if (IsUpperHex(base)) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string r(base);
    unsigned carry = 0;
    for (std::size_t i = r.size(); i-- > 0;) {
      unsigned d = static_cast<unsigned>(r[i] <= '9' ? r[i] - '0' : r[i] - 'A' + 10);
      if (i + 1 == r.size()) d += k;
      d += carry;
      r[i] = kDigits[d % 16];
      carry = d / 16;
    }
    return r;
  }
  const std::size_t tail = base.size() < 7 ? 0 : base.size() - 7;
  const auto value = ParseHexNumber(base.substr(tail)).value_or(0);
  const std::string sum = UpperHex(static_cast<unsigned long long>(value) + k);
  if (base.size() < 8) return sum;
  return std::string(base.substr(0, base.size() - 7)) + sum;
}

}  // namespace linetool::profile
