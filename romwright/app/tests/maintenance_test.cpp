#include "romwright/app/maintenance.h"

#include <gtest/gtest.h>

#include "programmer_fixture.h"

namespace romwright::app {
namespace {

using testing::ProgrammerFixture;

class MaintenanceTest : public ProgrammerFixture {
 protected:
  std::string WriteFile(const std::string& name, std::size_t size, unsigned seed = 1) {
    const auto path = dir_ / name;
    const auto bytes = RandomImage(static_cast<std::uint32_t>(size), seed);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    return path.string();
  }
};

TEST_F(MaintenanceTest, VersionOfTheFpr7101ModelIsShownAsSuch) {
  EXPECT_EQ(Maintenance::ShownVersion("FPR7101 Programmer", "FPR7100 V2.10"), "FPR7101 V2.10");
  EXPECT_EQ(Maintenance::ShownVersion("FPR7100 Programmer", "FPR7100 V2.10"), "FPR7100 V2.10");
  EXPECT_EQ(Maintenance::ShownVersion("FPR7101", "FPR7102 V1"), "FPR7102 V1");

  model_setting_ = "FPR7101 USB Programmer";
  Attach("EN25T80");
  maintenance_->ReadFirmwareVersion();
  EXPECT_EQ(LastBox(), "Firmware version:  FPR7101 V2.10 2026-03-02    ");
  EXPECT_TRUE(status_->InfoText().starts_with(LastBox() + "   Elapsed time: "));
  EXPECT_EQ(status_->ProgressText(), "100%");

  sim_->SetSilent(true);
  sink_.Clear();
  maintenance_->ReadFirmwareVersion();
  EXPECT_EQ(status_->InfoText(), "Read firmware version error!");
  EXPECT_TRUE(sink_.Texts().empty());  // no box for this one
}

TEST_F(MaintenanceTest, SerialNumberStopsAtTheFirstUnprintableByte) {
  std::array<char, 20> serial{};
  std::memcpy(serial.data(), "AB12{x", 6);
  EXPECT_EQ(Maintenance::SerialText(serial), "AB12");
  serial.fill(0);
  serial[0] = 0x1F;
  serial[1] = 'A';
  EXPECT_EQ(Maintenance::SerialText(serial), "016000000");
  serial.fill('Z');
  EXPECT_EQ(Maintenance::SerialText(serial), std::string(20, 'Z'));

  sim::programmer::SimProgrammerOptions options;
  options.serial = std::string("\x05") + "XYZ";
  Attach("EN25T80", options);
  maintenance_->ReadSerialNumber();
  EXPECT_EQ(LastBox(), "Serial number:016000000");
  EXPECT_NE(Log().find(": Serial number:016000000"), std::string::npos);
}

TEST_F(MaintenanceTest, SelfTestReportRules) {
  sim::programmer::SimProgrammerOptions options;
  options.self_test_report = "14 characters.ok and more";
  Attach("EN25T80", options);
  maintenance_->SelfTest();
  EXPECT_EQ(LastBox(), "Auto test result: Hardware is OK!");
  EXPECT_EQ(status_->InfoColour(), kTextBlack);

  options.self_test_report = "14 characters.no";
  Attach("EN25T80", options);
  sink_.Clear();
  maintenance_->SelfTest();
  EXPECT_EQ(LastBox(), "Auto test result: Hardware has some problems!");
  EXPECT_EQ(status_->InfoColour(), kErrorRed);

  options.self_test_report = "\rVCC 3.3V\r\nok";
  Attach("EN25T80", options);
  sink_.Clear();
  maintenance_->SelfTest();
  EXPECT_EQ(LastBox(), "Auto test result: \rVCC 3.3V\r\nok    ");
  EXPECT_EQ(status_->InfoColour(), kTextBlack);
}

TEST_F(MaintenanceTest, OversizedEmptyOrMissingUpdateFileIsRefusedBeforeAnyCommand) {
  Attach("EN25T80");
  maintenance_->UpdateFirmware(WriteFile("big.fpr", kUpdateImageSize + 1));
  EXPECT_EQ(LastBox(), "File format error!");
  // An empty image would take the programmer into its boot loader and send it
  // nothing, leaving it there without firmware.
  sink_.Clear();
  maintenance_->UpdateFirmware(WriteFile("empty.fpr", 0));
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"File format error!"});
  EXPECT_EQ(status_->InfoText(), "");
  maintenance_->UpdateFirmware((dir_ / "missing.fpr").string());
  EXPECT_EQ(LastBox(), "Open file error!");
  maintenance_->UpdateFirmware(std::nullopt);
  EXPECT_EQ(sim_->CommandCount(), 0);
  EXPECT_EQ(usb_->opens, 0);
  EXPECT_FALSE(maintenance_->UpdateRunning());
}

