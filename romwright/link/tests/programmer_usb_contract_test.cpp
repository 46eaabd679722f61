// The contract of the programmer's USB interface, run against every backend:
// the simulated programmer, the libusb backend over a fake libusb context
// whose programmer is the simulated one, and the libusb backend on this
// machine's bus (only where a programmer is attached; the device faults need
// the simulator).

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/linux/host_services.h"
#include "platform/linux/programmer_usb_libusb.h"
#include "platform/linux/tests/fake_libusb.h"
#include "romwright/link/tests/link_test_support.h"
#include "sim/programmer/sim_programmer.h"

namespace romwright::link {
namespace {

using platform::ProgrammerChannel;
using platform::UsbTransferStatus;
using Millis = platform::Clock::Millis;
using Bytes = std::vector<std::uint8_t>;

enum class Backend { kSim, kLibusbOverFake, kLibusbOnTheBus };

std::string NameOf(const ::testing::TestParamInfo<Backend>& info) {
  switch (info.param) {
    case Backend::kSim: return "Simulator";
    case Backend::kLibusbOverFake: return "LibusbOverFakeContext";
    case Backend::kLibusbOnTheBus: return "LibusbOnTheBus";
  }
  return "Unknown";
}

const Bytes kReadId = {0x15, 0x00, 0x01};  // READ ID of an SPI flash
const Bytes kVersion = {0x17, 0x00};

class ProgrammerUsbContract : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    switch (GetParam()) {
      case Backend::kSim:
        device_ = std::make_unique<sim::programmer::SimProgrammer>(clock_, Chip());
        usb_ = device_.get();
        break;
      case Backend::kLibusbOverFake:
        device_ = std::make_unique<sim::programmer::SimProgrammer>(clock_, Chip());
        fake_ = std::make_unique<platform::linux_host::testing::FakeLibusb>(device_.get());
        libusb_ = std::make_unique<platform::linux_host::LibusbProgrammer>(*fake_);
        usb_ = libusb_.get();
        break;
      case Backend::kLibusbOnTheBus:
        libusb_ = std::make_unique<platform::linux_host::LibusbProgrammer>();
        if (!libusb_->Usable()) GTEST_SKIP() << "libusb cannot start on this machine";
        if (!libusb_->Find()) GTEST_SKIP() << "no programmer is attached to this machine";
        usb_ = libusb_.get();
        break;
    }
  }

  static ChipRecord Chip() {
    return romwright::testing::MakeChip(ChipType::kSpiFlash, "EN25T80", 1 << 20, 0x1C, 0x13);
  }
  // The device faults below need the simulated programmer.
  sim::programmer::SimProgrammer& Device() { return *device_; }
  bool Simulated() const { return device_ != nullptr; }

  std::unique_ptr<platform::ProgrammerChannels> OpenProgrammer() {
    const auto location = usb_->Find();
    if (!location) return nullptr;
    return usb_->Open(*location);
  }

  // Sends a command and reads one transfer of at most `room` bytes.
  platform::UsbTransferResult Ask(platform::ProgrammerChannels& ch, const Bytes& command,
                                  std::size_t room, Bytes& reply) {
    EXPECT_TRUE(ch.Write(command, Millis{1000}, {}).ok());
    reply.assign(room, 0);
    const auto r = ch.Read(reply, Millis{1000}, {});
    reply.resize(std::min(r.transferred, room));
    return r;
  }

  romwright::testing::VirtualClock clock_;
  std::unique_ptr<sim::programmer::SimProgrammer> device_;
  std::unique_ptr<platform::linux_host::testing::FakeLibusb> fake_;
  std::unique_ptr<platform::linux_host::LibusbProgrammer> libusb_;
  platform::ProgrammerUsb* usb_ = nullptr;
};

TEST_P(ProgrammerUsbContract, OpensTheFoundProgrammerWithBothChannelsClaimed) {
  const auto location = usb_->Find();
  ASSERT_TRUE(location);
  auto ch = usb_->Open(*location);
  ASSERT_TRUE(ch);
  EXPECT_EQ(ch->Location(), *location);
  EXPECT_TRUE(ch->IsOpen(ProgrammerChannel::kWrite));
  EXPECT_TRUE(ch->IsOpen(ProgrammerChannel::kRead));
  EXPECT_EQ(usb_->Open("no such place"), nullptr);
  if (!Simulated()) return;

  // Channels that cannot be claimed open closed, and their transfers fail at once.
  ch.reset();
  Device().RefuseChannels(true, true);
  ch = OpenProgrammer();
  ASSERT_TRUE(ch);
  EXPECT_FALSE(ch->IsOpen(ProgrammerChannel::kWrite));
  EXPECT_FALSE(ch->IsOpen(ProgrammerChannel::kRead));
  EXPECT_EQ(ch->Write(kReadId, Millis{100}, {}).status, UsbTransferStatus::kError);
  Bytes room(8);
  EXPECT_EQ(ch->Read(room, Millis{100}, {}).status, UsbTransferStatus::kError);
  EXPECT_EQ(Device().CommandCount(), 0);
}

