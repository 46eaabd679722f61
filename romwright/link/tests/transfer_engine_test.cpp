#include "romwright/link/transfer_engine.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "romwright/link/tests/link_test_support.h"
#include "sim/programmer/sim_programmer.h"

namespace romwright::link {
namespace {

using romwright::testing::MakeChip;
using romwright::testing::VirtualClock;
using romwright::testing::WatchedUsb;
using sim::programmer::SimProgrammer;

class EngineTest : public ::testing::Test {
 protected:
  explicit EngineTest(ChipRecord chip = MakeChip(ChipType::kSpiFlash, "EN25T80", 1 << 20, 0x1C, 0x13))
      : chip_(chip), sim_(clock_, chip), usb_(sim_), link_(usb_, sink_), engine_(clock_) {
    engine_.SetLink(&link_);
    EXPECT_EQ(engine_.SetChip(chip), 1);
    EXPECT_EQ(link_.OpenLink(), 1);
  }

  // Polls as the window does, with 5 ms pauses, until done or failed.
  int PollToEnd() {
    for (;;) {
      const int s = engine_.Poll();
      if (s == kIdle || s == kFailed) return s;
      clock_.WaitFor(platform::Clock::Millis{5});
    }
  }

  ChipRecord chip_;
  VirtualClock clock_;
  SimProgrammer sim_;
  WatchedUsb usb_;
  platform::RecordingSink sink_;
  ProgrammerLink link_;
  TransferEngine engine_;
};

TEST(ChipParamsTest, DerivesBusParametersFromTheRecord) {
  ChipParams p;
  EXPECT_EQ(p, ChipParams{});
  auto e24 = MakeChip(ChipType::kEeprom24, "24C32", 4096);
  ASSERT_TRUE(DeriveChipParams(e24, p));
  EXPECT_EQ(p.type_code, 2);
  EXPECT_EQ(p.cfg0, 0x24);
  e24.capacity = 2048;
  ASSERT_TRUE(DeriveChipParams(e24, p));
  EXPECT_EQ(p.cfg0, 0x14);
  e24.device_id = 0xFE;  // the special addressing wins over the capacity
  e24.voltage = 50;
  ASSERT_TRUE(DeriveChipParams(e24, p));
  EXPECT_EQ(p.cfg0, 0x04);
  EXPECT_EQ(p.cfg2, 1);

  auto e25 = MakeChip(ChipType::kEeprom25, "25C040", 512);
  ASSERT_TRUE(DeriveChipParams(e25, p));
  EXPECT_EQ(p.type_code, 3);
  EXPECT_EQ(p.cfg0, 0x01);
  EXPECT_EQ(p.cfg2, 0);
  e25.capacity = 513;
  ASSERT_TRUE(DeriveChipParams(e25, p));
  EXPECT_EQ(p.cfg0, 0x11);

  auto e93 = MakeChip(ChipType::kEeprom93, "93C66", 512);
  e93.address_bits = 9;
  e93.organisation = 8;
  ASSERT_TRUE(DeriveChipParams(e93, p));
  EXPECT_EQ(p.type_code, 4);
  EXPECT_EQ(p.cfg0, 0x98);
  EXPECT_EQ(p.cfg1, 3);
  e93.organisation = 16;
  ASSERT_TRUE(DeriveChipParams(e93, p));
  EXPECT_EQ(p.cfg1, 1);

  // SPI flash leaves cfg1 as the previous chip set it; an unknown type changes nothing.
  ASSERT_TRUE(DeriveChipParams(MakeChip(ChipType::kSpiFlash, "W25Q80", 1 << 20), p));
  EXPECT_EQ(p, (ChipParams{1, 0x03, 1, 0, 0}));
  ChipRecord unknown = e93;
  unknown.type = 7;
  EXPECT_FALSE(DeriveChipParams(unknown, p));
  EXPECT_EQ(p, (ChipParams{1, 0x03, 1, 0, 0}));
}

TEST(PacketTest, BootPacketCarriesLengthAndSumsToZero) {
  const auto p = BootPacket(65536);
  ASSERT_EQ(p.size(), 23u);
  EXPECT_EQ(p[0], 0xF2);
  EXPECT_EQ(std::string(p.begin() + 1, p.begin() + 17), "USB BOOT COMMAND");
  EXPECT_EQ(p[17], 0x00);
  EXPECT_EQ((std::vector<std::uint8_t>(p.begin() + 18, p.begin() + 22)),
            (std::vector<std::uint8_t>{0x00, 0x01, 0x00, 0x00}));
  EXPECT_EQ(std::accumulate(p.begin(), p.end(), 0u) % 256, 0u);
}

TEST_F(EngineTest, ReadAndWritePacketsAreSentByteForByte) {
  std::vector<std::uint8_t> buffer(chip_.capacity);
  ASSERT_EQ(engine_.StartWrite(buffer.data(), 0, chip_.capacity, 256), 1);
  ASSERT_EQ(PollToEnd(), kIdle);
  ASSERT_EQ(engine_.StartRead(buffer.data(), 0, chip_.capacity), 1);
  ASSERT_EQ(PollToEnd(), kIdle);
  const auto log = sim_.CommandLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], (std::vector<std::uint8_t>{0x12, 0x0C, 0x01, 0, 0, 0, 0, 0x00, 0x10, 0x00, 0x00,
                                               0x01, 0x00, 0x03, 0, 0, 0}));
  EXPECT_EQ(log[1], (std::vector<std::uint8_t>{0x11, 0x0A, 0x01, 0, 0, 0, 0, 0x00, 0x10, 0x00, 0x00,
                                               0x03, 0, 0, 0}));
}

