#include <gtest/gtest.h>

#include <set>

#include "romwright/chips/chip_database.h"
#include "romwright/chips/chip_list.h"
#include "romwright/data/data_buffer.h"
#include "romwright/testing/test_files.h"
#include "tools/testing/test_paths.h"

namespace romwright::app {
namespace {

// The chip list the build turns into the database, checked as a whole.
TEST(ShippedChipList, IsFitForTheProgrammer) {
  const auto list = ParseChipList(testing::ReadText(test_support::kChipList));
  EXPECT_EQ(list.errors, std::vector<std::string>{});
  ASSERT_GE(list.chips.size(), 90u);
  EXPECT_EQ(CheckChipList(list.chips), std::vector<std::string>{});
  std::set<std::string> names;
  std::set<std::uint32_t> types;
  for (const auto& c : list.chips) {
    names.insert(NameOf(c));
    types.insert(c.type);
    EXPECT_LE(c.type, 3u);
    EXPECT_GT(c.capacity, 0u);
    EXPECT_LE(c.capacity, kDataBufferSize);
    ASSERT_GT(c.page_size, 0u) << NameOf(c);
    EXPECT_EQ(c.capacity % c.page_size, 0u) << NameOf(c);
    if (c.type == static_cast<std::uint32_t>(ChipType::kEeprom93)) {
      EXPECT_TRUE(c.organisation == 8 || c.organisation == 16) << NameOf(c);
      EXPECT_GT(c.address_bits, 0u) << NameOf(c);
    }
  }
  EXPECT_EQ(names.size(), list.chips.size());
  EXPECT_EQ(types.size(), 4u);
  // The start-up default must be there.
  EXPECT_EQ(names.count("EN25T80"), 1u);
}

TEST(ShippedChipList, TheBuiltDatabaseHoldsExactlyTheList) {
  const auto list = ParseChipList(testing::ReadText(test_support::kChipList));
  ChipDatabase db;
  ASSERT_TRUE(db.LoadDatabase(test_support::kChipDb));
  EXPECT_EQ(db.Records(), list.chips);
  // The readable form round-trips.
  EXPECT_EQ(ParseChipList(FormatChipList(db.Records())).chips, list.chips);
}

// Whatever a database holds, its dump builds back to the same records: names
// that would read as a comment, the header or a line end are quoted.
TEST(ChipList, AwkwardNamesSurviveFormatAndParse) {
  std::vector<ChipRecord> chips;
  for (const auto& [name, maker] : std::vector<std::pair<std::string, std::string>>{
           {"#HASHCHIP", "#Maker"}, {"name", "name"}, {"name,2", "a,b"}, {"say \"hi\"", "\""},
           {"two\nlines", "cr\r"}, {"ends in cr\r", "lf\n"}, {" blank ", "manufacturer"}, {"notes", "#"}}) {
    ChipRecord r;
    ASSERT_TRUE(SetNames(r, name, maker));
    r.capacity = 4096;
    r.page_size = 256;
    chips.push_back(r);
  }
  const auto text = FormatChipList(chips);
  const auto back = ParseChipList(text);
  EXPECT_EQ(back.errors, std::vector<std::string>{});
  EXPECT_EQ(back.chips, chips) << text;
  // A CR LF list reads the same, and a line break inside quotes counts as a line.
  std::string crlf;
  for (const char c : std::string("# c\n\"a\nb\",M,SPI FLASH,4096,1,256,0,0,0,33,0,0,\nC,M,X,1,1,1,0,0,0,0,0,0,\n")) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  const auto read = ParseChipList(crlf);
  ASSERT_EQ(read.chips.size(), 1u);
  EXPECT_EQ(NameOf(read.chips[0]), "a\r\nb");
  EXPECT_EQ(read.errors, std::vector<std::string>{"line 4: unknown type \"X\""});
  EXPECT_EQ(ParseChipList("A,M,SPI FLASH,4096,1,256,0,0,0,33,0,0,\"open\n").errors,
            std::vector<std::string>{"line 1: a quoted field is not closed"});
}

TEST(ChipList, ReportsEveryBadLineWithItsNumber) {
  const auto list = ParseChipList(
      "# comment\n"
      "name,manufacturer,type,capacity,page_write,page_size,manufacturer_id,device_id,mode,voltage,"
      "address_bits,organisation,notes\n"
      "\"A,1\",Maker,SPI FLASH,4096,1,256,0x1c,0x13,0,33,0,0,\"note, with comma\"\r\n"
      "B,Maker,SPI FLASH,4096,1,256,0x1C,0x13,0,33,0,0\n"
      "C,Maker,PARALLEL,4096,1,256,0,0,0,33,0,0,\n"
      "D,Maker,24 EEPROM,4096,1,256,0x100,0,0,33,0,0,\n"
      "E,Maker,24 EEPROM,4096,1\n"
      "F,Maker,24 EEPROM,12abc,1,256,0,0,0,33,0,0,\n"
      ",Maker,24 EEPROM,4096,1,256,0,0,0,33,0,0,\n"
      "G,Maker,24 EEPROM,99999999999999999999999,1,256,0,0,0,33,0,0,\n"
      "H,Maker,24 EEPROM,4294967296,1,256,0,0,0,33,0,0,\n"
      "I,Maker,24 EEPROM,-4096,1,256,0,0,0,33,0,0,\n");
  ASSERT_EQ(list.chips.size(), 2u);
  EXPECT_EQ(NameOf(list.chips[0]), "A,1");
  EXPECT_EQ(list.chips[0].manufacturer_id, 0x1C);
  EXPECT_EQ(list.chips[1], [&] {
    auto b = list.chips[0];
    SetNames(b, "B", "Maker");
    return b;
  }());
  ASSERT_EQ(list.errors.size(), 8u);
  EXPECT_EQ(list.errors[0].rfind("line 5:", 0), 0u);
  EXPECT_EQ(list.errors[4].rfind("line 9:", 0), 0u);
  // Numbers beyond their field or with a sign are errors, never wrapped.
  EXPECT_EQ(list.errors[7], "line 12: a number column is empty, not a number or too large");
}

TEST(ChipList, CheckFindsWhatTheProgrammerCannotUse) {
  ChipRecord ok;
  SetNames(ok, "OK", "M");
  ok.capacity = 4096;
  ok.page_size = 256;
  auto twice = ok;
  auto big = ok;
  SetNames(big, "BIG", "M");
  big.capacity = kDataBufferSize * 2;
  auto page = ok;
  SetNames(page, "PAGE", "M");
  page.page_size = 384;
  auto zero_page = ok;
  SetNames(zero_page, "ZERO", "M");
  zero_page.page_size = 0;
  auto type = ok;
  SetNames(type, "TYPE", "M");
  type.type = 7;
  auto no_bits = ok;
  SetNames(no_bits, "NOBITS", "M");
  no_bits.type = 3;
  const auto problems = CheckChipList({ok, twice, big, page, zero_page, type, no_bits});
  ASSERT_EQ(problems.size(), 6u);
  EXPECT_EQ(problems[0].rfind("OK:", 0), 0u);
  EXPECT_TRUE(CheckChipList({ok}).empty());
  EXPECT_EQ(CheckChipList({}), std::vector<std::string>{"the list holds no chips"});
}

}  // namespace
}  // namespace romwright::app
