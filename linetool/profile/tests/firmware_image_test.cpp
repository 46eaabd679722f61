#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "linetool/profile/firmware_image.h"
#include "tools/testing/test_paths.h"

namespace linetool::profile {
namespace {

using testing::EngineTest;

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed = 7) {
  std::vector<std::uint8_t> v(n);
  unsigned x = seed;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return v;
}

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

TEST(Crc32, KnownValues) {
  EXPECT_EQ(Crc32(Bytes("abc")), 0x352441C2u);
  EXPECT_EQ(Crc32(Bytes("123456789")), 0xCBF43926u);
  EXPECT_EQ(Crc32({}), 0u);
  const auto image = ComposeImage(Bytes("abc"), 0x4B, Crc32(Bytes("abc")));
  const std::vector<std::uint8_t> tail(image.end() - 4, image.end());
  EXPECT_EQ(tail, (std::vector<std::uint8_t>{0xC2, 0x41, 0x24, 0x35}));
}

TEST(ImageTypeByte, EveryChipCode) {
  struct Row { const char* code; int plain; int crc; };
  for (const Row r : {Row{"00", 0x5A, 0xA5}, Row{"001_B0", 0x5A, 0xA5}, Row{"001", 0x4B, 0xB4},
                      Row{"010", 0x3C, 0xBC}, Row{"011", 0x2D, 0xD2}, Row{"101", 0x1E, 0xE1},
                      Row{"110", 0x0F, 0xF0}, Row{"111", 0x69, 0x96}}) {
    EXPECT_EQ(ImageTypeByte(r.code, false), r.plain) << r.code;
    EXPECT_EQ(ImageTypeByte(r.code, true), r.crc) << r.code;
  }
  EXPECT_FALSE(ImageTypeByte("100", false));
  EXPECT_FALSE(ImageTypeByte("", true));
  EXPECT_FALSE(ImageTypeByte("001_b0", false));
}

class ImageFileTest : public EngineTest {
 protected:
  void UseFirmware(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    WriteBytes(name, bytes);
    SetText(engine_.Settings().fw_binary_name, name);
    engine_.SetFirmwarePath(name);
  }
};

TEST_F(ImageFileTest, ComposedImageParsesBackWithCrc) {
  const auto fw = Pattern(40000);
  UseFirmware("121105_10_0000.bin", fw);
  engine_.SetChipCode("001");
  ASSERT_TRUE(engine_.ComposeImageFile(true, "121105_10_0000.bin"));
  const auto image = ReadBytes("Temp/TempBinData.bin");
  ASSERT_EQ(image.size(), 40008u);
  EXPECT_EQ(image[0], 0x40);
  EXPECT_EQ(image[1], 0x9C);
  const auto parsed = ParseImage(image);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->firmware, fw);
  EXPECT_EQ(parsed->type_byte, 0xB4);
  unsigned sum = 0;
  for (auto b : fw) sum += b;
  EXPECT_EQ(parsed->sum, sum & 0xFF);
  EXPECT_EQ(parsed->crc, Crc32(fw));
  EXPECT_EQ(engine_.LastImageStatus(), ImageStatus::kOk);
}

TEST_F(ImageFileTest, WithoutCrcTheImageEndsWithTypeAndSum) {
  UseFirmware("fw.bin", Bytes("\x01\x02\xFF"));
  engine_.SetChipCode("111");
  ASSERT_TRUE(engine_.ComposeImageFile(false, "missing-but-unused.bin"));
  EXPECT_EQ(ReadBytes("Temp/TempBinData.bin"), (std::vector<std::uint8_t>{3, 0, 1, 2, 0xFF, 0x69, 0x02}));
}

TEST_F(ImageFileTest, UnknownChipCodeWritesTypeZeroAndFails) {
  UseFirmware("fw.bin", Bytes("abc"));
  engine_.SetChipCode("100");
  EXPECT_FALSE(engine_.ComposeImageFile(false, "fw.bin"));
  EXPECT_EQ(engine_.LastImageStatus(), ImageStatus::kUnknownChipCode);
  const auto parsed = ParseImage(ReadBytes("Temp/TempBinData.bin"));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->type_byte, 0);
  EXPECT_FALSE(engine_.BuildFlashImage(FlashImageKind::kUnConfig, false));
  EXPECT_EQ(ReadBytes("Temp/UnConfig_fw.bin").size(), 0u);
}