TEST_F(EngineTest, WriteThenReadRoundTripsAndReportsProgress) {
  std::vector<std::uint8_t> image(chip_.capacity);
  std::mt19937 rng(7);
  for (auto& b : image) b = static_cast<std::uint8_t>(rng());
  ASSERT_EQ(engine_.StartWrite(image.data(), 0, chip_.capacity, 256), 1);
  EXPECT_EQ(engine_.State(), kWriting);
  ASSERT_EQ(PollToEnd(), kIdle);
  EXPECT_EQ(engine_.Progress(), 100);
  EXPECT_EQ(sim_.ChipContents(), image);

  std::vector<std::uint8_t> back(chip_.capacity, 0);
  ASSERT_EQ(engine_.StartRead(back.data(), 0, chip_.capacity), 1);
  ASSERT_EQ(PollToEnd(), kIdle);
  EXPECT_EQ(engine_.ReadCount(), chip_.capacity);
  EXPECT_EQ(back, image);
}

TEST_F(EngineTest, ReadPhaseIsCutIntoChunksAndEndsAtAShortChunk) {
  std::vector<std::uint8_t> buffer(10000);
  usb_.ClearReadSizes();
  ASSERT_EQ(engine_.StartRead(buffer.data(), 0, 10000), 1);
  ASSERT_EQ(PollToEnd(), kIdle);
  // The reply read, then the data phase.
  EXPECT_EQ(usb_.ReadSizes(), (std::vector<std::size_t>{3, 4096, 4096, 1808}));
  EXPECT_EQ(engine_.ReadCount(), 10000u);

  sim_.EndReadPhasesAfter(5000);  // the device ends its data early
  usb_.ClearReadSizes();
  ASSERT_EQ(engine_.StartRead(buffer.data(), 0, 10000), 1);
  EXPECT_EQ(PollToEnd(), kIdle);
  EXPECT_EQ(engine_.ReadCount(), 5000u);
  EXPECT_EQ(usb_.ReadSizes(), (std::vector<std::size_t>{3, 4096, 4096}));
}

