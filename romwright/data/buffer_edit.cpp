#include "romwright/data/buffer_edit.h"

#include <algorithm>
#include <utility>

#include "romwright/data/data_buffer.h"

namespace romwright::app {

bool IsHexFieldChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

std::optional<std::uint32_t> ParseHexField(std::string_view text, std::size_t max_digits) {
  if (text.size() > max_digits) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (!IsHexFieldChar(c)) return std::nullopt;
    const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

EditResult BufferFill(DataBuffer& buffer, std::string_view address, std::string_view length,
                      std::string_view data) {
  const auto start = ParseHexField(address, 6);
  const auto count = ParseHexField(length, 6);
  const auto value = ParseHexField(data, 2);
  if (!start || !count || !value) return EditResult::kAddressFormatError;
  const std::uint32_t view = buffer.ViewLength();
  if (*start >= view) return EditResult::kStartAddressError;
  const std::uint32_t n = std::min(*count, view - *start);
  std::fill_n(buffer.Data() + *start, n, static_cast<std::uint8_t>(*value));
  buffer.MarkRange(*start, n);
  return EditResult::kDone;
}

void ByteSwap(DataBuffer& buffer) {
  std::uint8_t* d = buffer.Data();
  const std::uint32_t view = buffer.ViewLength();
  for (std::uint32_t i = 0; i < view; i += 2) {
    // The byte after an odd view length is still inside the buffer: a chip's
    // capacity never fills the buffer with an odd count.
    if (i + 1 < kDataBufferSize) std::swap(d[i], d[i + 1]);
  }
  buffer.ClearMarks(0, view);
}

LocationResult AddressLocation(std::string_view text, std::uint32_t view_length) {
  const auto address = text.empty() ? std::nullopt : ParseHexField(text, 6);
  if (!address) return {EditResult::kAddressFormatError, 0};
  if (*address >= view_length) return {EditResult::kStartAddressError, 0};
  return {EditResult::kDone, *address};
}

}  // namespace romwright::app
