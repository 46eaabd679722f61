#include "romwright/app/chip_operations.h"

#include <gtest/gtest.h>

#include "programmer_fixture.h"

namespace romwright::app {
namespace {

using testing::ProgrammerFixture;

class ChipOperationsTest : public ProgrammerFixture {};

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

TEST_F(ChipOperationsTest, AutoThenReadRoundTripsEveryChipType) {
  const char* chips[] = {"EN25T80", "AT24C32", "25LC320", "93C66 (x8)", "93C46 (x16)"};
  unsigned seed = 1;
  for (const char* name : chips) {
    SCOPED_TRACE(name);
    Attach(name);
    const std::uint32_t capacity = ops_->SelectedChip().capacity;
    // Whatever the chip held before must not shine through.
    sim_->SetChipContents(RandomImage(capacity, seed++));
    const auto image = RandomImage(capacity, seed++);
    FillBuffer(image);
    ops_->Auto();
    ASSERT_EQ(ops_->OperationOk(), 1) << LastBox();
    EXPECT_EQ(sim_->ChipContents(), image);
    EXPECT_TRUE(StartsWith(status_->InfoText(), "Verify chip ok!   Elapsed time: "));
    EXPECT_TRUE(status_->InfoText().ends_with(" ms"));
    EXPECT_EQ(status_->ProgressText(), "100%");

    // The chip types that are not SPI flash go straight to writing.
    const auto log = sim_->CommandLog();
    const bool spi = ops_->SelectedChip().type == static_cast<std::uint32_t>(ChipType::kSpiFlash);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front()[0], spi ? 0x14 : 0x12);

    std::fill(buffer_->Data(), buffer_->Data() + capacity, std::uint8_t{0});
    buffer_->MarkRange(0, capacity);
    int redraws = 0;
    ops_->on_buffer_read = [&] { ++redraws; };
    ops_->ReadChip();
    EXPECT_EQ(redraws, 1);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), buffer_->Data()));
    EXPECT_FALSE(buffer_->Marked(0));
    EXPECT_FALSE(buffer_->Marked(capacity - 1));
    EXPECT_EQ(LastBox(), "");
    sink_.Clear();
  }
}

TEST_F(ChipOperationsTest, VerifyStopsAtExactlyTheFirstWrongByte) {
  Attach("EN25T80");
  const std::uint32_t capacity = ops_->SelectedChip().capacity;
  auto image = RandomImage(capacity, 3);
  // A run of equal bytes, so a wrong byte inside it cannot hide behind its neighbours.
  std::fill(image.begin() + 0x40000, image.begin() + 0x50000, std::uint8_t{0x5A});
  FillBuffer(image);
  for (std::uint32_t address : {0u, 0x12345u, 0x48001u, capacity - 1}) {
    SCOPED_TRACE(address);
    auto chip = image;
    chip[address] = static_cast<std::uint8_t>(~chip[address]);
    sim_->SetChipContents(chip);
    sink_.Clear();
    ops_->VerifyChip();
    EXPECT_EQ(ops_->OperationOk(), 0);
    char expected[128];
    std::snprintf(expected, sizeof expected,
                  "Verify chip error!\r\n\r\nAddr:0x%06X   \r\n Buf:0x%02X   \r\nChip:0x%02X   ",
                  address, image[address], chip[address]);
    ASSERT_EQ(sink_.Texts().size(), 1u);
    EXPECT_EQ(LastBox(), expected);
    EXPECT_EQ(status_->InfoText(), "Verify chip error!");
    EXPECT_EQ(status_->InfoColour(), kErrorRed);
    EXPECT_EQ(engine_->State(), link::kIdle);
  }
  // The same chip with the buffer's contents verifies.
  sim_->SetChipContents(image);
  ops_->VerifyChip();
  EXPECT_EQ(ops_->OperationOk(), 1);
}

