#include <gtest/gtest.h>

#include "romwright/app/chip_search_presenter.h"
#include "romwright/app/chip_selection_presenter.h"
#include "romwright/chips/chip_database.h"
#include "romwright/chips/chip_list.h"
#include "romwright/data/data_buffer.h"
#include "romwright/data/hex_view_model.h"
#include "romwright/settings/language_table.h"
#include "romwright/settings/settings_file.h"
#include "romwright/testing/test_files.h"

namespace romwright::app {
namespace {

constexpr char kList[] =
    "EN25T80,Eon,SPI FLASH,1048576,1,256,0x1C,0x13,0,33,0,0,\n"
    "EN25F16,Eon,SPI FLASH,2097152,1,256,0x1C,0x14,0,33,0,0,\n"
    "W25Q80,Winbond,SPI FLASH,1048576,1,256,0xEF,0x13,0,33,0,0,\n"
    "AT24C02,Atmel,24 EEPROM,256,1,8,0,0,0,50,0,0,\n"
    "AT24C32,Atmel,24 EEPROM,4096,1,32,0,0,0,50,0,0,\n"
    "24LC64,Microchip,24 EEPROM,8192,1,32,0,0,0,50,0,0,\n"
    "AT25040,Atmel,25 EEPROM,512,1,8,0,0,0,50,0,0,\n"
    "93C86 (x16),Microchip,93 EEPROM,2048,1,2,0,0,0,50,10,16,\n";

class ChipPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::FreshDir();
    settings_ = std::make_unique<SettingsFile>((dir_ / "config.ini").string());
    texts_.SetLanguage("English");
    ASSERT_TRUE(db_.LoadDatabaseBytes(BuildDatabaseFile(ParseChipList(kList).chips)));
    buffer_ = DataBuffer::Create();
    hex_ = std::make_unique<HexViewModel>(*buffer_);
    hooks_.show_info = [this](const std::string& t) { info_.push_back(t); };
    hooks_.log_line = [this](const std::string& t) { log_.push_back(t); };
    panel_ = std::make_unique<ChipSelectionPresenter>(db_, *buffer_, *settings_, texts_, sink_, hooks_, hex_.get());
  }

  std::filesystem::path dir_;
  std::unique_ptr<SettingsFile> settings_;
  LanguageTable texts_;
  ChipDatabase db_;
  std::unique_ptr<DataBuffer> buffer_;
  std::unique_ptr<HexViewModel> hex_;
  platform::RecordingSink sink_;
  StatusHooks hooks_;
  std::vector<std::string> info_, log_;
  std::unique_ptr<ChipSelectionPresenter> panel_;
};

TEST_F(ChipPanelTest, StartUpSelectsTheDefaultChipOrEN25T80) {
  ASSERT_TRUE(panel_->SelectAtStartUp("AT24C32"));
  EXPECT_EQ(panel_->TypeText(), "24 EEPROM");
  EXPECT_EQ(panel_->TypeItems(), (std::vector<std::string>{"SPI FLASH", "24 EEPROM", "25 EEPROM", "93 EEPROM"}));
  EXPECT_EQ(panel_->ManufacturerItems(), (std::vector<std::string>{"Atmel", "Microchip"}));
  EXPECT_EQ(panel_->ManufacturerText(), "Atmel");
  EXPECT_EQ(panel_->ChipItems(), (std::vector<std::string>{"AT24C02", "AT24C32"}));
  EXPECT_EQ(panel_->ChipText(), "AT24C32");
  EXPECT_EQ(panel_->CapacityText(), "4KB\r\n\r\n");
  EXPECT_FALSE(panel_->EraseEnabled());
  EXPECT_EQ(buffer_->ViewLength(), 4096u);
  EXPECT_EQ(settings_->Read("Run", "DefaultChipName"), "AT24C32");
  EXPECT_EQ(info_, std::vector<std::string>{"AT24C32"});
  EXPECT_EQ(log_, std::vector<std::string>{"Chip:AT24C32, ManuAtmel, 4KB\r\n\r\n"});
  EXPECT_TRUE(panel_->HexViewWantsFocus());

  ASSERT_TRUE(panel_->SelectAtStartUp("NO SUCH CHIP"));
  EXPECT_EQ(panel_->ChipText(), "EN25T80");
  EXPECT_TRUE(panel_->EraseEnabled());
  EXPECT_EQ(buffer_->ViewLength(), 1048576u);
  EXPECT_TRUE(sink_.Texts().empty());
}

