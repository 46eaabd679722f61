#include "romwright/settings/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace romwright::app {

namespace {

const char* IconvName(TextEncoding encoding) { return encoding == TextEncoding::kGbk ? "GBK" : "UTF-8"; }

}  // namespace

std::optional<std::string> ConvertText(std::string_view text, TextEncoding from, TextEncoding to) {
  const iconv_t cd = iconv_open(IconvName(to), IconvName(from));
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::vector<char> input(text.begin(), text.end());
  char* in = input.data();
  std::size_t in_left = input.size();
  std::string out;
  std::vector<char> chunk(4096);
  bool ok = true;
  while (ok && in_left > 0) {
    char* o = chunk.data();
    std::size_t o_left = chunk.size();
    const std::size_t r = iconv(cd, &in, &in_left, &o, &o_left);
    out.append(chunk.data(), static_cast<std::size_t>(o - chunk.data()));
    // E2BIG only means the chunk is full; EILSEQ and EINVAL mean the text is
    // not valid in `from` or cannot be written in `to`.
    ok = r != static_cast<std::size_t>(-1) || errno == E2BIG;
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  return out;
}
TextEncoding DetectEncoding(std::string_view text) {
  return ConvertText(text, TextEncoding::kUtf8, TextEncoding::kUtf8) ? TextEncoding::kUtf8 : TextEncoding::kGbk;
}

std::size_t WholeCharacterPrefix(std::string_view text, std::size_t max_bytes, TextEncoding encoding) {
  if (text.size() <= max_bytes) return text.size();
  if (encoding == TextEncoding::kUtf8) {
    std::size_t cut = max_bytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
  }
  // GBK: a byte from 0x81 on leads a two-byte character.
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t width = static_cast<unsigned char>(text[at]) >= 0x81 ? 2 : 1;
    if (at + width > max_bytes) break;
    at += width;
  }
  return at;
}

}  // namespace romwright::app