TEST_F(ChipOperationsTest, DataLeftOverFromAnAbortedVerifyIsReadPast) {
  Attach("EN25T80");
  const std::uint32_t capacity = ops_->SelectedChip().capacity;
  const auto image = RandomImage(capacity, 5);
  FillBuffer(image);
  auto chip = image;
  chip[0x12345] = static_cast<std::uint8_t>(~chip[0x12345]);
  sim_->SetChipContents(chip);
  // The programmer still sends what its transfer buffer holds of the stream
  // that Verify stopped reading.
  sim_->KeepAbandonedData(4096);
  ops_->VerifyChip();
  ASSERT_EQ(ops_->OperationOk(), 0);
  EXPECT_TRUE(StartsWith(LastBox(), "Verify chip error!\r\n\r\nAddr:0x012345"));

  sink_.Clear();
  EXPECT_TRUE(ops_->DetectChip());
  EXPECT_TRUE(StartsWith(LastBox(), "Chip type: EN25T80")) << LastBox();
  sim_->SetChipContents(image);
  ops_->VerifyChip();
  EXPECT_EQ(ops_->OperationOk(), 1) << LastBox();
}

TEST_F(ChipOperationsTest, VerifyNeverPassesBytesItDidNotCompare) {
  Attach("EN25T80");
  const std::uint32_t capacity = ops_->SelectedChip().capacity;
  const auto image = RandomImage(capacity, 9);
  FillBuffer(image);
  sim_->SetChipContents(image);
  sim_->EndReadPhasesAfter(5000);  // the read phase ends early, but as a success
  ops_->VerifyChip();
  EXPECT_EQ(ops_->OperationOk(), 0);
  EXPECT_EQ(LastBox(), "Verify chip error!");
  EXPECT_EQ(status_->InfoText(), "Verify chip error!");
  EXPECT_EQ(Log().find("Verify chip ok!"), std::string::npos);
  EXPECT_EQ(engine_->State(), link::kIdle);
}

TEST_F(ChipOperationsTest, EraseOnAnEepromSendsNothing) {
  Attach("AT24C32");
  ops_->EraseChip();
  EXPECT_EQ(ops_->OperationOk(), 0);
  EXPECT_EQ(sim_->CommandCount(), 0);
  EXPECT_EQ(usb_->writes, 0);
  EXPECT_TRUE(sink_.Texts().empty());
  EXPECT_NE(Log().find("Erase chip!"), std::string::npos);
}

TEST_F(ChipOperationsTest, EraseOfSpiFlashWaitsForTheChip) {
  Attach("EN25T80");
  sim_->SetChipContents(std::vector<std::uint8_t>(ops_->SelectedChip().capacity, 0x00));
  ops_->EraseChip();
  EXPECT_EQ(ops_->OperationOk(), 1);
  const auto contents = sim_->ChipContents();
  EXPECT_TRUE(std::all_of(contents.begin(), contents.end(), [](auto b) { return b == 0xFF; }));
  // The erase was polled with STATUS until the chip was no longer busy.
  const auto log = sim_->CommandLog();
  EXPECT_GT(std::count_if(log.begin(), log.end(), [](const auto& p) { return p[0] == 0x13; }), 1);
  EXPECT_TRUE(StartsWith(status_->InfoText(), "Erase chip ok!   Elapsed time: "));
}

TEST_F(ChipOperationsTest, DetectSelectsTheFirstChipWithTheIdBytes) {
  Attach("W25X80");  // shares its IDs with later Winbond parts
  Select(*database_.FindByName("EN25T80"));  // detection runs on the selected bus
  ChipRecord detected;
  ops_->on_chip_detected = [&](const ChipRecord& c) { detected = c; };
  ops_->DetectChip();
  EXPECT_EQ(NameOf(detected), "W25X80");
  EXPECT_EQ(NameOf(ops_->SelectedChip()), "W25X80");
  EXPECT_EQ(LastBox(), "Chip type: W25X80   \r\n()");
  EXPECT_TRUE(StartsWith(status_->InfoText(), "Chip type: W25X80   \r\n()   Elapsed time: "));
  EXPECT_EQ(status_->ProgressText(), "100%");
}

