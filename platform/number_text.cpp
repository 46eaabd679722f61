#include "platform/number_text.h"

#include <charconv>

namespace platform {

std::optional<std::uint64_t> ParseUnsigned(std::string_view text, int base, std::uint64_t max) {
  if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  // from_chars takes no sign for an unsigned type, but a leading "-" must not
  // even be looked at, nor blanks.
  if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

}  // namespace platform
