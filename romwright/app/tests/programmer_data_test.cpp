#include <gtest/gtest.h>

#include "romwright/app/programmer_data.h"
#include "romwright/chips/chip_list.h"
#include "romwright/testing/test_files.h"
#include "tools/testing/test_paths.h"

namespace romwright::app {
namespace {

class ProgrammerDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::FreshDir();
    std::filesystem::create_directories(dir_ / "data");
    std::filesystem::copy_file(test_support::kChipDb, dir_ / "data" / "chips.db");
  }
  void Config(const std::string& run, const std::string& db_file) {
    testing::WriteText(dir_ / "config.ini", "[Run]\r\n" + run + "[English]\r\nCaption=Romwright\r\nDataBaseFile=" +
                                                db_file + "\r\n[SimpleChinese]\r\nDataBaseFile=" + db_file + "\r\n");
  }
  ProgrammerData Make() { return ProgrammerData(SettingsFile((dir_ / "config.ini").string()), dir_.string(), sink_, {}); }

  std::filesystem::path dir_;
  platform::RecordingSink sink_;
};

TEST_F(ProgrammerDataTest, StartsWithTheDefaultChipFromTheNamedDatabase) {
  Config("DefaultLanguage=English\r\nDefaultChipName=AT24C02\r\n", "data\\chips.db");
  auto data = Make();
  ASSERT_EQ(data.StartUp(), ProgrammerData::StartResult::kReady);
  ASSERT_TRUE(data.Ready());
  EXPECT_EQ(NameOf(data.SelectedChip()), "AT24C02");
  EXPECT_EQ(data.Buffer().ViewLength(), 256u);
  EXPECT_EQ(data.DataCommands().ChecksumText(), "CheckSum: 0000FF00H");
  EXPECT_TRUE(sink_.Texts().empty());
}

TEST_F(ProgrammerDataTest, TheSampleSettingsStartInBothLanguages) {
  std::filesystem::copy_file(std::filesystem::path(test_support::kResourceDir) / "romwright/config.ini", dir_ / "config.ini");
  std::filesystem::copy_file(test_support::kChipDb, dir_ / "chips.db");
  auto data = Make();
  ASSERT_EQ(data.StartUp(), ProgrammerData::StartResult::kReady);
  EXPECT_EQ(NameOf(data.SelectedChip()), "EN25T80");
  EXPECT_EQ(data.Texts().TextOf(90), "Romwright");
  EXPECT_EQ(data.Texts().TextOf(91).substr(0, 7), "FPR7100");
  data.Texts().SetLanguage("SimpleChinese");
  EXPECT_EQ(data.Texts().TextOf(96), "chips.db");
  EXPECT_EQ(data.Texts().TextOf(91).substr(0, 7), "FPR7100");
}

TEST_F(ProgrammerDataTest, FallsBackToEN25T80) {
  Config("DefaultLanguage=SimpleChinese\r\nDefaultChipName=NOT A CHIP\r\n", "data\\chips.db");
  auto data = Make();
  ASSERT_EQ(data.StartUp(), ProgrammerData::StartResult::kReady);
  EXPECT_EQ(NameOf(data.SelectedChip()), "EN25T80");
  EXPECT_EQ(data.Settings().Read("Run", "DefaultChipName"), "EN25T80");
}

TEST_F(ProgrammerDataTest, ADatabaseFaultStopsBeforeTheBuffer) {
  Config("DefaultLanguage=English\r\n", "data\\missing.db");
  auto data = Make();
  EXPECT_EQ(data.StartUp(), ProgrammerData::StartResult::kDatabaseError);
  EXPECT_FALSE(data.Ready());
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Database error!\n" + (dir_ / "data" / "missing.db").string() +
                                                    ": cannot be read"});
  // A database without EN25T80 or the default chip cannot select a chip.
  auto list = ParseChipList("X1,M,SPI FLASH,4096,1,256,0,0,0,33,0,0,\n");
  const auto file = BuildDatabaseFile(list.chips);
  std::ofstream(dir_ / "data" / "other.db", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  Config("DefaultLanguage=English\r\n", "data\\other.db");
  auto other = Make();
  sink_.Clear();
  EXPECT_EQ(other.StartUp(), ProgrammerData::StartResult::kDatabaseError);
  EXPECT_FALSE(other.Ready());
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Database error!\n" + (dir_ / "data" / "other.db").string() +
                                                    ": neither \"EN25T80\" nor \"EN25T80\" is in it"});
}

}  // namespace
}  // namespace romwright::app
