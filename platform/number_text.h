#pragma once
// Numbers typed on a command line or read from a file: the whole text must be
// the number, and the number must lie within the caller's range. Nothing
// throws and nothing wraps; a text that is not such a number gives nothing, so
// every caller can say what it expected.

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// `text` as a whole unsigned number: decimal digits (base 10), or hexadecimal
// digits with an optional "0x"/"0X" (base 16). No sign, no blanks. Nothing
// when the text is empty, holds anything else, or the value exceeds `max`.
std::optional<std::uint64_t> ParseUnsigned(std::string_view text, int base, std::uint64_t max = UINT64_MAX);

}  // namespace platform