TEST_F(ChipOperationsTest, DetectWithFfFfIsUnknownWithoutSearching) {
  // A database whose first record carries FF FF: a search would find it.
  ChipRecord ff;
  ASSERT_TRUE(SetNames(ff, "FFFF-PART", "Nobody"));
  ff.capacity = 4096;
  ff.page_size = 32;
  ff.manufacturer_id = 0xFF;
  ff.device_id = 0xFF;
  std::vector<ChipRecord> records{ff};
  for (const auto& r : database_.Records()) records.push_back(r);
  ASSERT_TRUE(database_.LoadDatabaseBytes(BuildDatabaseFile(records)));

  Attach("AT24C32");  // EEPROMs answer READ ID with FF FF
  ops_->on_chip_detected = [](const ChipRecord&) { ADD_FAILURE() << "nothing may be selected"; };
  ops_->DetectChip();
  EXPECT_EQ(NameOf(ops_->SelectedChip()), "AT24C32");
  EXPECT_EQ(LastBox(), "Chip type is unknown!ManufacturerID:FF\r\nDeviceID:FF");
  EXPECT_EQ(status_->InfoText(), "Chip type is unknown!");
  EXPECT_EQ(status_->InfoColour(), kErrorRed);
  EXPECT_NE(Log().find("ManufacturerID:FF\r\nDeviceID:FF"), std::string::npos);
}

TEST_F(ChipOperationsTest, BusyEngineOrMissingProgrammerLeavesBufferAndChipAlone) {
  Attach("EN25T80");
  const std::uint32_t capacity = ops_->SelectedChip().capacity;
  std::vector<std::uint8_t> other(capacity);
  ASSERT_EQ(link_->OpenLink(), 1);
  usb_->HoldReadsFrom(4096);
  ASSERT_EQ(engine_->StartRead(other.data(), 0, capacity), 1);
  const int commands = sim_->CommandCount();
  FillBuffer(RandomImage(capacity, 5));
  const std::vector<std::uint8_t> before(buffer_->Data(), buffer_->Data() + capacity);

  ops_->ReadChip();
  ops_->WriteChip();
  ops_->DetectChip();
  ops_->Auto();
  EXPECT_EQ(sim_->CommandCount(), commands);
  for (const auto& t : sink_.Texts()) EXPECT_EQ(t, "Programmer is busy, please wait a moment!");
  EXPECT_EQ(sink_.Texts().size(), 4u);
  engine_->AbortTransfer();
  usb_->Release();

  sink_.Clear();
  sim_->Unplug();
  ops_->ReadChip();
  EXPECT_EQ(LastBox(), "No programmer linked to computer!");
  EXPECT_EQ(status_->InfoColour(), kErrorRed);
  EXPECT_EQ(status_->ProgressText(), "ERROR");
  EXPECT_TRUE(std::equal(before.begin(), before.end(), buffer_->Data()));
  EXPECT_EQ(NameOf(ops_->SelectedChip()), "EN25T80");
}

TEST_F(ChipOperationsTest, ALinkThatStopsAnsweringFailsTheOperation) {
  Attach("EN25T80");
  sim_->SetSilent(true);
  ops_->WriteChip();
  EXPECT_EQ(ops_->OperationOk(), 0);
  EXPECT_EQ(LastBox(), "Write chip error!");
  EXPECT_EQ(status_->ProgressText(), "ERROR");
  sim_->SetSilent(false);
  ops_->WriteChip();
  EXPECT_EQ(ops_->OperationOk(), 1);
  EXPECT_EQ(status_->BarColour(), kBarColour);
}

TEST_F(ChipOperationsTest, CommandsDuringAnOperationMeetTheBusyMessage) {
  Attach("EN25T80");
  bool nested = false;
  // A view that delivers a menu command while the operation handles its messages.
  struct View : StatusView {
    std::function<void()> pump;
    void PumpMessage() override {
      if (pump) pump();
    }
  } view;
  StatusDisplay status(clock_, "", &view);
  ProgrammerContext ctx{clock_, sink_, status, texts_, *link_, *engine_};
  ChipOperations ops(ctx, *buffer_, database_);
  ops.SetSelectedChip(ops_->SelectedChip());
  view.pump = [&] {
    if (nested) return;
    nested = true;
    EXPECT_TRUE(ops.Dispatch(kCmdWriteChip));
  };
  EXPECT_TRUE(ops.Dispatch(kCmdReadChip));
  EXPECT_FALSE(ops.Dispatch(12345));
  EXPECT_TRUE(nested);
  ASSERT_FALSE(sink_.Texts().empty());
  EXPECT_EQ(sink_.Texts().front(), "Programmer is busy, please wait a moment!");
  EXPECT_EQ(ops.OperationOk(), 1);  // the read went on
}

}  // namespace
}  // namespace romwright::app