TEST_P(ProgrammerUsbContract, AReadWithNothingToReadTimesOut) {
  auto ch = OpenProgrammer();
  ASSERT_TRUE(ch);
  Bytes room(64);
  const auto before = clock_.Now();
  const auto r = ch->Read(room, Millis{50}, {});
  EXPECT_EQ(r.status, UsbTransferStatus::kTimedOut);
  EXPECT_EQ(r.transferred, 0u);
  if (Simulated()) {
    EXPECT_GE(clock_.Now() - before, Millis{50});
  }
}

TEST_P(ProgrammerUsbContract, ShortPacketsEndATransferAndLongOnesOverflowIt) {
  if (!Simulated()) GTEST_SKIP() << "needs replies of chosen lengths from the simulated programmer";
  auto ch = OpenProgrammer();
  ASSERT_TRUE(ch);
  Bytes reply;
  // A 5-byte reply ends a read of 64 bytes early, as a success.
  auto r = Ask(*ch, kReadId, 64, reply);
  EXPECT_EQ(r.status, UsbTransferStatus::kOk);
  EXPECT_EQ(reply, (Bytes{0x15, 0x02, 0x1C, 0x13, 0x00}));

  // Whole packets fill a read of whole packets; the rest comes with the next.
  r = Ask(*ch, kVersion, 64, reply);
  EXPECT_EQ(r.status, UsbTransferStatus::kOk);
  EXPECT_EQ(reply.size(), 64u);
  Bytes rest(64);
  r = ch->Read(rest, Millis{1000}, {});
  EXPECT_EQ(r.status, UsbTransferStatus::kOk);
  EXPECT_EQ(r.transferred, 38u);

  // A packet longer than the room left overflows: the bytes that fit arrive,
  // the rest of that packet is lost.
  Device().LengthenNextReply(2);
  r = Ask(*ch, kReadId, 5, reply);
  EXPECT_EQ(r.status, UsbTransferStatus::kOverflow);
  EXPECT_EQ(reply, (Bytes{0x15, 0x02, 0x1C, 0x13, 0x00}));
  EXPECT_EQ(ch->Read(rest, Millis{50}, {}).status, UsbTransferStatus::kTimedOut);

  // The channel goes on working.
  r = Ask(*ch, kReadId, 5, reply);
  EXPECT_EQ(r.status, UsbTransferStatus::kOk);
  EXPECT_EQ(reply.size(), 5u);
}

TEST_P(ProgrammerUsbContract, AStopCancelsAPendingReadAndTheChannelStaysUsable) {
  auto ch = OpenProgrammer();
  ASSERT_TRUE(ch);
  std::stop_source stop;
  Bytes room(64);
  auto pending = std::async(std::launch::async, [&] { return ch->Read(room, Millis{0}, stop.get_token()); });
  EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  stop.request_stop();
  EXPECT_EQ(pending.get().status, UsbTransferStatus::kCancelled);
  if (!Simulated()) return;
  Bytes reply;
  EXPECT_EQ(Ask(*ch, kReadId, 64, reply).status, UsbTransferStatus::kOk);
  EXPECT_EQ(reply.size(), 5u);
}

TEST_P(ProgrammerUsbContract, AnUnpluggedProgrammerEndsPendingAndLaterTransfers) {
  if (!Simulated()) GTEST_SKIP() << "needs the simulated programmer to unplug";
  auto ch = OpenProgrammer();
  ASSERT_TRUE(ch);
  Bytes room(64);
  auto pending = std::async(std::launch::async, [&] { return ch->Read(room, Millis{0}, {}); });
  EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  Device().Unplug();
  EXPECT_EQ(pending.get().status, UsbTransferStatus::kNoDevice);
  EXPECT_EQ(ch->Write(kReadId, Millis{100}, {}).status, UsbTransferStatus::kNoDevice);
  EXPECT_FALSE(usb_->Find());
  Device().Plug();
  auto again = OpenProgrammer();
  ASSERT_TRUE(again);
  EXPECT_NE(again->Location(), ch->Location());  // a new enumeration
}

INSTANTIATE_TEST_SUITE_P(Backends, ProgrammerUsbContract,
                         ::testing::Values(Backend::kSim, Backend::kLibusbOverFake,
                                           Backend::kLibusbOnTheBus),
                         NameOf);

}  // namespace
}  // namespace romwright::link
