#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "romwright/settings/language_table.h"
#include "romwright/settings/settings_file.h"
#include "romwright/testing/test_files.h"

namespace romwright::app {
namespace {

using testing::FreshDir;
using testing::ReadText;
using testing::WriteText;

TEST(SettingsFile, ReadsLikeTheProfileReader) {
  const auto dir = FreshDir();
  WriteText(dir / "config.ini",
            "; settings\r\n[run]\r\n  defaultlanguage = English  \r\n[English]\r\nCaption=\"Romwright \"\r\n"
            "Long=" + std::string(250, 'x') + "\r\nWide=x" + [] {
              std::string s;
              for (int i = 0; i < 80; ++i) s += "编";  // 3 bytes each
              return s;
            }() + "\r\nEmpty=\r\n[Other]\r\nCaption=other\r\n");
  const SettingsFile s((dir / "config.ini").string());
  EXPECT_EQ(s.Read("Run", "DefaultLanguage"), "English");
  EXPECT_EQ(s.Read("ENGLISH", "caption"), "Romwright ");  // quotes keep the blank inside
  EXPECT_EQ(s.Read("English", "Long"), std::string(199, 'x'));
  EXPECT_EQ(s.Read("English", "Wide").size(), 1u + 3u * 66u);  // 199 bytes would split a character
  EXPECT_EQ(s.Read("English", "Empty"), "");
  EXPECT_EQ(s.Read("English", "Missing"), "");
  EXPECT_EQ(s.Read("Nowhere", "Caption"), "");
  EXPECT_EQ(SettingsFile((dir / "absent.ini").string()).Read("Run", "DefaultLanguage"), "");
}

TEST(SettingsFile, WritesOneKeyAndKeepsTheRest) {
  const auto dir = FreshDir();
  const auto path = dir / "config.ini";
  WriteText(path,
            "; keep me\r\n[Run]\r\nDefaultLanguage=SimpleChinese\r\nDefaultChipName=W25Q80\r\n\r\n"
            "[English]\r\nCaption=Romwright\r\n");
  SettingsFile s(path.string());
  ASSERT_TRUE(s.Write("Run", "DefaultLanguage", "English"));
  EXPECT_EQ(ReadText(path),
            "; keep me\r\n[Run]\r\nDefaultLanguage=English\r\nDefaultChipName=W25Q80\r\n\r\n"
            "[English]\r\nCaption=Romwright\r\n");
  // A new key goes to the end of its section, before the blank line.
  ASSERT_TRUE(s.Write("run", "Extra", "1"));
  EXPECT_EQ(ReadText(path),
            "; keep me\r\n[Run]\r\nDefaultLanguage=English\r\nDefaultChipName=W25Q80\r\nExtra=1\r\n\r\n"
            "[English]\r\nCaption=Romwright\r\n");
  // A new section goes to the end; a file without a final line end gets one.
  WriteText(path, "[English]\nCaption=Romwright");
  ASSERT_TRUE(s.Write("Run", "DefaultChipName", "EN25T80"));
  EXPECT_EQ(ReadText(path), "[English]\nCaption=Romwright\n[Run]\nDefaultChipName=EN25T80\n");
  EXPECT_EQ(s.Read("Run", "DefaultChipName"), "EN25T80");
}

TEST(SettingsFile, CreatesAMissingFileAndReportsAnUnwritableOne) {
  const auto dir = FreshDir();
  SettingsFile s((dir / "config.ini").string());
  ASSERT_TRUE(s.Write("Run", "DefaultLanguage", "English"));
  EXPECT_EQ(ReadText(dir / "config.ini"), "[Run]\r\nDefaultLanguage=English\r\n");
  SettingsFile nowhere((dir / "no" / "such" / "config.ini").string());
  EXPECT_FALSE(nowhere.Write("Run", "DefaultLanguage", "English"));
  // Run from the build tree, the file beside the program alone.
  EXPECT_EQ(SettingsFile::PlaceFor("/src/build/romwright/ui", "/src/build", "/home/u/.cfg", "/home/u"),
            (SettingsFile::Place{"/src/build/romwright/ui/config.ini", ""}));
}

// Installed, the shipped file gives the defaults and the user's own file
// takes every change; the build tree keeps the file beside the program.
TEST(SettingsFile, AnInstalledProgramKeepsTheUsersSettingsInTheirHome) {
  using Place = SettingsFile::Place;
  EXPECT_EQ(SettingsFile::PlaceFor("/usr/lib/romwright", "/src/build", "/home/u/.cfg", "/home/u"),
            (Place{"/home/u/.cfg/romwright/config.ini", "/usr/lib/romwright/config.ini"}));
  EXPECT_EQ(SettingsFile::PlaceFor("/usr/lib/romwright", "/src/build", nullptr, "/home/u"),
            (Place{"/home/u/.config/romwright/config.ini", "/usr/lib/romwright/config.ini"}));
  // A relative XDG_CONFIG_HOME is not taken; a folder beside the build tree is no part of it.
  EXPECT_EQ(SettingsFile::PlaceFor("/src/build-rel/romwright", "/src/build/", "cfg", "/home/u"),
            (Place{"/home/u/.config/romwright/config.ini", "/src/build-rel/romwright/config.ini"}));
  EXPECT_EQ(SettingsFile::PlaceFor("/src/build/x/..", "/src/build/", nullptr, "/home/u"),
            (Place{"/src/build/config.ini", ""}));
  EXPECT_EQ(SettingsFile::PlaceFor("/opt/rw", "/src/build", nullptr, nullptr), (Place{"/opt/rw/config.ini", ""}));

  // Its log goes to the user's state folder, the build tree's beside the program.
  const Place installed{"/home/u/.config/romwright/config.ini", "/usr/lib/romwright/config.ini"};
  EXPECT_EQ(SettingsFile::StateFolderFor(installed, "/home/u/st", "/home/u"), "/home/u/st/romwright");
  EXPECT_EQ(SettingsFile::StateFolderFor(installed, "st", "/home/u"), "/home/u/.local/state/romwright");
  EXPECT_EQ(SettingsFile::StateFolderFor(installed, nullptr, nullptr), "");
  EXPECT_EQ(SettingsFile::StateFolderFor(Place{"/src/build/config.ini", ""}, "/home/u/st", "/home/u"), "");

  const auto dir = FreshDir();
  std::filesystem::create_directories(dir / "lib");
  WriteText(dir / "lib" / "config.ini",
            "[Run]\r\nDefaultLanguage=SimpleChinese\r\nDefaultChipName=W25Q80\r\n[English]\r\nCaption=Romwright\r\n");
  const auto shipped = ReadText(dir / "lib" / "config.ini");
  std::filesystem::permissions(dir / "lib", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const auto user = dir / "home" / "romwright" / "config.ini";
  SettingsFile s(user.string(), (dir / "lib" / "config.ini").string());
  EXPECT_EQ(s.Read("Run", "DefaultLanguage"), "SimpleChinese");
  EXPECT_FALSE(std::filesystem::exists(user));  // nothing written before the first change
  ASSERT_TRUE(s.Write("Run", "DefaultLanguage", "English"));
  ASSERT_TRUE(s.Write("Run", "DefaultChipName", "编程器"));
  EXPECT_EQ(ReadText(user), "[Run]\r\nDefaultLanguage=English\r\nDefaultChipName=编程器\r\n");
  EXPECT_EQ(s.Read("Run", "DefaultLanguage"), "English");
  EXPECT_EQ(s.Read("run", "defaultchipname"), "编程器");
  EXPECT_EQ(s.Read("English", "Caption"), "Romwright");  // still the shipped one
  // A key the user set empty stays empty: it is the user's choice.
  ASSERT_TRUE(s.Write("English", "Caption", ""));
  EXPECT_EQ(s.Read("English", "Caption"), "");
  std::filesystem::permissions(dir / "lib", std::filesystem::perms::owner_all);
  EXPECT_EQ(ReadText(dir / "lib" / "config.ini"), shipped);
}

// Two programs that change the same file one key at a time (two windows,
// a window and the command line) take turns: no change of one is lost under
// a change of the other.
TEST(SettingsFile, WritersThatComeTogetherKeepEveryChange) {
  const auto dir = FreshDir();
  const auto path = (dir / "config.ini").string();
  constexpr int kWriters = 4;
  constexpr int kKeys = 25;
  std::vector<std::thread> writers;
  std::atomic<int> failed{0};
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      SettingsFile own(path);  // each as its own program: its own opens of the file
      for (int k = 0; k < kKeys; ++k) {
        if (!own.Write("Run", "Key" + std::to_string(w) + "_" + std::to_string(k), std::to_string(w * 100 + k)))
          ++failed;
      }
    });
  }
  for (auto& t : writers) t.join();
  EXPECT_EQ(failed.load(), 0);
  const SettingsFile s(path);
  int missing = 0;
  for (int w = 0; w < kWriters; ++w)
    for (int k = 0; k < kKeys; ++k)
      if (s.Read("Run", "Key" + std::to_string(w) + "_" + std::to_string(k)) != std::to_string(w * 100 + k)) ++missing;
  EXPECT_EQ(missing, 0) << ReadText(path);
  // No temporary file is left beside it.
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 1);
}