TEST_F(ChipPanelTest, ChangingTypeOrManufacturerTakesTheFirstEntries) {
  ASSERT_TRUE(panel_->SelectAtStartUp("W25Q80"));
  log_.clear();
  panel_->TypeChanged("SPI FLASH");  // the same type: nothing happens
  EXPECT_TRUE(log_.empty());
  panel_->TypeChanged("24 EEPROM");
  EXPECT_EQ(panel_->ManufacturerText(), "Atmel");
  EXPECT_EQ(panel_->ChipText(), "AT24C02");
  EXPECT_EQ(panel_->Selected().capacity, 256u);
  EXPECT_EQ(buffer_->ViewLength(), 256u);
  panel_->ManufacturerChanged("Atmel");  // unchanged
  EXPECT_EQ(log_.size(), 1u);
  panel_->ManufacturerChanged("Microchip");
  EXPECT_EQ(panel_->ChipItems(), std::vector<std::string>{"24LC64"});
  EXPECT_EQ(panel_->ChipText(), "24LC64");
  EXPECT_EQ(settings_->Read("Run", "DefaultChipName"), "24LC64");
  panel_->TypeChanged("93 EEPROM");
  EXPECT_EQ(panel_->CapacityText(), "1K x16bit\r\n\r\n(High 8 bits first, low 8 bits followed)\r\n\r\n");
  panel_->ChipChanged("93C86 (x16)");  // already selected: applied again without a look-up
  EXPECT_EQ(panel_->Selected().address_bits, 10u);
}

TEST_F(ChipPanelTest, AChipMissingFromTheDatabaseKeepsThePreviousOne) {
  ASSERT_TRUE(panel_->SelectAtStartUp("AT25040"));
  panel_->ChipChanged("GHOST");
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Database error!"});
  EXPECT_EQ(panel_->ChipText(), "AT25040");
  EXPECT_EQ(buffer_->ViewLength(), 512u);
  EXPECT_EQ(settings_->Read("Run", "DefaultChipName"), "AT25040");
  EXPECT_FALSE(panel_->SelectByName("GHOST"));
  EXPECT_EQ(panel_->ChipText(), "AT25040");
}

TEST_F(ChipPanelTest, SearchListsFindsAndHandsBackAName) {
  ChipSearchPresenter search(db_, texts_, sink_, hooks_);
  search.Open();
  EXPECT_EQ(log_, std::vector<std::string>{"Search chip!"});
  EXPECT_EQ(search.ResultText(), "Find 8 Chips!");
  search.SetPattern("at24*");
  EXPECT_EQ(search.ResultText(), "Find 2 Chips!");
  ASSERT_EQ(search.Rows().size(), 2u);
  EXPECT_EQ(search.Rows()[1].name, "AT24C32");
  EXPECT_EQ(search.Rows()[1].capacity, "4KB");
  EXPECT_EQ(search.Rows()[1].manufacturer, "Atmel");
  EXPECT_EQ(search.Rows()[1].type, "24 EEPROM");
  EXPECT_FALSE(search.Select(std::nullopt));
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Please select a chip!"});
  const auto name = search.Select(1);
  ASSERT_TRUE(name);
  ASSERT_TRUE(panel_->SelectByName(*name));
  EXPECT_EQ(panel_->ChipText(), "AT24C32");
  search.Cancel();
  EXPECT_EQ(log_.back(), "Search chip cancel!");
  EXPECT_EQ(search.Columns()[0].title, "Chip Name");
  EXPECT_EQ(search.Columns()[0].width, 100);
  search.SetPattern("123456789012345678901234");
  EXPECT_EQ(search.Pattern().size(), 20u);
}

}  // namespace
}  // namespace romwright::app
