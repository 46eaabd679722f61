#include <gtest/gtest.h>

#include <numeric>

#include "romwright/chips/chip_database.h"
#include "romwright/chips/chip_texts.h"
#include "romwright/chips/database_scrambler.h"
#include "romwright/testing/test_files.h"
#include "tools/testing/test_paths.h"

namespace romwright::app {
namespace {

ChipRecord Chip(std::string_view name, std::string_view manu, ChipType type, std::uint32_t capacity,
                std::uint8_t mid = 0, std::uint8_t did = 0, std::uint8_t org = 0) {
  ChipRecord r;
  EXPECT_TRUE(SetNames(r, name, manu));
  r.type = static_cast<std::uint32_t>(type);
  r.capacity = capacity;
  r.page_write = 1;
  r.page_size = 1;
  r.manufacturer_id = mid;
  r.device_id = did;
  r.organisation = org;
  return r;
}

std::vector<ChipRecord> SampleChips() {
  return {
      Chip("EN25T80", "Eon", ChipType::kSpiFlash, 1048576, 0x1C, 0x13),
      Chip("EN25F80", "Eon", ChipType::kSpiFlash, 1048576, 0x1C, 0x13),
      Chip("W25Q80", "Winbond", ChipType::kSpiFlash, 1048576, 0xEF, 0x13),
      Chip("AT24C02", "Atmel", ChipType::kEeprom24, 256),
      Chip("25LC640", "Microchip", ChipType::kEeprom25, 8192),
      Chip("AT25640", "Atmel", ChipType::kEeprom25, 8192),
      Chip("93C66 (x8)", "Microchip", ChipType::kEeprom93, 512, 0, 0, 8),
      Chip("en25lower80", "Eon", ChipType::kSpiFlash, 1048576, 0x1C, 0x14),
  };
}

std::vector<std::string> Names(const std::vector<ChipRecord>& chips) {
  std::vector<std::string> names;
  for (const auto& c : chips) names.push_back(NameOf(c));
  return names;
}

// Unscrambles a built file, so a test can change a plain field and scramble again.
std::vector<std::uint8_t> Unscrambled(std::vector<std::uint8_t> file) {
  DatabaseScrambler s;
  for (auto& b : file) b = s.Unscramble(b);
  return file;
}
std::vector<std::uint8_t> Scrambled(std::vector<std::uint8_t> plain) {
  DatabaseScrambler s;
  for (auto& b : plain) b = s.Scramble(b);
  return plain;
}

TEST(ChipRecordLayout, FieldsSitAtTheirFileOffsets) {
  ChipRecord r = Chip("93C86 (x16)", "Microchip/Atmel/ST", ChipType::kEeprom93, 0x01020304, 0xAB, 0xFE, 16);
  r.mode = 7;
  r.voltage = 50;
  r.page_write = 0x11223344;
  r.page_size = 0x5566;
  r.address_bits = 10;
  const auto b = EncodeChipRecord(r);
  EXPECT_EQ(b[0], 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[4])), "93C86 (x16)");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[44])), "Microchip/Atmel/ST");
  EXPECT_EQ(b[64], 7);
  EXPECT_EQ(b[65], 50);
  EXPECT_EQ((std::vector<int>{b[68], b[69], b[70], b[71]}), (std::vector<int>{4, 3, 2, 1}));
  EXPECT_EQ((std::vector<int>{b[72], b[73], b[74], b[75]}), (std::vector<int>{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(b[76], 0x66);
  EXPECT_EQ(b[77], 0x55);
  EXPECT_EQ(b[78], 0xAB);
  EXPECT_EQ(b[79], 0xFE);
  EXPECT_EQ(b[80], 10);
  EXPECT_EQ(b[81], 16);
  EXPECT_EQ(std::accumulate(b.begin() + 82, b.end(), 0), 0);
  EXPECT_EQ(DecodeChipRecord(b), r);
  // Names that do not leave room for their NUL are refused.
  EXPECT_FALSE(SetNames(r, std::string(40, 'N'), "M"));
  EXPECT_FALSE(SetNames(r, "N", std::string(20, 'M')));
  EXPECT_EQ(NameOf(r), "93C86 (x16)");
}

// tests/data/known_chips.db was written by make_known_chips_db.py beside it,
// which scrambles and lays out the file from the format's description alone;
// a wrong generator, offset, seed or field position here breaks every
// database the users have, and a round trip through our own code cannot see it.
TEST(ChipDatabase, KnownFileLoadsFieldByFieldAndBuildsByteForByte) {
  struct Known {
    std::uint32_t type;
    const char* name;
    const char* manufacturer;
    std::uint8_t mode, voltage;
    std::uint32_t capacity, page_write;
    std::uint16_t page_size;
    std::uint8_t manufacturer_id, device_id, address_bits, organisation;
  };
  const Known known[] = {
      {0, "EN25T80", "Eon", 0, 33, 1048576, 1, 256, 0x1C, 0x13, 0, 0},
      {1, "AT24C1024", "Atmel", 2, 50, 131072, 1, 256, 0x00, 0xFE, 0, 0},
      {2, "25LC640", "Microchip", 1, 41, 8192, 0x01020304, 32, 0xA5, 0x5A, 0, 0},
      {3, "93C86 (x16) 0123456789ABCDEFGHIJKLMNOPQ", "Microchip/Atmel/ST", 7, 50, 16777216, 0, 0x8000, 0xFF,
       0x80, 10, 16},
  };
  ChipDatabase db;
  ASSERT_TRUE(db.LoadDatabase(std::string(test_support::kRomwrightTestData) + "/known_chips.db")) << db.LoadFault();
  ASSERT_EQ(db.Records().size(), std::size(known));
  std::vector<ChipRecord> records;
  for (std::size_t i = 0; i < std::size(known); ++i) {
    SCOPED_TRACE(known[i].name);
    const auto& k = known[i];
    const auto& r = db.Records()[i];
    EXPECT_EQ(r.type, k.type);
    EXPECT_EQ(NameOf(r), k.name);
    EXPECT_EQ(ManufacturerOf(r), k.manufacturer);
    EXPECT_EQ(r.mode, k.mode);
    EXPECT_EQ(r.voltage, k.voltage);
    EXPECT_EQ(r.capacity, k.capacity);
    EXPECT_EQ(r.page_write, k.page_write);
    EXPECT_EQ(r.page_size, k.page_size);
    EXPECT_EQ(r.manufacturer_id, k.manufacturer_id);
    EXPECT_EQ(r.device_id, k.device_id);
    EXPECT_EQ(r.address_bits, k.address_bits);
    EXPECT_EQ(r.organisation, k.organisation);

    ChipRecord built;
    ASSERT_TRUE(SetNames(built, k.name, k.manufacturer));
    built.type = k.type;
    built.mode = k.mode;
    built.voltage = k.voltage;
    built.capacity = k.capacity;
    built.page_write = k.page_write;
    built.page_size = k.page_size;
    built.manufacturer_id = k.manufacturer_id;
    built.device_id = k.device_id;
    built.address_bits = k.address_bits;
    built.organisation = k.organisation;
    records.push_back(built);
  }
  const std::string expected = testing::ReadText(std::string(test_support::kRomwrightTestData) + "/known_chips.db");
  const auto file = BuildDatabaseFile(records);
  EXPECT_EQ(std::string(file.begin(), file.end()), expected);
}

TEST(ChipDatabase, LoadsWhatWasBuiltAndStoresItScrambled) {
  const auto chips = SampleChips();
  const auto file = BuildDatabaseFile(chips);
  ASSERT_EQ(file.size(), kDatabaseHeaderSize + kChipRecordFileSize * chips.size());
  // The chip names must not be readable in the file.
  const std::string raw(file.begin(), file.end());
  EXPECT_EQ(raw.find("EN25T80"), std::string::npos);
  const auto plain = Unscrambled(file);
  EXPECT_EQ(plain[0] | (plain[1] << 8), static_cast<int>(chips.size()));

  ChipDatabase db;
  ASSERT_TRUE(db.LoadDatabaseBytes(file));
  EXPECT_EQ(db.Records(), chips);

  const auto dir = testing::FreshDir();
  std::ofstream(dir / "chips.db", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  ChipDatabase from_file;
  ASSERT_TRUE(from_file.LoadDatabase((dir / "chips.db").string()));
  EXPECT_EQ(from_file.Records(), chips);
  EXPECT_FALSE(from_file.LoadDatabase((dir / "missing.db").string()));
  EXPECT_TRUE(from_file.Empty());
}

TEST(ChipDatabase, RejectsBrokenFilesAndIsEmptyAfterwards) {
  const auto chips = SampleChips();
  const auto good = BuildDatabaseFile(chips);
  ChipDatabase db;
  const auto rejected = [&](const std::vector<std::uint8_t>& file) {
    EXPECT_TRUE(db.LoadDatabaseBytes(good));
    const bool loaded = db.LoadDatabaseBytes(file);
    EXPECT_TRUE(db.Empty());
    return !loaded;
  };
  // Checksum off by one.
  auto plain = Unscrambled(good);
  plain[2] = static_cast<std::uint8_t>(plain[2] + 1);
  EXPECT_TRUE(rejected(Scrambled(plain)));
  // A record byte changed.
  plain = Unscrambled(good);
  plain[kDatabaseHeaderSize + 50] ^= 0x01;
  EXPECT_TRUE(rejected(Scrambled(plain)));
  // More records than the table holds, even when the file is long enough.
  std::vector<ChipRecord> many(2001, chips[0]);
  plain = Unscrambled(BuildDatabaseFile(std::vector<ChipRecord>(2000, chips[0])));
  plain.resize(kDatabaseHeaderSize + kChipRecordFileSize * 2001, 0);
  plain[0] = 2001 & 0xFF;
  plain[1] = 2001 >> 8;
  EXPECT_TRUE(rejected(Scrambled(plain)));
  EXPECT_TRUE(BuildDatabaseFile(many).empty());
  // Fewer bytes than the header promises; shorter than the header.
  EXPECT_TRUE(rejected(std::vector<std::uint8_t>(good.begin(), good.end() - 1)));
  EXPECT_TRUE(rejected(std::vector<std::uint8_t>(good.begin(), good.begin() + 99)));
  // A file scrambled with another seed is garbage to us.
  plain = Unscrambled(good);
  DatabaseScrambler other(kDatabaseSeed + 2);
  for (auto& b : plain) b = other.Scramble(b);
  EXPECT_TRUE(rejected(plain));
  // 2000 records are fine; an empty database is a valid file.
  EXPECT_TRUE(db.LoadDatabaseBytes(BuildDatabaseFile(std::vector<ChipRecord>(2000, chips[0]))));
  EXPECT_EQ(db.Records().size(), 2000u);
  EXPECT_TRUE(db.LoadDatabaseBytes(BuildDatabaseFile({})));
}

// A record whose capacity or page size the data buffer and the chip
// operations cannot hold must never load: read, write and verify trust them.
TEST(ChipDatabase, RefusesRecordsNoChipCanHave) {
  const auto chips = SampleChips();
  const auto with = [&](auto change) {
    auto bad = chips;
    change(bad[3]);  // AT24C02
    return BuildDatabaseFile(bad);
  };
  ChipDatabase db;
  const auto refused = [&](const std::vector<std::uint8_t>& file, const std::string& fault) {
    EXPECT_FALSE(db.LoadDatabaseBytes(file)) << fault;
    EXPECT_TRUE(db.Empty());
    EXPECT_NE(db.LoadFault().find("record 4 \"AT24C02\": " + fault), std::string::npos) << db.LoadFault();
  };
  refused(with([](ChipRecord& r) { r.capacity = 0; }), "capacity 0 outside");
  refused(with([](ChipRecord& r) { r.capacity = 0x02000000, r.page_size = 256; }), "capacity 33554432 outside");
  refused(with([](ChipRecord& r) { r.capacity = 0xFFFFFFFF; }), "capacity 4294967295 outside");
  refused(with([](ChipRecord& r) { r.page_size = 0; }), "page size 0 ");
  refused(with([](ChipRecord& r) { r.page_size = 96; }), "page size 96 ");
  refused(with([](ChipRecord& r) { r.type = 4; }), "type 4 ");
  // The largest chip the buffer holds loads, with its page size.
  EXPECT_TRUE(db.LoadDatabaseBytes(with([](ChipRecord& r) { r.capacity = 0x01000000, r.page_size = 0x8000; })));
  EXPECT_TRUE(db.LoadFault().empty());

  // The file the fuzzer found: count and checksum right, a 32 MiB chip.
  EXPECT_FALSE(db.LoadDatabase(std::string(test_support::kRomwrightTestData) + "/chip-capacity-32MiB.db"));
  EXPECT_NE(db.LoadFault().find("\"BIG\": capacity 33554432"), std::string::npos) << db.LoadFault();
}

TEST(ChipDatabase, LookUps) {
  ChipDatabase db;
  ASSERT_TRUE(db.LoadDatabaseBytes(BuildDatabaseFile(SampleChips())));
  ASSERT_TRUE(db.FindByName("W25Q80"));
  EXPECT_EQ(db.FindByName("W25Q80")->manufacturer_id, 0xEF);
  EXPECT_FALSE(db.FindByName("w25q80"));
  EXPECT_FALSE(db.FindByName("W25Q8"));
  // Detection takes the first chip with both IDs.
  EXPECT_EQ(NameOf(*db.FindByIds(0x1C, 0x13)), "EN25T80");
  EXPECT_FALSE(db.FindByIds(0x1C, 0xEF));
  EXPECT_EQ(db.ListManufacturers(0), (std::vector<std::string>{"Eon", "Winbond"}));
  EXPECT_EQ(db.ListManufacturers(2), (std::vector<std::string>{"Microchip", "Atmel"}));
  EXPECT_EQ(db.ListManufacturers(kAllTypes), (std::vector<std::string>{"Eon", "Winbond", "Atmel", "Microchip"}));
  EXPECT_TRUE(db.ListManufacturers(9).empty());
  EXPECT_EQ(Names(db.ListChips("Eon", 0)), (std::vector<std::string>{"EN25T80", "EN25F80", "en25lower80"}));
  EXPECT_EQ(Names(db.ListChips("Atmel", kAllTypes)), (std::vector<std::string>{"AT24C02", "AT25640"}));
  EXPECT_TRUE(db.ListChips("Atmel", 0).empty());
}

TEST(ChipDatabase, SearchTakesStarsAnywhereAndIgnoresPatternCase) {
  ChipDatabase db;
  ASSERT_TRUE(db.LoadDatabaseBytes(BuildDatabaseFile(SampleChips())));
  const auto all = Names(db.Records());
  EXPECT_EQ(Names(db.SearchChips("EN25*80")), (std::vector<std::string>{"EN25T80", "EN25F80"}));
  EXPECT_EQ(Names(db.SearchChips("en25*80")), Names(db.SearchChips("EN25*80")));
  EXPECT_EQ(Names(db.SearchChips("*")), all);
  EXPECT_EQ(Names(db.SearchChips("")), all);
  EXPECT_EQ(Names(db.SearchChips("**")), all);
  // Not anchored: "80" matches inside the name; stars at the ends change nothing.
  EXPECT_EQ(Names(db.SearchChips("80")), Names(db.SearchChips("*80*")));
  // Pieces may not overlap: 25*25 needs two occurrences.
  EXPECT_EQ(Names(db.SearchChips("25*25")), std::vector<std::string>{});
  EXPECT_EQ(Names(db.SearchChips("25*64")), (std::vector<std::string>{"25LC640", "AT25640"}));
  // The stored name is compared as stored: lower-case letters are found only
  // by a pattern without letters there.
  EXPECT_EQ(Names(db.SearchChips("LOWER")), std::vector<std::string>{});
  EXPECT_EQ(Names(db.SearchChips("*25*80")), (std::vector<std::string>{"EN25T80", "EN25F80", "W25Q80", "en25lower80"}));
  // Only the first 20 characters of a pattern count.
  EXPECT_EQ(Names(db.SearchChips("W25Q80**************XYZ")), (std::vector<std::string>{"W25Q80"}));
}

TEST(ChipTexts, TypeNamesAndBothCapacityTexts) {
  EXPECT_EQ(TypeName(0), "SPI FLASH");
  EXPECT_EQ(TypeName(3), "93 EEPROM");
  EXPECT_EQ(TypeName(4), "UNKNOWN");
  EXPECT_EQ(TypeFromName("25 EEPROM"), 2u);
  EXPECT_EQ(TypeFromName("spi flash"), 4u);

  const std::string note = "(High 8 bits first, low 8 bits followed)";
  struct Case {
    ChipRecord chip;
    std::string search;
    std::string panel;
  };
  const Case cases[] = {
      {Chip("a", "m", ChipType::kEeprom93, 2048, 0, 0, 16), "1K x16bit", "1K x16bit\r\n\r\n" + note + "\r\n\r\n"},
      {Chip("b", "m", ChipType::kEeprom93, 256, 0, 0, 16), "128 x16bit", "128 x16bit\r\n\r\n" + note + "\r\n\r\n"},
      {Chip("c", "m", ChipType::kEeprom93, 2047, 0, 0, 0), "1023 x16bit", "1023 x16bit\r\n\r\n" + note + "\r\n\r\n"},
      {Chip("d", "m", ChipType::kEeprom93, 1024, 0, 0, 8), "1K x8bit", "1K x8bit\r\n\r\n"},
      {Chip("e", "m", ChipType::kEeprom93, 1023, 0, 0, 8), "1023 x8bit", "1023 x8bit\r\n\r\n"},
      {Chip("f", "m", ChipType::kEeprom93, 2097152, 0, 0, 8), "2048K x8bit", "2M x8bit\r\n\r\n"},
      {Chip("g", "m", ChipType::kEeprom93, 4194304, 0, 0, 16), "2048K x16bit", "2M x16bit\r\n\r\n" + note + "\r\n\r\n"},
      {Chip("h", "m", ChipType::kSpiFlash, 16777216), "16384KB", "16MB\r\n\r\n"},
      {Chip("i", "m", ChipType::kSpiFlash, 1048575), "1023KB", "1023KB\r\n\r\n"},
      {Chip("j", "m", ChipType::kEeprom24, 1024), "1KB", "1KB\r\n\r\n"},
      {Chip("k", "m", ChipType::kEeprom25, 512), "512B", "512B\r\n\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SearchCapacityText(c.chip), c.search) << NameOf(c.chip);
    EXPECT_EQ(PanelCapacityText(c.chip, note), c.panel) << NameOf(c.chip);
  }
}

}  // namespace
}  // namespace romwright::app