// The config.ini files users have were written on Chinese Windows: GBK bytes.
// "编程器" is B1E0 B3CC C6F7 there; "中" is D6D0.
TEST(SettingsFile, GbkFilesAreReadAsGbkAndWrittenBackAsGbk) {
  const auto dir = FreshDir();
  const auto path = dir / "config.ini";
  const std::string gbk_name = "\xB1\xE0\xB3\xCC\xC6\xF7";
  std::string long_value = "x";
  for (int i = 0; i < 100; ++i) long_value += "\xD6\xD0";
  const std::string original = "; \xD6\xD0 comment\r\n[Run]\r\nDefaultLanguage=SimpleChinese\r\n"
                               "DefaultChipName=EN25T80\r\n[SimpleChinese]\r\nCaption=Romwright " +
                               gbk_name + "\r\nLong=" + long_value + "\r\n";
  WriteText(path, original);
  SettingsFile s(path.string());
  EXPECT_EQ(s.Read("SimpleChinese", "Caption"), "Romwright 编程器");
  // 199 bytes of GBK: "x" and 99 characters, none split.
  std::string cut = "x";
  for (int i = 0; i < 99; ++i) cut += "中";
  EXPECT_EQ(s.Read("SimpleChinese", "Long"), cut);
  EXPECT_EQ(LanguageTable(s).TextOf(90), "Romwright 编程器");

  // Writing keeps every other byte and writes the new line in GBK too.
  ASSERT_TRUE(s.Write("Run", "DefaultChipName", "W25Q80"));
  std::string expected = original;
  expected.replace(expected.find("EN25T80"), 7, "W25Q80");
  EXPECT_EQ(ReadText(path), expected);
  ASSERT_TRUE(s.Write("SimpleChinese", "Company", "编程器"));
  expected += "Company=" + gbk_name + "\r\n";
  EXPECT_EQ(ReadText(path), expected);
  EXPECT_EQ(s.Read("SimpleChinese", "Company"), "编程器");
  // A character GBK has no code for cannot be written into a GBK file.
  EXPECT_FALSE(s.Write("SimpleChinese", "Company", "한국"));
  EXPECT_EQ(ReadText(path), expected);

  // A UTF-8 file stays UTF-8, however long.
  const std::string utf8 = "; " + std::string(10000, '-') + "\r\n[SimpleChinese]\r\nCaption=编程器\r\n";
  WriteText(path, utf8);
  ASSERT_TRUE(s.Write("SimpleChinese", "Company", "中"));
  EXPECT_EQ(ReadText(path), utf8 + "Company=中\r\n");
  EXPECT_EQ(s.Read("SimpleChinese", "Caption"), "编程器");
}

class LanguageTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshDir();
    WriteText(dir_ / "config.ini",
              "[Run]\r\nDefaultLanguage=English\r\nDefaultChipName=W25Q80\r\n"
              "[English]\r\nCaption=Romwright\r\nDataBaseFile=chips.db\r\n"
              "[SimpleChinese]\r\nCaption=编程器\r\n");
  }
  std::filesystem::path dir_;
};

TEST_F(LanguageTableTest, LooksUpFixedAndSettingTextsInTheCurrentLanguage) {
  SettingsFile settings((dir_ / "config.ini").string());
  LanguageTable table(settings);
  ASSERT_EQ(table.Entries().size(), LanguageTable::kEntryCount);
  for (std::uint32_t id = 0; id < LanguageTable::kEntryCount; ++id) EXPECT_EQ(table.Entries()[id].id, id);
  EXPECT_EQ(table.Language(), "English");
  EXPECT_TRUE(table.UsesEnglishMenu());
  EXPECT_EQ(table.TextOf(0), "Programmer is busy, please wait a moment!");
  EXPECT_EQ(table.TextOf(74), "Please click \"OK\", and link programmer to computer in 10 seconds!");
  EXPECT_EQ(table.TextOf(124), "Elapsed time: ");
  EXPECT_EQ(table.TextOf(56), "");
  EXPECT_EQ(table.TextOf(90), "Romwright");
  EXPECT_EQ(table.TextOf(96), "chips.db");
  EXPECT_EQ(table.TextOf(100), "W25Q80");
  EXPECT_EQ(table.TextOf(125), "");
  table.SetLanguage("SimpleChinese");
  EXPECT_EQ(table.TextOf(90), "编程器");
  EXPECT_EQ(table.TextOf(96), "chips.db");  // missing: the shipped value
  EXPECT_EQ(table.TextOf(100), "W25Q80");
  // Every fixed entry has a Chinese text (56 too: it explains detection).
  for (const auto& e : table.Entries()) {
    const bool from_settings = (e.id >= 90 && e.id <= 93) || (e.id >= 95 && e.id <= 100);
    if (!from_settings) {
      EXPECT_FALSE(e.chinese.empty()) << e.id;
    }
  }
  // Values written later are not seen by a table built before.
  settings.Write("English", "Caption", "Changed");
  table.SetLanguage("English");
  EXPECT_EQ(table.TextOf(90), "Romwright");
}

