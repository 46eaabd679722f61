#include <gtest/gtest.h>

#include <string>

#include "engine_fixture.h"
#include "linetool/profile/config_block.h"
#include "linetool/profile/firmware_image.h"
#include "linetool/profile/serial_number.h"

namespace linetool::profile {
namespace {

using testing::EngineTest;

std::string TextAt(const ConfigBlock& b, std::size_t offset, std::size_t size) {
  std::string s;
  for (std::size_t i = offset; i < offset + size && b[i] != 0xFF; ++i) s += static_cast<char>(b[i]);
  return s;
}

ConfigBlock Filled(std::uint8_t value) {
  ConfigBlock b;
  b.fill(value);
  return b;
}

void SetPanel(ProfileSettings& s) {
  SetText(s.vendor_id, "0F3C");
  SetText(s.product_id, "0x7700");
  SetText(s.device_revision, "1.05");  // reads as 0x1
  SetText(s.serial_number, "00000000000000000FFF");
  SetText(s.manufacturer_string, "VX Storage");
  SetText(s.product_string, "VX7700 Enclosure");
}

TEST_F(EngineTest, Type1BlockLayoutSignatureAndChecksum) {
  SetPanel(engine_.Settings());
  engine_.Settings().standby_timer = 3;
  engine_.SetConfigType(1);
  ConfigBlock port{};
  ASSERT_TRUE(engine_.ComposePortBlock(2, port));
  EXPECT_EQ(port, engine_.ActiveBlock());
  EXPECT_EQ(port, engine_.TemplateBlock(1));
  EXPECT_EQ(engine_.TemplateBlock(0), Filled(0xFF)) << "the other template stays blank";
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(port[i], 0xFF);
  // serial_number_increase is 0: every port gets the base serial number.
  EXPECT_EQ(TextAt(port, 0x04, 20), "00000000000000000FFF");
  EXPECT_EQ(TextAt(port, 0x18, 44), "VX Storage");
  EXPECT_EQ(port[0x18 + 10], 0xFF);
  EXPECT_EQ(TextAt(port, 0x44, 48), "VX7700 Enclosure");
  EXPECT_EQ(port[0x74], 0x3C);
  EXPECT_EQ(port[0x75], 0x0F);
  EXPECT_EQ(port[0x76], 0x00);
  EXPECT_EQ(port[0x77], 0x77);
  EXPECT_EQ(port[0x78], 0x01);
  EXPECT_EQ(port[0x79], 0x00);
  EXPECT_EQ(port[0x7A], 0xF3);
  EXPECT_EQ(port[0x7B], 0xFF);
  EXPECT_EQ(port[0x7C], 0x02);
  EXPECT_EQ(port[0x7D], 0xFF);
  EXPECT_EQ(port[0x7E], 0x5A);
  unsigned sum = 0;
  for (std::size_t i = 4; i <= 0x7E; ++i) sum += port[i];
  EXPECT_EQ(port[0x7F], sum & 0xFF);
  EXPECT_TRUE(ConfigBlockIsValid(port));
  port[0x20] ^= 1;
  EXPECT_FALSE(ConfigBlockIsValid(port));
}

TEST_F(EngineTest, Type0BlockLayoutAndUnparsableIdentifiers) {
  SetPanel(engine_.Settings());
  SetText(engine_.Settings().product_id, "zz");
  SetText(engine_.Settings().vendor_id, "12345");  // low 16 bits
  engine_.Settings().U1U2 = 1;
  engine_.Settings().standby_timer = 3;
  engine_.Settings().serial_number_increase = 1;
  engine_.SetConfigType(0);
  ConfigBlock port{};
  ASSERT_TRUE(engine_.ComposePortBlock(1, port));
  EXPECT_EQ(TextAt(port, 0x04, 20), "00000000000000001000");
  EXPECT_EQ(TextAt(port, 0x18, 28), "VX Storage");
  EXPECT_EQ(TextAt(port, 0x34, 28), "VX7700 Enclosure");
  EXPECT_EQ(port[0x50], 0x45);
  EXPECT_EQ(port[0x51], 0x23);
  EXPECT_EQ(port[0x52], 0xFF);
  EXPECT_EQ(port[0x53], 0xFF);
  EXPECT_EQ(port[0x56], 0xFF);
  EXPECT_EQ(port[0x57], 0x00);
  EXPECT_EQ(port[0x58], 0x02);
  for (std::size_t i = 0x59; i < 0x7E; ++i) EXPECT_EQ(port[i], 0xFF) << i;
  EXPECT_TRUE(ConfigBlockIsValid(port));
  EXPECT_EQ(port, engine_.TemplateBlock(0));
}

TEST_F(EngineTest, InvalidTypeGivesAZeroBlockAndBadSlotsChangeNothing) {
  SetPanel(engine_.Settings());
  engine_.SetConfigType(2);
  ConfigBlock port;
  port.fill(0x11);
  EXPECT_FALSE(engine_.ComposePortBlock(0, port));
  EXPECT_EQ(port, ConfigBlock{});
  port.fill(0x11);
  EXPECT_FALSE(engine_.ComposePortBlock(16, port));
  EXPECT_FALSE(engine_.ComposePortBlock(-1, port));
  EXPECT_EQ(port[0], 0x11);
}

TEST_F(EngineTest, TemplateSelection) {
  SetPanel(engine_.Settings());
  ConfigBlock port{};
  engine_.ComposePortBlock(0, port);
  engine_.SelectTemplate(true);
  EXPECT_EQ(engine_.ActiveBlock(), ConfigBlock{});
  engine_.SelectTemplate(false);
  EXPECT_EQ(engine_.ActiveBlock(), port);
  engine_.SetConfigType(0);
  engine_.SelectTemplate(false);
  EXPECT_EQ(engine_.ActiveBlock(), Filled(0xFF)) << "the type 0 template was left blank";
}

TEST_F(EngineTest, OverlongTextsStayInsideTheirFields) {
  SetText(engine_.Settings().manufacturer_string, std::string(60, 'M'));
  SetText(engine_.Settings().product_string, std::string(60, 'P'));
  engine_.SetConfigType(0);
  ConfigBlock port{};
  engine_.ComposePortBlock(0, port);
  EXPECT_EQ(TextAt(port, 0x18, 28), std::string(28, 'M'));
  EXPECT_EQ(TextAt(port, 0x34, 28), std::string(28, 'P'));
  EXPECT_EQ(port[0x50], 0xFF);
}

TEST(ConfigBytes, StandbyByte) {
  ProfileSettings s{};
  EXPECT_EQ(StandbyByte(s), 0xFF);
  s.standby_timer = 1;
  EXPECT_EQ(StandbyByte(s), 0xF1);
  s.standby_timer = 11;
  EXPECT_EQ(StandbyByte(s), 0xFB);
  s.standby_timer = 12;
  EXPECT_EQ(StandbyByte(s), 0xFF);
  s.Win8WTG = 1;
  s.HDDPC = 1;
  EXPECT_EQ(StandbyByte(s), 0xCF);
  s.standby_timer = 5;
  EXPECT_EQ(StandbyByte(s), 0xC5);
}

TEST(ConfigBytes, OptionByteClearsOneBitPerOption) {
  ProfileSettings s{};
  EXPECT_EQ(OptionByte(s), 0xFF);
  s.U1U2 = 1;
  s.two_tb = 1;
  EXPECT_EQ(OptionByte(s), 0xAF);
  s = ProfileSettings{};
  s.customized_string = 1;
  s.eup_enable = 2;  // any non-zero value is on
  s.two_leds = 1;
  s.hdd_standby = 1;
  EXPECT_EQ(OptionByte(s), 0xF0);
  s.low_power_mode = 1;
  s.slow_enumeration = 1;
  EXPECT_EQ(OptionByte(s), 0x50);
}

TEST(SerialNumber, UpperCaseHexCountsUpInPlace) {
  EXPECT_EQ(IncreaseSerialNumber("0000000000000FFF", 1), "0000000000001000");
  EXPECT_EQ(IncreaseSerialNumber("FFFFFFFFFFFF", 1), "000000000000");
  EXPECT_EQ(IncreaseSerialNumber("0000A0000001", 0), "0000A0000001");
  EXPECT_EQ(IncreaseSerialNumber("0000A0000001", 15), "0000A0000010");
  EXPECT_EQ(IncreaseSerialNumber("09", 1), "0A");
  EXPECT_EQ(IncreaseSerialNumber("1F", 15), "2E");
  EXPECT_EQ(IncreaseSerialNumber("", 5), "");
}

TEST(SerialNumber, OtherTextsCountTheirLastSevenCharacters) {
  EXPECT_EQ(IncreaseSerialNumber("00001a", 1), "1B");
  EXPECT_EQ(IncreaseSerialNumber("abcdef0123456", 2), "abcdef123458");
  EXPECT_EQ(IncreaseSerialNumber("SN-0000009", 1), "SN-A");
  EXPECT_EQ(IncreaseSerialNumber("0000000f", 1), "010");
}

TEST(FirmwareName, CheckedOnlyWhenAnOptionIsOn) {
  ProfileSettings s{};
  EXPECT_TRUE(FirmwareNameAccepted("C:\\fw\\anything.bin", s));
  s.low_power_mode = 1;
  s.Win8WTG = 1;
  EXPECT_TRUE(FirmwareNameAccepted("C:\\fw\\anything.bin", s));
  s.two_leds = 1;
  EXPECT_FALSE(FirmwareNameAccepted("C:\\fw\\anything.bin", s));
  EXPECT_TRUE(FirmwareNameAccepted("C:\\fw\\121105_10_0000.bin", s));
  EXPECT_TRUE(FirmwareNameAccepted("120416_30_0000_x.bin", s));
  // The name is cut to 15 characters before the "_" are removed.
  EXPECT_FALSE(FirmwareNameAccepted("D:\\a_b\\12_04_16_1F_00_00.bin", s));
  EXPECT_FALSE(FirmwareNameAccepted("120415_10_0000.bin", s));  // date before 0x120416
  EXPECT_FALSE(FirmwareNameAccepted("121105_20_0000.bin", s));  // no bit 0x10
  EXPECT_FALSE(FirmwareNameAccepted("121105_10_0001.bin", s));
  EXPECT_FALSE(FirmwareNameAccepted("121105_10_000", s));        // too short
  EXPECT_FALSE(FirmwareNameAccepted("C:\\121105_10_0000\\x", s));  // only the file name counts
}

TEST(FirmwareName, BaseName) {
  EXPECT_EQ(FirmwareBaseName("C:\\fw.v2\\121105_10_0000.bin"), "121105_10_0000");
  EXPECT_EQ(FirmwareBaseName("a.b.bin"), "a.b");
  EXPECT_EQ(FirmwareBaseName("C:\\fw.v2\\plain"), "plain");
}

}  // namespace
}  // namespace linetool::profile
