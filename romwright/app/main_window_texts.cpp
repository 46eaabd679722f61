#include "romwright/app/main_window_texts.h"

#include "romwright/app/language_table.h"

namespace romwright::app {

LanguageView ApplyLanguage(const LanguageTable& texts, std::string_view title_suffix, bool spi_flash_selected) {
  LanguageView v;
  v.english_menu = texts.UsesEnglishMenu();
  v.english_checked = v.english_menu;
  v.chinese_checked = !v.english_menu;
  v.title = texts.TextOf(90) + std::string(title_suffix);
  v.about_item = texts.TextOf(101);
  for (std::uint32_t i = 0; i < v.panel_labels.size(); ++i) v.panel_labels[i] = texts.TextOf(83 + i);
  v.erase_enabled = spi_flash_selected;
  return v;
}

AboutBox AboutBoxOf(const LanguageTable& texts) {
  return {{texts.TextOf(91), texts.TextOf(92), texts.TextOf(93)}, texts.TextOf(94)};
}

const std::string& LinkStateText(const LanguageTable& texts, bool linked) { return texts.TextOf(linked ? 2 : 3); }

}  // namespace romwright::app
