#pragma once
// The Edit menu's commands on the data buffer: Buffer Fill, Byte Swap and the
// field rules of the Buffer Fill and Address Location dialogs.

#include <cstdint>
#include <optional>
#include <string_view>

namespace romwright::app {

class DataBuffer;

// What a dialog's OK leads to; the non-zero values are the language entries
// of the message box the window shows.
enum class EditResult : std::uint32_t {
  kDone = 0xFFFFFFFF,
  kAddressFormatError = 21,  // "Address format error!"
  kStartAddressError = 22,   // "Start address error!"
};

// A hexadecimal dialog field of at most `max_digits` digits (either case);
// an empty field reads as 0. Nothing when the text is not such a number.
std::optional<std::uint32_t> ParseHexField(std::string_view text, std::size_t max_digits);

// True when `c` may be typed into a hexadecimal field (the Address Location
// field refuses anything else).
bool IsHexFieldChar(char c);

// Buffer Fill with the dialog's three texts (address and length up to six
// digits, data up to two): sets the bytes from the address, the count cut at
// the view length, to the data byte and marks them.
EditResult BufferFill(DataBuffer& buffer, std::string_view address, std::string_view length,
                      std::string_view data);

// Byte Swap: exchanges the bytes of every pair 0-1, 2-3, ... within the view
// length (an odd view length exchanges its last byte with the one after it)
// and clears the view length's change marks.
void ByteSwap(DataBuffer& buffer);

// Address Location: the address typed (one to six digits) when it lies inside
// the view length; otherwise the error to show.
struct LocationResult {
  EditResult result = EditResult::kDone;
  std::uint32_t address = 0;
};
LocationResult AddressLocation(std::string_view text, std::uint32_t view_length);

}  // namespace romwright::app
