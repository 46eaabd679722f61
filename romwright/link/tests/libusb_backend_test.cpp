// The libusb backend's own logic against a fake libusb context: which device
// it takes, where it opens again, and how libusb's errors become results.

#include <gtest/gtest.h>

#include "platform/linux/programmer_usb_libusb.h"
#include "platform/linux/tests/fake_libusb.h"
#include "romwright/link/tests/link_test_support.h"
#include "sim/programmer/sim_programmer.h"
#include "tools/testing/scratch_dir.h"

#include <fstream>

namespace romwright::link {
namespace {

using platform::ProgrammerChannel;
using platform::UsbTransferStatus;
using platform::linux_host::LibusbProgrammer;
using platform::linux_host::testing::FakeLibusb;
using Millis = platform::Clock::Millis;
using Bytes = std::vector<std::uint8_t>;

class LibusbBackendTest : public ::testing::Test {
 protected:
  LibusbBackendTest()
      : device_(clock_, romwright::testing::MakeChip(ChipType::kSpiFlash, "EN25T80", 1 << 20, 0x1C, 0x13)),
        fake_(&device_, 3) {}

  romwright::testing::VirtualClock clock_;
  sim::programmer::SimProgrammer device_;
  FakeLibusb fake_;
};

TEST_F(LibusbBackendTest, TakesTheFirstDeviceWithBothIdsAndNamesItByBusAndAddress) {
  // Devices that share one of the IDs only come first on the bus.
  fake_.AddDevice(1, 4, platform::kProgrammerVendorId, 0xEA60);
  fake_.AddDevice(2, 7, 0x1234, platform::kProgrammerProductId);
  LibusbProgrammer usb(fake_);
  ASSERT_TRUE(usb.Usable());
  EXPECT_EQ(usb.Find(), "3-1");
  EXPECT_EQ(usb.Open("1-4"), nullptr);  // not the programmer, though something is there
  EXPECT_EQ(usb.Open("2-7"), nullptr);
  EXPECT_EQ(fake_.opens, 0);
  auto ch = usb.Open("3-1");
  ASSERT_TRUE(ch);
  EXPECT_EQ(ch->Location(), "3-1");
  EXPECT_EQ(fake_.claims, 1);
  ch.reset();
  EXPECT_EQ(fake_.releases, 1);
  EXPECT_EQ(fake_.closes, 1);

  device_.Unplug();
  EXPECT_FALSE(usb.Find());
}

TEST_F(LibusbBackendTest, OpensOnlyWhereTheProgrammerIsNow) {
  LibusbProgrammer usb(fake_);
  const auto first = usb.Find();
  ASSERT_TRUE(first);
  auto ch = usb.Open(*first);
  ASSERT_TRUE(ch);
  // It enumerates again (as after a firmware update) at a new address.
  device_.Unplug();
  device_.Plug();
  const auto second = usb.Find();
  ASSERT_TRUE(second);
  EXPECT_NE(*second, *first);
  EXPECT_EQ(usb.Open(*first), nullptr);
  EXPECT_EQ(ch->Write(Bytes{0x15, 0x00, 0x01}, Millis{100}, {}).status, UsbTransferStatus::kNoDevice);
  auto again = usb.Open(*second);
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->Write(Bytes{0x15, 0x00, 0x01}, Millis{100}, {}).ok());
}

TEST_F(LibusbBackendTest, LibusbErrorsBecomeResults) {
  fake_.init_error = LIBUSB_ERROR_OTHER;
  LibusbProgrammer dead(fake_);
  EXPECT_FALSE(dead.Usable());
  EXPECT_FALSE(dead.Find());
  fake_.init_error = 0;

  LibusbProgrammer usb(fake_);
  const auto location = usb.Find();
  ASSERT_TRUE(location);
  fake_.open_error = LIBUSB_ERROR_ACCESS;  // no udev rule: no programmer to use
  EXPECT_EQ(usb.Open(*location), nullptr);
  fake_.open_error = 0;

  fake_.claim_error = LIBUSB_ERROR_BUSY;  // another program holds the interface
  auto ch = usb.Open(*location);
  ASSERT_TRUE(ch);
  EXPECT_FALSE(ch->IsOpen(ProgrammerChannel::kWrite));
  EXPECT_FALSE(ch->IsOpen(ProgrammerChannel::kRead));
  EXPECT_EQ(ch->Write(Bytes{0x17, 0x00}, Millis{100}, {}).status, UsbTransferStatus::kError);
  ch.reset();
  EXPECT_EQ(fake_.releases, 0);  // nothing was claimed
  EXPECT_EQ(fake_.closes, 1);
  fake_.claim_error = 0;

  fake_.has_in = false;  // an interface without its bulk IN endpoint
  ch = usb.Open(*location);
  ASSERT_TRUE(ch);
  EXPECT_TRUE(ch->IsOpen(ProgrammerChannel::kWrite));
  EXPECT_FALSE(ch->IsOpen(ProgrammerChannel::kRead));
  fake_.has_in = true;

  ch = usb.Open(*location);
  ASSERT_TRUE(ch);
  fake_.submit_error = LIBUSB_ERROR_NO_DEVICE;
  EXPECT_EQ(ch->Write(Bytes{0x17, 0x00}, Millis{100}, {}).status, UsbTransferStatus::kNoDevice);
  fake_.submit_error = LIBUSB_ERROR_IO;
  EXPECT_EQ(ch->Write(Bytes{0x17, 0x00}, Millis{100}, {}).status, UsbTransferStatus::kError);
  fake_.submit_error = 0;
}

// The bulk endpoints in alternate setting 1, after a setting 0 without
// endpoints: they carry transfers only once setting 1 is selected, after the
// claim. An interface with one setting is left as it is.
TEST_F(LibusbBackendTest, SelectsTheAlternateSettingThatHoldsTheBulkEndpoints) {
  LibusbProgrammer usb(fake_);
  const auto location = usb.Find();
  ASSERT_TRUE(location);
  auto ch = usb.Open(*location);
  ASSERT_TRUE(ch);
  EXPECT_TRUE(fake_.alt_selections.empty());
  ch.reset();

  fake_.bulk_alt_setting = 1;
  ch = usb.Open(*location);
  ASSERT_TRUE(ch);
  EXPECT_EQ(fake_.alt_selections, (std::vector<std::pair<int, int>>{{0, 1}}));
  ASSERT_TRUE(ch->IsOpen(ProgrammerChannel::kWrite));
  ASSERT_TRUE(ch->IsOpen(ProgrammerChannel::kRead));
  ASSERT_TRUE(ch->Write(Bytes{0x15, 0x00, 0x01}, Millis{100}, {}).ok());
  Bytes reply(5);
  EXPECT_EQ(ch->Read(reply, Millis{100}, {}).status, UsbTransferStatus::kOk);
  EXPECT_EQ(reply, (Bytes{0x15, 0x02, 0x1C, 0x13, 0x00}));
  ch.reset();

  // A setting the device refuses leaves the channels closed and the interface free.
  fake_.alt_setting_error = LIBUSB_ERROR_IO;
  const int releases = fake_.releases;
  ch = usb.Open(*location);
  ASSERT_TRUE(ch);
  EXPECT_FALSE(ch->IsOpen(ProgrammerChannel::kWrite));
  EXPECT_FALSE(ch->IsOpen(ProgrammerChannel::kRead));
  EXPECT_EQ(fake_.releases, releases + 1);
  ch.reset();
  EXPECT_EQ(fake_.releases, releases + 1);
}

TEST_F(LibusbBackendTest, ReadsGoOutInWholePacketsOfTheEndpoint) {
  fake_.in_packet_size = 512;
  LibusbProgrammer usb(fake_);
  auto ch = usb.Open(*usb.Find());
  ASSERT_TRUE(ch);
  ASSERT_TRUE(ch->Write(Bytes{0x15, 0x00, 0x01}, Millis{100}, {}).ok());
  Bytes reply(5);
  const auto r = ch->Read(reply, Millis{100}, {});
  EXPECT_EQ(r.status, UsbTransferStatus::kOk);
  EXPECT_EQ(reply, (Bytes{0x15, 0x02, 0x1C, 0x13, 0x00}));
  Bytes chunk(4096);
  EXPECT_EQ(ch->Read(chunk, Millis{10}, {}).status, UsbTransferStatus::kTimedOut);
  EXPECT_EQ(fake_.read_lengths, (std::vector<int>{512, 4096}));
}

TEST(ProgrammerAccessHint, NamesTheRuleThatIsInstalledOrSaysHowToInstallIt) {
  const auto dir = test_support::ScratchDir("romwright_access_hint");
  const std::string etc = (dir / "etc").string();
  const std::string lib = (dir / "lib").string();
  std::filesystem::create_directories(etc);
  std::filesystem::create_directories(lib);
  const auto none = platform::linux_host::ProgrammerAccessHint({etc, lib});
  EXPECT_TRUE(none.starts_with("No udev rule gives access to the programmer: install 60-romwright-programmer.rules"))
      << none;
  std::ofstream(lib + "/60-romwright-programmer.rules") << "# rule\n";
  const auto packaged = platform::linux_host::ProgrammerAccessHint({etc, lib});
  EXPECT_NE(packaged.find(lib + "/60-romwright-programmer.rules"), std::string::npos) << packaged;
  // A local rule overrides the packaged one, as udev reads it.
  std::ofstream(etc + "/60-romwright-programmer.rules") << "# rule\n";
  const auto local = platform::linux_host::ProgrammerAccessHint({etc, lib});
  EXPECT_NE(local.find(etc + "/60-romwright-programmer.rules"), std::string::npos) << local;
}

}  // namespace
}  // namespace romwright::link
