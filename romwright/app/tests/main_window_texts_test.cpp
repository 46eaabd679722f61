#include <gtest/gtest.h>

#include "romwright/app/main_window_texts.h"
#include "romwright/settings/language_table.h"
#include "romwright/settings/settings_file.h"
#include "romwright/testing/test_files.h"

namespace romwright::app {
namespace {

using testing::FreshDir;
using testing::WriteText;

TEST(MainWindowTexts, TheWindowFollowsTheLanguage) {
  const auto dir = FreshDir();
  WriteText(dir / "config.ini",
            "[Run]\r\nDefaultLanguage=English\r\n[English]\r\nCaption=Romwright\r\nVersion=FPR7101 V2\r\n"
            "Company=Maker\r\nWebsite=example.org\r\n[SimpleChinese]\r\nCaption=编程器\r\n");
  SettingsFile settings((dir / "config.ini").string());
  LanguageTable table(settings);
  auto v = ApplyLanguage(table, "   a.bin", true);
  EXPECT_TRUE(v.english_menu);
  EXPECT_TRUE(v.english_checked);
  EXPECT_FALSE(v.chinese_checked);
  EXPECT_EQ(v.title, "Romwright   a.bin");
  EXPECT_EQ(v.about_item, "About(&A)...");
  EXPECT_EQ(v.panel_labels[0], "Select Chip");
  EXPECT_EQ(v.panel_labels[5], "Search...");
  EXPECT_TRUE(v.erase_enabled);
  const auto about = AboutBoxOf(table);
  EXPECT_EQ(about.lines[0], "FPR7101 V2");
  EXPECT_EQ(about.lines[2], "example.org");
  EXPECT_EQ(about.button, "OK");
  EXPECT_EQ(LinkStateText(table, false), "No USB Link!");
  EXPECT_EQ(table.TextOf(kToolbarTooltips[13].second), "About");

  SwitchLanguage(table, settings, kLanguageChinese);
  v = ApplyLanguage(table, "", false);
  EXPECT_FALSE(v.english_menu);
  EXPECT_TRUE(v.chinese_checked);
  EXPECT_EQ(v.title, "编程器");
  EXPECT_FALSE(v.erase_enabled);
  table.SetLanguage("Klingon");
  v = ApplyLanguage(table, "", false);
  EXPECT_FALSE(v.english_menu);  // an unknown language shows the Chinese menu
  EXPECT_TRUE(v.chinese_checked);
  EXPECT_EQ(v.title, "");
}

}  // namespace
}  // namespace romwright::app
