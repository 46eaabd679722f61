#pragma once
// The filters of the settings panel's edits: what stays of a typed text and
// where the caret goes.

#include <cstddef>
#include <string>
#include <string_view>

namespace linetool::app {

// The longest text an edit hands to its filter.
inline constexpr std::size_t kEditReadMax = 127;

struct FilteredText {
  std::string text;
  std::size_t caret = 0;
};

// Keeps the hexadecimal digits 0-9, a-f, A-F, cut to `limit` (0: no limit).
FilteredText FilterHex(std::string_view typed, std::size_t caret, std::size_t limit);
// Keeps the characters 32-127, cut to `limit` (0: no limit).
FilteredText FilterPrintable(std::string_view typed, std::size_t caret, std::size_t limit);
// `text` without the white space at either end.
std::string_view TrimBlanks(std::string_view text);
// The characters 32-127 of `typed`, not cut.
std::string PrintableOnly(std::string_view typed);

}  // namespace linetool::app
