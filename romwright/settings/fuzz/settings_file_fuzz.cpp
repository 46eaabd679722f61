// config.ini on any file: reading any key of any section works, and a key
// written is read back as written while the other keys keep their values.
// The input gives a section, a key, a value and then the file.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "romwright/settings/settings_file.h"
#include "tools/fuzz/fuzz_input.h"

namespace {

using romwright::app::SettingsFile;

// A name as the program uses them: letters, digits and "_".
bool PlainName(const std::string& s) {
  if (s.empty()) return false;
  for (const char c : s) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

std::string Contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A value that reads back as itself: UTF-8 (as values come and go), no line
// break, no blanks at its ends, not wrapped in quotes, not longer than a read
// returns.
bool PlainValue(const std::string& s) {
  if (s.size() > SettingsFile::kMaxValueLength || !ValidUtf8(s)) return false;
  if (s.find_first_of("\r\n") != std::string::npos) return false;
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  if (!s.empty() && (blank(s.front()) || blank(s.back()))) return false;
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFolder scratch("settings_file_fuzz");
  fuzz::FuzzInput in(data, size);
  const std::string section = in.Text(32);
  const std::string key = in.Text(32);
  const std::string other_key = in.Text(32);
  const std::string value = in.Text(255);
  const auto rest = in.Rest();
  const auto path = scratch.Path() / "config.ini";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(rest.data(), static_cast<std::streamsize>(rest.size()));
  }
  SettingsFile file(path.string());
  const std::string read = file.Read(section, key);
  // The limit counts bytes of the file's own text: a GBK character of two
  // bytes is three in UTF-8, and so is one of a single byte (0x80, the euro
  // sign).
  fuzz::Check(read.size() <= SettingsFile::kMaxValueLength * 3, "a read value longer than the limit");
  if (!PlainName(section) || !PlainName(key) || !PlainValue(value)) return 0;

  const std::string other_before = file.Read(section, other_key);
  const std::string before = Contents(path);
  if (!file.Write(section, key, value)) {
    // A character the file's encoding cannot hold: the file stays as it was.
    fuzz::Check(Contents(path) == before, "a refused write changed the settings file");
    return 0;
  }
  fuzz::Check(file.Read(section, key) == value, "a written key does not read back");
  const bool same_key = other_key.size() == key.size() &&
                        std::equal(key.begin(), key.end(), other_key.begin(), [](char x, char y) {
                          return std::tolower(static_cast<unsigned char>(x)) ==
                                 std::tolower(static_cast<unsigned char>(y));
                        });
  if (!same_key) {
    fuzz::Check(file.Read(section, other_key) == other_before, "writing a key changed another key");
  }
  return 0;
}