TEST_F(MaintenanceTest, UpdateRelinksTheProgrammerInItsBootMode) {
  Attach("EN25T80");
  const auto path = WriteFile("fw.fpr", kUpdateImageSize, 4);
  maintenance_->UpdateFirmware(path);
  EXPECT_EQ(LastBox(), "Firmware update ok!");
  EXPECT_EQ(sim_->FirmwareUpdates(), 1);
  EXPECT_EQ(sim_->FirmwareImage(), RandomImage(kUpdateImageSize, 4));
  EXPECT_FALSE(maintenance_->UpdateRunning());
  EXPECT_TRUE(status_->InfoText().starts_with("Firmware update ok!   Elapsed time: "));
}

// What the progress display showed at each change of the info line.
class InfoRecorder final : public StatusView {
 public:
  explicit InfoRecorder(const StatusDisplay*& status) : status_(status) {}
  void InfoChanged(const std::string& text, Rgb) override {
    seen.push_back(text.substr(0, text.find("   ")) + " @ " + status_->ProgressText());
    red.push_back(status_->BarColour() == kErrorRed);
  }
  std::vector<std::string> seen;
  std::vector<bool> red;

 private:
  const StatusDisplay*& status_;
};

TEST_F(MaintenanceTest, UpdateStartsWithAClearBarAndEndsWithAFullOne) {
  const StatusDisplay* shown = nullptr;
  InfoRecorder recorder(shown);
  status_ = std::make_unique<StatusDisplay>(clock_, (dir_ / "romwright.log").string(), &recorder);
  shown = status_.get();
  Attach("EN25T80");
  status_->ShowError("Read chip error!");  // left red by an earlier command
  recorder.seen.clear();
  recorder.red.clear();
  ASSERT_TRUE(maintenance_->UpdateFirmware(WriteFile("fw.fpr", kUpdateImageSize, 5)));
  ASSERT_GE(recorder.seen.size(), 3u);
  EXPECT_EQ(recorder.seen.front(), "Wait for linking! @ 0%");
  EXPECT_FALSE(recorder.red.front());
  EXPECT_EQ(recorder.seen.back(), "Firmware update ok! @ 100%");
  EXPECT_EQ(status_->ProgressPosition(), 100);
}

TEST_F(MaintenanceTest, UpdatePromptsAfterFiveSecondsAndHonoursCancel) {
  sim::programmer::SimProgrammerOptions slow;
  slow.reenumerate_ms = 8000;  // the boot loader needs a replug
  Attach("EN25T80", slow);
  const auto path = WriteFile("fw.fpr", 1000);
  maintenance_->UpdateFirmware(path);
  const auto boxes = sink_.Boxes();
  ASSERT_GE(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Please click \"OK\", and link programmer to computer in 10 seconds!");
  EXPECT_EQ(boxes[0].buttons, platform::MessageButtons::kOkCancel);
  EXPECT_EQ(LastBox(), "Firmware update ok!");

  Attach("EN25T80", slow);
  sink_.Clear();
  sink_.QueueAnswer(platform::MessageAnswer::kCancel);
  maintenance_->UpdateFirmware(path);
  EXPECT_EQ(LastBox(), "Firmware update error!");
  EXPECT_EQ(status_->InfoText(), "Firmware update error!");
  EXPECT_EQ(sim_->FirmwareUpdates(), 0);

  slow.reenumerate_ms = 60000;  // never back in time
  Attach("EN25T80", slow);
  sink_.Clear();
  const auto before = clock_.Now();
  maintenance_->UpdateFirmware(path);
  EXPECT_EQ(LastBox(), "Firmware update error!");
  EXPECT_GE(clock_.Now() - before, platform::Clock::Millis{15000});
}

}  // namespace
}  // namespace romwright::app
