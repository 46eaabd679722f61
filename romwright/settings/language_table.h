#pragma once
// The programmer application's texts in English and simplified Chinese, looked
// up by number. Texts are UTF-8.
//
// Most entries are fixed texts. Entries 90-93 and 95-99 are the settings
// Caption, Version, Company, Website, LogFile, DataBaseFile, ManualFile,
// AboutPictureFile and MainPictureFile of sections [English] and
// [SimpleChinese], and entry 100 is DefaultChipName of [Run] for both
// languages; they are read once when the table is built, so values written
// later are seen only by the next table.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace romwright::app {

class SettingsFile;

inline constexpr std::string_view kLanguageEnglish = "English";
inline constexpr std::string_view kLanguageChinese = "SimpleChinese";

struct LanguageEntry {
  std::uint32_t id = 0;
  std::string chinese;
  std::string english;
};

class LanguageTable {
 public:
  static constexpr std::size_t kEntryCount = 125;

  // The table with the setting entries empty and no language chosen.
  LanguageTable();
  // The table with the setting entries read from `settings`, and the language
  // set to its DefaultLanguage of [Run]. A setting that is missing or cannot
  // be read (an empty value) takes the value the shipped config.ini gives it,
  // and a DefaultLanguage other than "SimpleChinese" is taken as "English", so
  // the window always has its texts.
  explicit LanguageTable(const SettingsFile& settings);

  // The text of entry `id` in the current language: "SimpleChinese" gives the
  // Chinese text, "English" the English one; any other language, or an
  // unknown entry, gives an empty text.
  const std::string& TextOf(std::uint32_t id) const;

  const std::string& Language() const { return language_; }
  void SetLanguage(std::string language) { language_ = std::move(language); }

  // True when the window shows its English menu and toolbar: only for
  // "English"; "SimpleChinese" and any unknown language get the Chinese ones.
  bool UsesEnglishMenu() const { return language_ == kLanguageEnglish; }

  const std::vector<LanguageEntry>& Entries() const { return entries_; }

 private:
  std::vector<LanguageEntry> entries_;
  std::string language_;
};

// The language switch: makes `language` current, writes it as DefaultLanguage
// of [Run] and returns entry 89 ("Set language to english!") in the new
// language, the text the window then shows on its info line.
std::string SwitchLanguage(LanguageTable& table, SettingsFile& settings, std::string_view language);

}  // namespace romwright::app
