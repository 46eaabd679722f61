#include "linetool/app/text_filters.h"

#include <algorithm>
#include <cctype>

namespace linetool::app {

namespace {

bool IsHex(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsPrintable(unsigned char c) { return c >= 32 && c <= 127; }

// Keeps what `keep` accepts and cuts to `limit`. The caret stays where it was
// in the text: it moves back by the characters removed in front of it, so
// typing a refused character leaves it in place.
template <typename Keep>
FilteredText Filter(std::string_view typed, std::size_t caret, std::size_t limit, Keep keep) {
  typed = typed.substr(0, kEditReadMax);
  caret = std::min(caret, typed.size());
  FilteredText r;
  std::size_t removed_before = 0;
  for (std::size_t i = 0; i < typed.size(); ++i) {
    if (keep(static_cast<unsigned char>(typed[i]))) {
      r.text += typed[i];
    } else if (i < caret) {
      ++removed_before;
    }
  }
  if (limit != 0 && r.text.size() > limit) r.text.resize(limit);
  r.caret = std::min(caret - removed_before, r.text.size());
  return r;
}

}  // namespace

FilteredText FilterHex(std::string_view typed, std::size_t caret, std::size_t limit) {
  return Filter(typed, caret, limit, IsHex);
}

FilteredText FilterPrintable(std::string_view typed, std::size_t caret, std::size_t limit) {
  return Filter(typed, caret, limit, IsPrintable);
}

std::string PrintableOnly(std::string_view typed) { return Filter(typed, 0, 0, IsPrintable).text; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

}  // namespace linetool::app