TEST_F(LanguageTableTest, SettingsThatCannotBeReadTakeTheShippedValuesAndTheWindowKeepsItsTexts) {
  // An unknown language, no file at all, and a file of random bytes.
  WriteText(dir_ / "config.ini", "[Run]\r\nDefaultLanguage=Klingon\r\n");
  std::string noise(4096, '\0');
  std::uint32_t x = 12345;
  for (auto& c : noise) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  WriteText(dir_ / "noise.ini", noise);
  for (const char* name : {"config.ini", "absent.ini", "noise.ini"}) {
    SCOPED_TRACE(name);
    LanguageTable table(SettingsFile((dir_ / name).string()));
    EXPECT_EQ(table.Language(), "English");
    EXPECT_TRUE(table.UsesEnglishMenu());
    EXPECT_EQ(table.TextOf(18), "Database error!");
    EXPECT_EQ(table.TextOf(90), "Romwright");
    EXPECT_EQ(table.TextOf(91), "FPR7100 Programmer V1.0");
    EXPECT_EQ(table.TextOf(95), "romwright.log");
    EXPECT_EQ(table.TextOf(96), "chips.db");
    EXPECT_EQ(table.TextOf(100), "EN25T80");
    table.SetLanguage(std::string(kLanguageChinese));
    EXPECT_EQ(table.TextOf(90), "Romwright 编程器");
    EXPECT_EQ(table.TextOf(96), "chips.db");
  }
  // A value that is there is taken as it stands.
  WriteText(dir_ / "config.ini", "[Run]\r\nDefaultLanguage=SimpleChinese\r\n[SimpleChinese]\r\nLogFile=a.log\r\n");
  LanguageTable table(SettingsFile((dir_ / "config.ini").string()));
  EXPECT_EQ(table.Language(), "SimpleChinese");
  EXPECT_EQ(table.TextOf(95), "a.log");
}

TEST_F(LanguageTableTest, SwitchWritesTheLanguageAndAnswersInIt) {
  WriteText(dir_ / "config.ini", "[Run]\r\nDefaultLanguage=SimpleChinese\r\nDefaultChipName=W25Q80\r\n");
  SettingsFile settings((dir_ / "config.ini").string());
  LanguageTable table(settings);
  EXPECT_FALSE(table.UsesEnglishMenu());
  EXPECT_EQ(SwitchLanguage(table, settings, kLanguageEnglish), "Set language to english!");
  EXPECT_TRUE(table.UsesEnglishMenu());
  EXPECT_EQ(settings.Read("Run", "DefaultLanguage"), "English");
  EXPECT_EQ(settings.Read("Run", "DefaultChipName"), "W25Q80");
  EXPECT_EQ(SwitchLanguage(table, settings, kLanguageChinese), table.Entries()[89].chinese);
  EXPECT_EQ(LanguageTable(settings).Language(), "SimpleChinese");
}

}  // namespace
}  // namespace romwright::app
