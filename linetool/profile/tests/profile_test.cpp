#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine_fixture.h"
#include "linetool/profile/profile_format.h"
#include "tools/testing/test_paths.h"

namespace linetool::profile {
namespace {

using testing::EngineTest;
using Texts = std::vector<std::string>;

// A valid profile of 40 non-empty lines, as the station writes it.
ProfileSettings SampleSettings() {
  ProfileSettings s{};
  s.format_enable = 1;
  s.format_drive_type = 1;
  SetText(s.drive_label_name, "VX7700");
  s.wr_test_enable = 1;
  SetText(s.wr_test_binary_name, "wr_test.bin");
  s.wr_test_count = 3;
  s.preload_enable = 1;
  SetText(s.preload_folder_path, "preload");
  s.fw_enable = 1;
  SetText(s.fw_binary_name, "C:\\fw\\121105_10_0000.bin");
  s.fw_reload = 1;
  s.config_enable = 1;
  s.config_format = 1;
  SetText(s.vendor_id, "0F3C");
  SetText(s.product_id, "7700");
  SetText(s.device_revision, "0100");
  SetText(s.manufacturer_string, "VX Storage");
  SetText(s.product_string, "VX7700 Enclosure");
  SetText(s.serial_number, "0000A0000001");
  s.serial_number_increase = 1;
  s.standby_timer = 5;
  s.hdd_standby = 1;
  s.U1U2 = 1;
  s.two_tb = 1;
  s.HDDPC = 1;
  s.image0 = 1;
  s.cd_rom_mode = 2;
  return s;
}

TEST_F(EngineTest, SavedProfileHasTheFixedSectionsOrderAndLineEnds) {
  engine_.Settings() = SampleSettings();
  engine_.SetConfigType(1);
  ASSERT_TRUE(engine_.SaveProfile("out.ini"));
  EXPECT_TRUE(sink_.Texts().empty());
  const std::string text = ReadFile("out.ini");
  EXPECT_EQ(text, WriteProfileText(engine_.Settings()));
  EXPECT_EQ(text.substr(0, 41), "[usb_func]\r\nformat_enable=1\r\nformat_drive");
  EXPECT_NE(text.find("preload_folder_path=preload\r\n\r\n[usb_fw]\r\nfw_enable=1\r\n"
                      "fw_binary_name=C:\\fw\\121105_10_0000.bin\r\nfw_reload=1\r\n\r\n[usb_config]\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("U1U2=1\r\nlow_power_mode=0\r\n2TB=1\r\nimage0=1\r\nimage1=0\r\ncrc32=0\r\n"
                      "slow_enumeration=0\r\nWin8WTG=0\r\nHDDPC=1\r\n\r\n[usb_mode]\r\ncd_rom_mode=2\r\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 15), "cd_rom_mode=2\r\n");
  int non_empty = 0, empty = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const auto eol = text.find("\r\n", pos);
    ASSERT_NE(eol, std::string::npos);
    (eol == pos ? empty : non_empty)++;
    pos = eol + 2;
  }
  EXPECT_EQ(non_empty, 40);
  EXPECT_EQ(empty, 3);
}

TEST_F(EngineTest, SaveThenLoadGivesTheSameRecordExceptTheFixedKeys) {
  ProfileSettings saved = SampleSettings();
  saved.low_power_mode = 1;
  saved.Win8WTG = 1;
  saved.crc32 = 1;
  saved.image1 = 1;
  saved.image0 = 0;
  engine_.Settings() = saved;
  ASSERT_TRUE(engine_.SaveProfile("round.ini"));
  engine_.Reset();
  // A complete saved file has 40 non-empty lines and loads with true.
  ASSERT_TRUE(engine_.LoadProfile("round.ini"));
  EXPECT_TRUE(sink_.Texts().empty());
  ProfileSettings expected = saved;
  expected.low_power_mode = 0;
  expected.Win8WTG = 0;
  expected.crc32 = 0;
  expected.image1 = 0;
  expected.image0 = 1;
  EXPECT_EQ(engine_.Settings(), expected);
  EXPECT_EQ(engine_.ConfigType(), 1);
}

TEST_F(EngineTest, ReaderRulesForKeysValuesAndComments) {
  WriteFile("p.ini",
            "Format_Enable = 1 / the disk is formatted\n"
            "FW_BINARY_NAME=fw/old/x.bin\r\n"
            "image0=0\n"
            "crc32=1\n"
            "low_power_mode=1\n"
            "Win8WTG=1\n"
            "image1=1\n"
            "wr_test_count=300\n"
            "standby_timer=-1\n"
            "eup_enable=abc\n"
            "two_leds=+7x\n"
            "cd_rom_mode\n"
            "[USB_Config]\n"
            "config_format=0\n"
            "\n\r\n"
            "drive_label_name=  LABEL  \n"
            "product_string=" + std::string(300, 'P') + "\n");
  engine_.LoadProfile("p.ini");
  const ProfileSettings& s = engine_.Settings();
  EXPECT_EQ(s.format_enable, 1);
  EXPECT_EQ(TextOf(s.fw_binary_name), "fw");
  EXPECT_EQ(s.image0, 1);
  EXPECT_EQ(s.crc32, 0);
  EXPECT_EQ(s.low_power_mode, 0);
  EXPECT_EQ(s.Win8WTG, 0);
  EXPECT_EQ(s.image1, 0);
  EXPECT_EQ(s.wr_test_count, 44);
  EXPECT_EQ(s.standby_timer, 255);
  EXPECT_EQ(s.eup_enable, 0);
  EXPECT_EQ(s.two_leds, 7);
  EXPECT_EQ(s.cd_rom_mode, 0);  // a key without "=" has an empty value
  EXPECT_EQ(engine_.ConfigType(), 0);
  EXPECT_EQ(TextOf(s.drive_label_name), "LABEL");
  // 300 characters are cut to 254, then the type 0 limit of 28 clears them.
  EXPECT_EQ(TextOf(s.product_string), "");
  EXPECT_EQ(sink_.Texts(), (Texts{"Invalid Product Size"}));
}

TEST_F(EngineTest, LongValuesAreCutTo254Characters) {
  WriteFile("p.ini", "config_format=1\nfw_binary_name=" + std::string(400, 'a') + "\n");
  EXPECT_TRUE(engine_.LoadProfile("p.ini"));
  EXPECT_EQ(TextOf(engine_.Settings().fw_binary_name), std::string(254, 'a'));
  EXPECT_EQ(engine_.Settings().fw_binary_name[254], '\0');
}

TEST_F(EngineTest, ACutThatEndsInABlankReadsBackTheSameAfterASave) {
  // The cut leaves no blank at the end, so a save and a load give it back.
  WriteFile("p.ini", "config_format=1\nfw_binary_name=" + std::string(253, 'a') + "  bbb\n");
  ASSERT_TRUE(engine_.LoadProfile("p.ini"));
  EXPECT_EQ(TextOf(engine_.Settings().fw_binary_name), std::string(253, 'a'));
  const ProfileSettings first = engine_.Settings();
  ASSERT_TRUE(engine_.SaveProfile("q.ini"));
  ASSERT_TRUE(engine_.LoadProfile("q.ini"));
  EXPECT_EQ(TextOf(engine_.Settings().fw_binary_name), TextOf(first.fw_binary_name));

  // The input that showed it: read, written and read again, nothing changes.
  const auto bytes = ReadFileBytes(std::string(test_support::kProfileTestData) + "/profile-cut-ends-in-blank.ini");
  ASSERT_TRUE(bytes);
  ProfileSettings once{}, twice{};
  ReadProfileText(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), once);
  ASSERT_EQ(TextOf(once.product_string).size(), 239u);  // the 254th is a blank, as the 15 before it
  ReadProfileText(WriteProfileText(once), twice);
  EXPECT_EQ(TextOf(twice.product_string), TextOf(once.product_string));
}

TEST_F(EngineTest, AValueEndsAtItsFirstNul) {
  // The bytes behind a NUL are never saved, and a blank or CR before it must
  // not be kept either: a save would end the line there and the load trim it.
  for (const std::string_view tail : {std::string_view("VX7700 \r\0\0", 11), std::string_view("VX7700\0 xyz", 11)}) {
    ProfileSettings once{}, twice{};
    ReadProfileText("product_string=" + std::string(tail) + "\r\n", once);
    EXPECT_EQ(TextOf(once.product_string), "VX7700");
    ReadProfileText(WriteProfileText(once), twice);
    EXPECT_EQ(TextOf(twice.product_string), "VX7700");
  }
}

TEST_F(EngineTest, AFileLongerThanAProfileIsReadOnlyToTheLimitAndLoadsFalse) {
  // A 4 GiB file (sparse) is one line that is not a profile's, and the load
  // stops at the limit instead of reading it all.
  WriteFile("huge.ini", "");
  std::filesystem::resize_file(dir_ / "huge.ini", std::uintmax_t{4} << 30);
  EXPECT_FALSE(engine_.LoadProfile("huge.ini"));
  EXPECT_EQ(sink_.Texts(), (Texts{"0 Line of Configuration String in INI file is invalid !\r\n"}));

  // A profile padded beyond the limit: its whole lines before the limit are
  // read, the rest is refused as one line.
  sink_.Clear();
  const std::string text = WriteProfileText(SampleSettings());
  WriteFile("padded.ini", text + std::string(kProfileMaxBytes, '\n') + "auto_mp=1\r\n");
  EXPECT_FALSE(engine_.LoadProfile("padded.ini"));
  EXPECT_EQ(TextOf(engine_.Settings().serial_number), "0000A0000001");
  EXPECT_EQ(engine_.Settings().auto_mp, SampleSettings().auto_mp);
  EXPECT_EQ(sink_.Texts(), (Texts{"40 Line of Configuration String in INI file is invalid !\r\n"}));
  // Up to the limit it is still a profile.
  WriteFile("full.ini", text + std::string(kProfileMaxBytes - text.size(), '\n'));
  EXPECT_TRUE(engine_.LoadProfile("full.ini"));
}

TEST_F(EngineTest, KeysAreFoundWhateverTheSections) {
  WriteFile("p.ini", "[usb_mode]\nfw_enable=1\n[usb_config]\nfw_reload=1\nconfig_format=1\n");
  EXPECT_TRUE(engine_.LoadProfile("p.ini"));
  EXPECT_EQ(engine_.Settings().fw_enable, 1);
  EXPECT_EQ(engine_.Settings().fw_reload, 1);
  EXPECT_TRUE(sink_.Texts().empty());
}

TEST_F(EngineTest, UnrecognisedLinesAreCollectedIntoOneMessage) {
  WriteFile("p.ini", "config_format=1\n   \nformat_enable=1\n\nbogus=3\n// note\nauto_mp=1\n");
  // Unrecognised lines do not make the load fail; the others still count.
  EXPECT_TRUE(engine_.LoadProfile("p.ini"));
  EXPECT_EQ(engine_.Settings().format_enable, 1);
  EXPECT_EQ(engine_.Settings().auto_mp, 1);
  EXPECT_EQ(sink_.Texts(), (Texts{"1 Line of Configuration String in INI file is invalid !\r\n"
                                  "3 Line of Configuration String in INI file is invalid !\r\n"
                                  "4 Line of Configuration String in INI file is invalid !\r\n"}));
}

TEST_F(EngineTest, MoreLinesThanAProfileHoldsLoadsFalseButKeepsTheValues) {
  std::string text = WriteProfileText(SampleSettings());
  WriteFile("40.ini", text);
  EXPECT_TRUE(engine_.LoadProfile("40.ini"));
  WriteFile("41.ini", text + "auto_mp=1\r\n");
  EXPECT_FALSE(engine_.LoadProfile("41.ini"));
  EXPECT_EQ(engine_.Settings().auto_mp, 1);
  EXPECT_EQ(TextOf(engine_.Settings().serial_number), "0000A0000001");
}

TEST_F(EngineTest, MissingOrInaccessibleProfileLeavesTheRecordZero) {
  engine_.Settings().fw_enable = 1;
  EXPECT_FALSE(engine_.LoadProfile("none.ini"));
  EXPECT_EQ(engine_.Settings(), ProfileSettings{});
  EXPECT_EQ(sink_.Texts(), (Texts{"none.ini File/Path Not Exist"}));

  sink_.Clear();
  std::filesystem::create_directory(dir_ / "folder.ini");
  EXPECT_FALSE(engine_.LoadProfile("folder.ini"));
  EXPECT_EQ(engine_.Settings(), ProfileSettings{});
  EXPECT_EQ(sink_.Texts(), (Texts{"folder.ini File/Path Not Read/Write"}));
}

TEST_F(EngineTest, ValidationClearsFieldsAndReportsTheLastFailedCheck) {
  auto validate = [&](auto change) {
    engine_.Settings() = SampleSettings();
    engine_.SetConfigType(engine_.Settings().config_format);
    change(engine_.Settings());
    engine_.SetConfigType(engine_.Settings().config_format);
    sink_.Clear();
    return engine_.ValidateProfile();
  };
  EXPECT_EQ(validate([](ProfileSettings&) {}), 0);
  EXPECT_TRUE(sink_.Texts().empty());

  EXPECT_EQ(validate([](ProfileSettings& s) { SetText(s.serial_number, std::string(21, '1')); }), 2);
  EXPECT_EQ(sink_.Texts(), Texts{"Invalid SN Size"});
  EXPECT_EQ(TextOf(engine_.Settings().serial_number), "");
  EXPECT_EQ(validate([](ProfileSettings& s) { SetText(s.serial_number, std::string(20, 'f')); }), 0);

  EXPECT_EQ(validate([](ProfileSettings& s) { SetText(s.serial_number, "0000-0001"); }), 4);
  EXPECT_EQ(sink_.Texts(), Texts{"Invalid SN String"});
  EXPECT_EQ(TextOf(engine_.Settings().serial_number), "");

  // Label limit: 11 for FAT32, 32 for NTFS.
  EXPECT_EQ(validate([](ProfileSettings& s) { SetText(s.drive_label_name, "ABCDEFGHIJKL"); }), 5);
  EXPECT_EQ(sink_.Texts(), Texts{"Invalid DiskLabel Size"});
  EXPECT_EQ(validate([](ProfileSettings& s) {
              s.format_drive_type = 0;
              SetText(s.drive_label_name, "ABCDEFGHIJKL");
            }),
            0);
  EXPECT_EQ(TextOf(engine_.Settings().drive_label_name), "ABCDEFGHIJKL");

  // Manufacturer limit: 28 for type 0, 44 for type 1.
  EXPECT_EQ(validate([](ProfileSettings& s) {
              s.config_format = 0;
              SetText(s.manufacturer_string, std::string(29, 'M'));
            }),
            2);
  EXPECT_EQ(sink_.Texts(), Texts{"Invalid Manufacturer Size"});
  EXPECT_EQ(validate([](ProfileSettings& s) { SetText(s.manufacturer_string, std::string(29, 'M')); }), 0);
  EXPECT_EQ(validate([](ProfileSettings& s) { SetText(s.product_string, std::string(49, 'P')); }), 2);
  EXPECT_EQ(sink_.Texts(), Texts{"Invalid Product Size"});

  // Every check runs; the last failure gives the code.
  EXPECT_EQ(validate([](ProfileSettings& s) {
              SetText(s.serial_number, "xyz");
              SetText(s.drive_label_name, std::string(12, 'L'));
              SetText(s.product_string, std::string(49, 'P'));
            }),
            5);
  EXPECT_EQ(sink_.Texts(), (Texts{"Invalid SN String", "Invalid Product Size", "Invalid DiskLabel Size"}));
  EXPECT_EQ(validate([](ProfileSettings& s) {
              SetText(s.drive_label_name, std::string(12, 'L'));
              SetText(s.serial_number, "x");
            }),
            5);
}

TEST_F(EngineTest, InvalidConfigTypeClearsTheWholeRecord) {
  WriteFile("p.ini", "format_enable=1\nvendor_id=0F3C\nconfig_format=2\nserial_number=-\n");
  EXPECT_FALSE(engine_.LoadProfile("p.ini"));
  EXPECT_EQ(engine_.Settings(), ProfileSettings{});
  EXPECT_EQ(sink_.Texts(), Texts{"Invalid Config Type"});
  EXPECT_EQ(engine_.ConfigType(), 2);
  EXPECT_EQ(engine_.Limits().manufacturer_length, 0u);
  EXPECT_EQ(engine_.Limits().serial_length, 0u);
}

TEST_F(EngineTest, SaveWritesNothingForInvalidSettings) {
  WriteFile("keep.ini", "old");
  engine_.Settings() = SampleSettings();
  SetText(engine_.Settings().serial_number, "not-hex");
  EXPECT_FALSE(engine_.SaveProfile("keep.ini"));
  EXPECT_EQ(ReadFile("keep.ini"), "old");
  EXPECT_EQ(sink_.Texts(), Texts{"Invalid SN String"});
}

TEST_F(EngineTest, SaveReplacesTheOldFileAndCreatesNewOnesSilently) {
  engine_.Settings() = SampleSettings();
  WriteFile("old.ini", std::string(5000, 'x'));
  EXPECT_TRUE(engine_.SaveProfile("old.ini"));
  EXPECT_EQ(ReadFile("old.ini"), WriteProfileText(engine_.Settings()));
  EXPECT_TRUE(engine_.SaveProfile("new name.ini"));
  EXPECT_EQ(ReadFile("new name.ini"), WriteProfileText(engine_.Settings()));
  EXPECT_TRUE(sink_.Texts().empty());
  // No temporary file is left beside the profile.
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 2);
}

TEST_F(EngineTest, FailedSaveKeepsTheOperatorsProfile) {
  engine_.Settings() = SampleSettings();
  EXPECT_FALSE(engine_.SaveProfile("nofolder\\p.ini"));
  EXPECT_EQ(sink_.Texts(), Texts{"nofolder\\p.ini File/Path Not Exist"});

  // The temporary file cannot be created (a name of 250 characters has no
  // room for the temporary's suffix): the old profile stays whole.
  const std::string name = std::string(246, 'p') + ".ini";
  WriteFile(name, "format_enable=1\r\n");
  sink_.Clear();
  EXPECT_FALSE(engine_.SaveProfile(name));
  EXPECT_EQ(ReadFile(name), "format_enable=1\r\n");
  EXPECT_EQ(sink_.Texts(), Texts{name + " File/Path Not Read/Write"});
}

TEST_F(EngineTest, PathAccessOfFilesFoldersAndDriveRoots) {
  WriteFile("fw.bin", "x");
  EXPECT_TRUE(engine_.CheckPathAccess("fw.bin", true));
  EXPECT_TRUE(engine_.CheckPathAccess(platform::ToStationPath(Host("fw.bin")), true));
  EXPECT_FALSE(engine_.CheckPathAccess("fw2.bin", false));
  EXPECT_TRUE(sink_.Texts().empty());
  std::filesystem::create_directories(dir_ / "drives" / "E");
  engine_.SetDriveRoot(Host("drives"));
  EXPECT_TRUE(engine_.CheckPathAccess("E:\\", true));
  EXPECT_FALSE(engine_.CheckPathAccess("F:\\", true));
  EXPECT_EQ(sink_.Texts(), Texts{"F:\\ File/Path Not Exist"});
}

TEST_F(EngineTest, ResetClearsSettingsTypeAndBlocks) {
  engine_.Settings() = SampleSettings();
  engine_.SetConfigType(0);
  ConfigBlock port{};
  engine_.ComposePortBlock(3, port);
  engine_.Reset();
  EXPECT_EQ(engine_.Settings(), ProfileSettings{});
  EXPECT_EQ(engine_.ConfigType(), 1);
  EXPECT_EQ(engine_.Limits().manufacturer_length, 44u);
  EXPECT_EQ(engine_.Limits().label_length, 32u);
  EXPECT_EQ(engine_.ActiveBlock(), ConfigBlock{});
  EXPECT_EQ(engine_.TemplateBlock(0), ConfigBlock{});
  EXPECT_EQ(engine_.TemplateBlock(1), ConfigBlock{});
}

TEST(SampleProfile, LoadsWithoutAnyMessage) {
  const std::filesystem::path res(test_support::kResourceDir);
  platform::RecordingSink sink;
  platform::linux_host::HostPathAccess access;
  CLineEngine engine(sink, access, res.string());
  EXPECT_TRUE(engine.LoadProfile("kl_line_Tool v0.3.ini"));
  EXPECT_TRUE(sink.Texts().empty());
  const ProfileSettings& s = engine.Settings();
  for (const auto* path : {&s.fw_binary_name, &s.wr_test_binary_name, &s.preload_folder_path}) {
    EXPECT_TRUE(engine.CheckPathAccess(std::string(TextOf(*path)), true)) << TextOf(*path);
  }
  engine.SetFirmwarePath(std::string(TextOf(s.fw_binary_name)));
  EXPECT_TRUE(engine.CheckFirmwareName());
  EXPECT_EQ(TextOf(s.serial_number).size(), 12u);
}

}  // namespace
}  // namespace linetool::profile