TEST_F(EngineTest, CommandsWhileBusyAreRefusedWithoutSending) {
  std::vector<std::uint8_t> buffer(chip_.capacity);
  usb_.HoldReadsFrom(4096);  // the data phase stalls
  ASSERT_EQ(engine_.StartRead(buffer.data(), 0, chip_.capacity), 1);
  EXPECT_EQ(engine_.Poll(), kReading);
  const int writes = usb_.writes;
  std::array<char, 100> version{};
  std::array<char, 20> serial{};
  std::array<char, 1000> report{};
  EXPECT_EQ(engine_.StartRead(buffer.data(), 0, 16), 0);
  EXPECT_EQ(engine_.StartWrite(buffer.data(), 0, 16, 1), 0);
  EXPECT_EQ(engine_.StartErase(), 0);
  EXPECT_EQ(engine_.ReadVersion(version), 0);
  EXPECT_EQ(engine_.ReadSerial(serial), 0);
  EXPECT_EQ(engine_.SelfTest(report), 0);
  EXPECT_EQ(engine_.StartBootUpdate(buffer.data(), 16), 0);
  EXPECT_EQ(usb_.writes, writes);
  EXPECT_EQ(sim_.CommandCount(), 1);

  engine_.AbortTransfer();
  EXPECT_EQ(engine_.Poll(), kIdle);
  usb_.Release();
  EXPECT_EQ(engine_.ReadVersion(version), 1);  // the channel is usable again
}

TEST_F(EngineTest, StalledDataPhaseIsStoppedAtTheChunkDeadline) {
  std::vector<std::uint8_t> buffer(chip_.capacity);
  usb_.HoldReadsFrom(4096);
  ASSERT_EQ(engine_.StartRead(buffer.data(), 0, chip_.capacity), 1);
  const auto started = clock_.Now();
  EXPECT_EQ(PollToEnd(), kFailed);
  EXPECT_GE(clock_.Now() - started, kChunkLimit);
  EXPECT_LT(clock_.Now() - started, kChunkLimit + platform::Clock::Millis{100});
  EXPECT_EQ(usb_.HeldReads(), 0);  // the pending read was cancelled
  EXPECT_EQ(engine_.State(), kIdle);
  usb_.Release();
  std::uint8_t m = 0, d = 0;
  EXPECT_EQ(engine_.ReadId(m, d), 1);
  EXPECT_EQ(m, 0x1C);
  EXPECT_EQ(d, 0x13);
}

