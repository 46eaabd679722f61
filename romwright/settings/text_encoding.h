#pragma once
// The two encodings the programmer's text files come in: UTF-8, and GBK (the
// simplified-Chinese code page of the Windows stations that wrote most
// existing "config.ini" files). Conversion is glibc's iconv.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace romwright::app {

enum class TextEncoding { kUtf8, kGbk };

// `text` converted from `from` to `to`; nothing when it is not valid in `from`
// or holds a character `to` cannot write.
std::optional<std::string> ConvertText(std::string_view text, TextEncoding from, TextEncoding to);

// UTF-8 when `text` is valid UTF-8 (plain ASCII is), else GBK.
TextEncoding DetectEncoding(std::string_view text);

// The longest prefix of `text` of at most `max_bytes` bytes that does not end
// inside a character of `encoding`.
std::size_t WholeCharacterPrefix(std::string_view text, std::size_t max_bytes, TextEncoding encoding);

}  // namespace romwright::app
