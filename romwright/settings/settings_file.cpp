#include "romwright/settings/settings_file.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/replace_file.h"
#include "romwright/settings/text_encoding.h"

namespace romwright::app {

namespace {

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// One line of the file with its line end kept apart, so that a rewrite keeps it.
struct Line {
  std::string text;
  std::string end;
};

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < content.size()) {
    const auto nl = content.find('\n', pos);
    if (nl == std::string::npos) {
      lines.push_back({content.substr(pos), ""});
      break;
    }
    std::size_t text_end = nl;
    if (text_end > pos && content[text_end - 1] == '\r') --text_end;
    lines.push_back({content.substr(pos, text_end - pos), content.substr(text_end, nl + 1 - text_end)});
    pos = nl + 1;
  }
  return lines;
}

// The section name of a "[Name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionOf(std::string_view line) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

// The key of a "Key=Value" line, or nullopt for comments and other lines.
std::optional<std::string_view> KeyOf(std::string_view line) {
  const auto trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';') return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(0, eq));
}

// One of the user's base folders: the XDG variable's value when it is an
// absolute path, else `under_home` in the home folder; empty without either.
std::filesystem::path UserFolder(const char* xdg_value, const char* home, const char* under_home) {
  namespace fs = std::filesystem;
  if (xdg_value != nullptr && fs::path(xdg_value).is_absolute()) return xdg_value;
  if (home != nullptr && fs::path(home).is_absolute()) return fs::path(home) / under_home;
  return {};
}

}  // namespace

SettingsFile::Place SettingsFile::PlaceFor(std::string_view executable_folder, std::string_view build_tree,
                                           const char* xdg_config_home, const char* home) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(executable_folder).lexically_normal();
  const std::string beside = (folder / kFileName).string();
  if (!build_tree.empty()) {
    const fs::path tree = fs::path(build_tree).lexically_normal();
    const auto [t, f] = std::mismatch(tree.begin(), tree.end(), folder.begin(), folder.end());
    // An empty last part is the trailing "/" of a folder name.
    if (t == tree.end() || (std::next(t) == tree.end() && t->empty())) return {beside, {}};
  }
  const fs::path config_home = UserFolder(xdg_config_home, home, ".config");
  if (config_home.empty()) return {beside, {}};
  return {(config_home / "romwright" / kFileName).lexically_normal().string(), beside};
}

SettingsFile SettingsFile::ForProgram(std::string_view executable_folder) {
  std::error_code ec;
  const auto real = std::filesystem::weakly_canonical(std::filesystem::path(executable_folder), ec);
  Place p = PlaceFor(ec ? std::string(executable_folder) : real.string(), ROMWRIGHT_BUILD_TREE,
                     std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  return SettingsFile(std::move(p.user), std::move(p.defaults));
}

std::string SettingsFile::StateFolderFor(const Place& place, const char* xdg_state_home, const char* home) {
  if (place.defaults.empty()) return {};
  const std::filesystem::path state_home = UserFolder(xdg_state_home, home, ".local/state");
  return state_home.empty() ? std::string() : (state_home / "romwright").lexically_normal().string();
}

std::string SettingsFile::StateFolder() const {
  return StateFolderFor(Place{path_, defaults_}, std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
}

std::optional<std::string> SettingsFile::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string SettingsFile::Read(std::string_view section, std::string_view key) const {
  if (auto own = Find(path_, section, key)) return *own;
  if (!defaults_.empty()) return Find(defaults_, section, key).value_or(std::string());
  return {};
}

std::optional<std::string> SettingsFile::Find(const std::string& path, std::string_view section,
                                              std::string_view key) {
  const auto content = Load(path);
  if (!content) return std::nullopt;
  bool inside = false;
  for (const auto& line : SplitLines(*content)) {
    if (const auto name = SectionOf(line.text)) {
      inside = SameName(*name, section);
      continue;
    }
    if (!inside) continue;
    const auto k = KeyOf(line.text);
    if (!k || !SameName(*k, key)) continue;
    std::string_view value = Trim(std::string_view(line.text).substr(line.text.find('=') + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    // At most 199 bytes of the file's own text, never cut inside a character.
    const TextEncoding encoding = DetectEncoding(*content);
    value = value.substr(0, WholeCharacterPrefix(value, kMaxValueLength, encoding));
    if (encoding == TextEncoding::kUtf8) return std::string(value);
    // A value that is not GBK either is handed on as it stands.
    return ConvertText(value, encoding, TextEncoding::kUtf8).value_or(std::string(value));
  }
  return std::nullopt;
}

bool SettingsFile::Write(std::string_view section, std::string_view key, std::string_view value) {
  // Another program changing the file waits until this change is in.
  if (!defaults_.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
  }
  const platform::FileRewriteLock lock(path_);
  const auto content = Load(path_);
  std::vector<Line> lines = content ? SplitLines(*content) : std::vector<Line>{};
  // New lines take the file's own line end; a new file gets CR LF.
  std::string eol = "\r\n";
  for (const auto& l : lines) {
    if (!l.end.empty()) {
      eol = l.end;
      break;
    }
  }
  // The new line is written in the file's own encoding; a new file is UTF-8.
  const TextEncoding encoding = content ? DetectEncoding(*content) : TextEncoding::kUtf8;
  const auto encoded = ConvertText(std::string(key) + "=" + std::string(value), TextEncoding::kUtf8, encoding);
  if (!encoded) return false;
  const std::string& entry = *encoded;

  bool inside = false;
  std::optional<std::size_t> section_line;
  std::optional<std::size_t> last_in_section;  // last non-blank line of the section
  bool replaced = false;
  for (std::size_t i = 0; i < lines.size() && !replaced; ++i) {
    if (const auto name = SectionOf(lines[i].text)) {
      if (inside) break;  // the section ended; add the key at its end below
      inside = SameName(*name, section);
      if (inside) {
        section_line = i;
        last_in_section = i;
      }
      continue;
    }
    if (!inside) continue;
    if (!Trim(lines[i].text).empty()) last_in_section = i;
    const auto k = KeyOf(lines[i].text);
    if (k && SameName(*k, key)) {
      lines[i].text = entry;
      replaced = true;
    }
  }
  if (!replaced) {
    if (section_line) {
      auto& after = lines[*last_in_section];
      if (after.end.empty()) after.end = eol;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*last_in_section) + 1, Line{entry, eol});
    } else {
      if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
      lines.push_back({"[" + std::string(section) + "]", eol});
      lines.push_back({entry, eol});
    }
  }

  std::string out;
  for (const auto& l : lines) out += l.text + l.end;
  return platform::ReplaceFile(path_, out) == platform::WriteOutcome::kWritten;
}

}  // namespace romwright::app