TEST_F(EngineTest, EraseIsBusyUntilStatusReportsDone) {
  std::vector<std::uint8_t> data(chip_.capacity, 0x00);
  ASSERT_EQ(engine_.StartWrite(data.data(), 0, chip_.capacity, 256), 1);
  ASSERT_EQ(PollToEnd(), kIdle);
  ASSERT_EQ(engine_.StartErase(), 1);
  EXPECT_EQ(engine_.State(), kChipBusy);
  EXPECT_EQ(engine_.Poll(), kChipBusy);
  EXPECT_EQ(engine_.Progress(), 0);
  EXPECT_EQ(PollToEnd(), kIdle);
  EXPECT_EQ(engine_.Progress(), 100);
  const auto contents = sim_.ChipContents();
  EXPECT_TRUE(std::all_of(contents.begin(), contents.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(EngineTest, RepliesSkipForeignPacketsAndFailOnShortOrMissingOnes) {
  std::uint8_t m = 0, d = 0;
  sim_.InjectForeignPackets(2);
  EXPECT_EQ(engine_.ReadId(m, d), 1);
  EXPECT_EQ(m, 0x1C);

  std::vector<std::uint8_t> buffer(16);
  sim_.ShortenNextReply();
  EXPECT_EQ(engine_.StartRead(buffer.data(), 0, 16), 0);
  EXPECT_EQ(engine_.State(), kIdle);

  sim_.SetSilent(true);
  const auto before = clock_.Now();
  EXPECT_EQ(engine_.ReadId(m, d), 0);
  EXPECT_GE(clock_.Now() - before, platform::Clock::Millis{1000});
  sim_.SetSilent(false);
  EXPECT_EQ(engine_.ReadId(m, d), 1);

  sim_.Unplug();
  EXPECT_EQ(engine_.ReadId(m, d), 0);
  EXPECT_EQ(link_.OpenLink(), 0);
  EXPECT_EQ(link_.Channels(), nullptr);
  EXPECT_EQ(engine_.ReadId(m, d), 0);
}

TEST_F(EngineTest, PacketsLongerThanTheReplyAreDroppedAndNeverReachTheData) {
  std::uint8_t m = 0, d = 0;
  // Long foreign packets before the reply are read past.
  sim_.InjectForeignPackets(3, 100);
  EXPECT_EQ(engine_.ReadId(m, d), 1);
  EXPECT_EQ(m, 0x1C);

  // A reply with its own code but longer than any reply to the command is no
  // reply: the command fails after the reply time-out, and nothing of it is
  // left on the read channel for the next command.
  sim_.LengthenNextReply(2);
  const auto before = clock_.Now();
  EXPECT_EQ(engine_.ReadId(m, d), 0);
  EXPECT_GE(clock_.Now() - before, platform::Clock::Millis{1000});
  EXPECT_EQ(engine_.ReadId(m, d), 1);

  std::vector<std::uint8_t> image(4096);
  std::iota(image.begin(), image.end(), 1);
  sim_.SetChipContents(image);
  std::vector<std::uint8_t> back(4096, 0);
  sim_.LengthenNextReply(1);
  EXPECT_EQ(engine_.StartRead(back.data(), 0, 4096), 0);
  EXPECT_EQ(engine_.State(), kIdle);
  ASSERT_EQ(engine_.StartRead(back.data(), 0, 4096), 1);
  ASSERT_EQ(PollToEnd(), kIdle);
  EXPECT_EQ(back, image);

  // A short reply is refused at once.
  sim_.ShortenNextReply();
  EXPECT_EQ(engine_.ReadId(m, d), 0);
  EXPECT_EQ(engine_.ReadId(m, d), 1);
}

TEST_F(EngineTest, StaleDataOfAnAbortedReadPhaseIsReadPast) {
  std::vector<std::uint8_t> image(chip_.capacity, 0x5A);
  sim_.SetChipContents(image);
  sim_.KeepAbandonedData(4096);  // the programmer's whole transfer buffer
  std::vector<std::uint8_t> buffer(chip_.capacity);
  usb_.HoldReadsFrom(4096);
  ASSERT_EQ(engine_.StartRead(buffer.data(), 0, chip_.capacity), 1);
  engine_.AbortTransfer();
  usb_.Release();
  std::array<char, 100> version{};
  ASSERT_EQ(engine_.ReadVersion(version), 1);
  EXPECT_STREQ(version.data(), "FPR7100 V2.10 2026-03-02");
}

TEST_F(EngineTest, LinkIsReusedWhileTheSameDeviceIsThere) {
  EXPECT_EQ(usb_.opens, 1);
  EXPECT_EQ(link_.OpenLink(), 1);
  EXPECT_EQ(link_.OpenLink(), 1);
  EXPECT_EQ(usb_.opens, 1);
  sim_.Unplug();
  EXPECT_EQ(link_.OpenLink(), 0);
  sim_.Plug();
  EXPECT_EQ(link_.OpenLink(), 1);
  EXPECT_EQ(usb_.opens, 2);
  std::array<char, 100> version{};
  EXPECT_EQ(engine_.ReadVersion(version), 1);
}

TEST_F(EngineTest, ChannelsThatCannotBeClaimedAreShownOnceAndFailTheirCommands) {
  sim_.RefuseChannels(true, false);
  sim_.Unplug();
  sim_.Plug();
  ASSERT_EQ(link_.OpenLink(), 1);  // the programmer is there
  const auto location = link_.Channels()->Location();
  ASSERT_EQ(sink_.Boxes().size(), 1u);
  EXPECT_EQ(sink_.Boxes()[0].text, "Error opening Write device: " + location +
                                       "\\PIPE01\n\nApplication is aborting.\nReset hardware and try again.");
  EXPECT_EQ(sink_.Boxes()[0].icon, platform::MessageIcon::kWarning);
  const int commands = sim_.CommandCount();
  const int writes = usb_.writes;
  std::uint8_t m = 0, d = 0;
  std::array<char, 100> version{};
  EXPECT_EQ(engine_.ReadId(m, d), 0);
  EXPECT_EQ(engine_.ReadVersion(version), 0);
  EXPECT_EQ(usb_.writes, writes);
  EXPECT_EQ(sim_.CommandCount(), commands);

  // The link timer tries again without showing the box again.
  const int opens = usb_.opens;
  EXPECT_EQ(link_.OpenLink(), 1);
  EXPECT_EQ(usb_.opens, opens + 1);
  EXPECT_EQ(sink_.Boxes().size(), 1u);

  // Once the channels are free the link works.
  sim_.RefuseChannels(false, false);
  EXPECT_EQ(link_.OpenLink(), 1);
  EXPECT_EQ(engine_.ReadId(m, d), 1);
  EXPECT_EQ(link_.OpenLink(), 1);
  EXPECT_EQ(usb_.opens, opens + 2);  // reused from now on

  // Both channels held: one box for each, on the next device.
  sim_.RefuseChannels(true, true);
  sim_.Unplug();
  sim_.Plug();
  sink_.Clear();
  EXPECT_EQ(link_.OpenLink(), 1);
  const auto texts = sink_.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_TRUE(texts[0].starts_with("Error opening Write device: " + link_.Channels()->Location() + "\\PIPE01\n"));
  EXPECT_TRUE(texts[1].starts_with("Error opening Read device: " + link_.Channels()->Location() + "\\PIPE00\n"));
  EXPECT_EQ(engine_.ReadId(m, d), 0);
}

TEST_F(EngineTest, InformationCommandsTakeTheirReplies) {
  std::array<char, 100> version{};
  ASSERT_EQ(engine_.ReadVersion(version), 1);
  EXPECT_STREQ(version.data(), "FPR7100 V2.10 2026-03-02");
  std::array<char, 20> serial{};
  ASSERT_EQ(engine_.ReadSerial(serial), 1);
  EXPECT_STREQ(serial.data(), "FPR71000421");
  std::array<char, 1000> report{};
  ASSERT_EQ(engine_.SelfTest(report), 1);
  EXPECT_EQ(std::string(report.data(), 16), "Self-test V1: ok");
}

TEST_F(EngineTest, BootUpdateRunsThroughTheBootLoader) {
  std::vector<std::uint8_t> image(65536);
  std::iota(image.begin(), image.end(), 0);
  // The normal firmware leaves the bus on BOOT, so the first attempt fails.
  EXPECT_EQ(engine_.StartBootUpdate(image.data(), 65536), 0);
  EXPECT_EQ(link_.OpenLink(), 0);
  clock_.WaitFor(platform::Clock::Millis{1000});
  ASSERT_EQ(link_.OpenLink(), 1);
  EXPECT_TRUE(sim_.InBootMode());
  ASSERT_EQ(engine_.StartBootUpdate(image.data(), 65536), 1);
  EXPECT_EQ(PollToEnd(), kIdle);
  EXPECT_EQ(sim_.FirmwareImage(), image);
  EXPECT_EQ(sim_.FirmwareUpdates(), 1);
  EXPECT_EQ(sim_.CommandLog().back(), BootPacket(65536));
}

}  // namespace
}  // namespace romwright::link