TEST_F(ImageFileTest, FirmwareTooLargeForTheLengthIsRefused) {
  engine_.SetChipCode("001");
  UseFirmware("big.bin", Pattern(65536));
  WriteFile("Temp/TempBinData.bin", "old");
  EXPECT_FALSE(engine_.ComposeImageFile(false, "big.bin"));
  EXPECT_EQ(engine_.LastImageStatus(), ImageStatus::kFirmwareTooLarge);
  EXPECT_EQ(ReadBytes("Temp/TempBinData.bin").size(), 0u);

  EXPECT_EQ(engine_.ImageFailureText(), "big.bin FW file size too large, 65535 bytes at most");

  // A 4 GiB file (sparse, so the test stays cheap) is refused after reading
  // no more than the length can describe; as CRC source too.
  UseFirmware("huge.bin", {0});
  std::filesystem::resize_file(dir_ / "huge.bin", std::uintmax_t{4} << 30);
  EXPECT_FALSE(engine_.ComposeImageFile(false, "huge.bin"));
  EXPECT_EQ(engine_.LastImageStatus(), ImageStatus::kFirmwareTooLarge);
  UseFirmware("max.bin", Pattern(65535));
  EXPECT_FALSE(engine_.ComposeImageFile(true, "huge.bin"));
  EXPECT_EQ(engine_.LastImageStatus(), ImageStatus::kFirmwareTooLarge);

  ASSERT_TRUE(engine_.ComposeImageFile(false, "max.bin"));
  const auto image = ReadBytes("Temp/TempBinData.bin");
  EXPECT_EQ(image.size(), 65539u);
  EXPECT_EQ(image[0], 0xFF);
  EXPECT_EQ(image[1], 0xFF);

  // An empty firmware would leave the bridge without one.
  UseFirmware("empty.bin", {});
  EXPECT_FALSE(engine_.ComposeImageFile(false, "empty.bin"));
  EXPECT_EQ(engine_.LastImageStatus(), ImageStatus::kFirmwareEmpty);
  EXPECT_EQ(ReadBytes("Temp/TempBinData.bin").size(), 0u);
  EXPECT_EQ(engine_.ImageFailureText(), "empty.bin FW file is empty");
}

TEST_F(ImageFileTest, MissingFirmwareOrCrcSourceLeavesAnEmptyImage) {
  engine_.SetChipCode("001");
  engine_.SetFirmwarePath("nothing.bin");
  EXPECT_FALSE(engine_.ComposeImageFile(false, "nothing.bin"));
  EXPECT_EQ(engine_.LastImageStatus(), ImageStatus::kFirmwareUnreadable);
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "Temp"));
  EXPECT_EQ(ReadBytes("Temp/TempBinData.bin").size(), 0u);

  UseFirmware("fw.bin", Bytes("abc"));
  EXPECT_FALSE(engine_.ComposeImageFile(true, "nothing.bin"));
  EXPECT_EQ(engine_.LastImageStatus(), ImageStatus::kCrcSourceUnreadable);
  EXPECT_EQ(ReadBytes("Temp/TempBinData.bin").size(), 0u);
  EXPECT_TRUE(sink_.Texts().empty());
}

TEST_F(ImageFileTest, FlashImagesCarryTheBlockThenTheImage) {
  std::filesystem::create_directory(dir_ / "fw.v1");
  const auto fw = Pattern(1000, 3);
  WriteBytes("fw.v1/120416_10_0000.bin", fw);
  SetText(engine_.Settings().fw_binary_name, "fw.v1\\120416_10_0000.bin");
  engine_.SetFirmwarePath("fw.v1\\120416_10_0000.bin");
  engine_.SetChipCode("00");
  SetText(engine_.Settings().vendor_id, "1234");
  ConfigBlock port{};
  engine_.ComposePortBlock(0, port);

  ASSERT_TRUE(engine_.BuildFlashImage(FlashImageKind::kConfig, true));
  EXPECT_EQ(engine_.FlashImagePath(FlashImageKind::kConfig), Host("Temp/Config_120416_10_0000.bin"));
  const auto config = ReadBytes("Temp/Config_120416_10_0000.bin");
  const auto image = ReadBytes("Temp/TempBinData.bin");
  ASSERT_EQ(config.size(), 128 + image.size());
  EXPECT_TRUE(std::equal(port.begin(), port.end(), config.begin()));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), config.begin() + 128));
  EXPECT_EQ(ParseImage(image)->crc, Crc32(fw));
  EXPECT_EQ(ParseImage(image)->type_byte, 0xA5);

  ASSERT_TRUE(engine_.BuildFlashImage(FlashImageKind::kUnConfig, false));
  const auto unconfig = ReadBytes("Temp/UnConfig_120416_10_0000.bin");
  ASSERT_EQ(unconfig.size(), 128 + 1000 + 4u);
  for (std::size_t i = 0; i < 128; ++i) ASSERT_EQ(unconfig[i], 0xFF);
  EXPECT_EQ(ParseImage(std::span(unconfig).subspan(128))->firmware, fw);
}

TEST_F(ImageFileTest, RememberedFirmwarePathsReplaceTheFile) {
  WriteFile("BrowsedBINPath.txt", std::string(100, 'x'));
  ASSERT_TRUE(engine_.RememberFirmwarePaths("C:\\fw\\b.bin\r\nC:\\fw\\a.bin\r\n"));
  EXPECT_EQ(ReadFile("BrowsedBINPath.txt"), "C:\\fw\\b.bin\r\nC:\\fw\\a.bin\r\n");
}

TEST(SampleFirmware, ComposesForTheDefaultChipVariant) {
  const std::filesystem::path res(test_support::kResourceDir);
  const auto size = std::filesystem::file_size(res / "121105_10_0000.bin");
  EXPECT_GT(size, 0u);
  EXPECT_LE(size, kMaxFirmwareSize);
  ProfileSettings options{};
  options.two_tb = 1;
  EXPECT_TRUE(FirmwareNameAccepted("121105_10_0000.bin", options));
  EXPECT_EQ(ImageTypeByte("001", false), 0x4B);
}

}  // namespace
}  // namespace linetool::profile
