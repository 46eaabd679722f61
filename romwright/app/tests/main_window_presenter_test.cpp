#include "romwright/app/main_window_presenter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "romwright/link/tests/link_test_support.h"
#include "romwright/testing/test_files.h"
#include "sim/programmer/sim_programmer.h"
#include "tools/testing/test_paths.h"

namespace romwright::app {
namespace {

using testing::FreshDir;
using testing::ReadText;
using testing::WriteText;

// The manual opener: takes a file only when it is there; counts the tries.
class FakeOpener final : public platform::DesktopOpener {
 public:
  bool Open(const std::string& host_path) override {
    opened.push_back(host_path);
    return std::filesystem::exists(host_path);
  }
  void RegisterHelpViewer() override { ++registrations; }
  std::vector<std::string> opened;
  int registrations = 0;
};

// Runs `on_pump` once, the first time the window is asked to handle a
// message while an operation runs.
class PumpingView final : public StatusView {
 public:
  void PumpMessage() override {
    if (!on_pump) return;
    auto f = std::move(on_pump);
    on_pump = nullptr;
    f();
  }
  std::function<void()> on_pump;
};

class MainWindowPresenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshDir();
    std::filesystem::copy_file(test_support::kChipDb, dir_ / "chips.db");
    WriteText(dir_ / "config.ini",
              "[Run]\r\nDefaultLanguage=English\r\nDefaultChipName=EN25T80\r\n"
              "[English]\r\nCaption=Romwright\r\nVersion=FPR7100 Programmer\r\nLogFile=rw.log\r\n"
              "DataBaseFile=chips.db\r\nManualFile=manual.pdf\r\n"
              "[SimpleChinese]\r\nCaption=Romwright\r\nLogFile=rw.log\r\nDataBaseFile=chips.db\r\n");
    ASSERT_TRUE(db_.LoadDatabase(test_support::kChipDb));
  }

  // A programmer holding `chip` on the bus, and the window started with
  // `arguments`.
  void Start(platform::Clock& clock, const std::string& chip, const std::vector<std::string>& arguments = {},
             bool plugged = true) {
    sim_ = std::make_unique<sim::programmer::SimProgrammer>(clock, *db_.FindByName(chip));
    if (!plugged) sim_->Unplug();
    usb_ = std::make_unique<romwright::testing::WatchedUsb>(*sim_);
    window_ = std::make_unique<MainWindowPresenter>(
        MainWindowServices{clock, sink_, *usb_, opener_, (dir_ / "config.ini").string(), dir_.string()}, &view_);
    window_->StartUp(arguments);
  }

  std::string Setting(const std::string& key) {
    return SettingsFile((dir_ / "config.ini").string()).Read("Run", key);
  }

  std::filesystem::path dir_;
  ChipDatabase db_;
  platform::RecordingSink sink_;
  FakeOpener opener_;
  PumpingView view_;
  std::unique_ptr<sim::programmer::SimProgrammer> sim_;
  std::unique_ptr<romwright::testing::WatchedUsb> usb_;
  std::unique_ptr<MainWindowPresenter> window_;
};

TEST_F(MainWindowPresenterTest, StartUpWithProgrammerLoadsTheFileNamedOnTheCommandLine) {
  romwright::testing::VirtualClock clock;
  const std::string file = (dir_ / "image.bin").string();
  WriteText(file, "ABCD");
  Start(clock, "EN25T80", {file});
  ASSERT_TRUE(window_->Ready());
  EXPECT_TRUE(sink_.Texts().empty());
  EXPECT_EQ(window_->Operations().SelectedChip(), *db_.FindByName("EN25T80"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(window_->Data().Buffer().Data()), 5), "ABCD\xFF");
  // 0x41 + 0x42 + 0x43 + 0x44 + 0xFF x (1 MiB - 4)
  EXPECT_EQ(window_->Data().DataCommands().ChecksumText(), "CheckSum: 0FEFFD0EH");
  EXPECT_EQ(window_->Title(), WindowTitle("Romwright", file));
  EXPECT_TRUE(window_->Language().english_menu);
  EXPECT_TRUE(window_->CommandEnabled(command::kChipErase));

  EXPECT_TRUE(window_->PollTimers());
  EXPECT_EQ(window_->LinkText(), "USB Link OK!");
}

TEST_F(MainWindowPresenterTest, StartUpWithoutProgrammerSaysSoAndGoesOn) {
  romwright::testing::VirtualClock clock;
  const std::string file = (dir_ / "image.bin").string();
  WriteText(file, "ABCD");
  Start(clock, "EN25T80", {file, file}, false);  // two arguments: no file is loaded
  ASSERT_TRUE(window_->Ready());
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"No programmer linked to computer!"});
  EXPECT_EQ(window_->Status().InfoText(), "No programmer linked to computer!");
  EXPECT_EQ(window_->Status().InfoColour(), kErrorRed);
  EXPECT_EQ(window_->Data().Buffer().Data()[0], 0xFF);
  window_->PollTimers();
  EXPECT_EQ(window_->LinkText(), "No USB Link!");

  // A command that needs the programmer says again that none is there.
  sink_.Clear();
  window_->Command(command::kReadChip);
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"No programmer linked to computer!"});
}

// Installed, the program's folder takes no writes: a relative log name goes
// to the folder the services name for it, made when missing.
TEST_F(MainWindowPresenterTest, TheLogGoesToItsOwnFolderWhenOneIsNamed) {
  romwright::testing::VirtualClock clock;
  const auto state = dir_ / "state" / "romwright";
  sim_ = std::make_unique<sim::programmer::SimProgrammer>(clock, *db_.FindByName("EN25T80"));
  sim_->Unplug();
  usb_ = std::make_unique<romwright::testing::WatchedUsb>(*sim_);
  MainWindowServices services{clock, sink_, *usb_, opener_, (dir_ / "config.ini").string(), dir_.string()};
  services.log_host_folder = state.string();
  window_ = std::make_unique<MainWindowPresenter>(std::move(services), &view_);
  window_->StartUp({});
  ASSERT_TRUE(window_->Ready());
  ASSERT_TRUE(std::filesystem::exists(state / "rw.log"));
  EXPECT_NE(ReadText(state / "rw.log").find("No programmer linked to computer!"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "rw.log"));
}

TEST_F(MainWindowPresenterTest, MissingDatabaseStopsTheStartUpAndNoOperationRuns) {
  romwright::testing::VirtualClock clock;
  std::filesystem::remove(dir_ / "chips.db");
  Start(clock, "EN25T80");
  EXPECT_FALSE(window_->Ready());
  // The box names the file and why it cannot be used.
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Database error!\n" + (dir_ / "chips.db").string() +
                                                    ": cannot be read"});
  EXPECT_FALSE(window_->CommandEnabled(command::kReadChip));
  EXPECT_TRUE(window_->CommandEnabled(command::kEnglish));
  EXPECT_TRUE(window_->Command(command::kReadChip));  // taken, and nothing happens
  EXPECT_EQ(sim_->CommandCount(), 0);
  EXPECT_EQ(window_->Title(), "Romwright");
}

TEST_F(MainWindowPresenterTest, DetectAppliesTheChipToThePanelAndTheSettingsAndReadRedraws) {
  romwright::testing::VirtualClock clock;
  Start(clock, "W25Q80");
  ASSERT_TRUE(window_->Ready());
  ASSERT_EQ(window_->Data().ChipPanel().ChipText(), "EN25T80");
  std::vector<std::uint8_t> image(1048576);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  sim_->SetChipContents(image);

  window_->Command(command::kDetectChip);
  const auto detected = db_.FindByIds(0xEF, 0x13);
  ASSERT_TRUE(detected);
  const std::string name = NameOf(*detected);
  EXPECT_EQ(window_->Data().ChipPanel().ChipText(), name);
  EXPECT_EQ(window_->Data().ChipPanel().ManufacturerText(), "Winbond");
  EXPECT_EQ(Setting("DefaultChipName"), name);
  EXPECT_EQ(window_->Operations().SelectedChip(), *detected);
  EXPECT_EQ(window_->Data().Buffer().ViewLength(), detected->capacity);

  // A marked byte is cleared by the read, which redraws with the checksum.
  window_->Data().Buffer().Mark(3);
  const unsigned redraws = window_->Data().DataCommands().Redraws();
  window_->Command(command::kReadChip);
  EXPECT_EQ(window_->Operations().OperationOk(), 1) << ReadText(dir_ / "rw.log");
  EXPECT_TRUE(std::equal(image.begin(), image.end(), window_->Data().Buffer().Data()));
  EXPECT_FALSE(window_->Data().Buffer().Marked(3));
  EXPECT_GT(window_->Data().DataCommands().Redraws(), redraws);
  EXPECT_EQ(window_->Data().DataCommands().ChecksumText(), window_->Data().Buffer().ChecksumText());
  EXPECT_NE(window_->Data().DataCommands().ChecksumText(), "CheckSum: 0FF00000H");  // not the erased chip
}

// The sum of the first `length` bytes of the buffer, as the label shows it.
std::string SumText(const DataBuffer& buffer, std::uint32_t length) {
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < length; ++i) sum += buffer.Data()[i];
  char text[32];
  std::snprintf(text, sizeof text, "CheckSum: %08XH", static_cast<unsigned>(sum));
  return text;
}

TEST_F(MainWindowPresenterTest, TheChecksumFollowsTheChipAndAReadThatFailedHalfWay) {
  romwright::testing::VirtualClock clock;
  Start(clock, "EN25T80");
  ASSERT_TRUE(window_->Ready());
  // A 2 MiB image into a 1 MiB chip, then a smaller and a larger chip.
  std::string image(2 * 1048576, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 31) ^ (i >> 9));
  WriteText(dir_ / "image.bin", image);
  auto& commands = window_->Data().DataCommands();
  ASSERT_TRUE(commands.OpenPicked((dir_ / "image.bin").string()));
  const DataBuffer& buffer = window_->Data().Buffer();
  EXPECT_EQ(commands.ChecksumText(), SumText(buffer, 1048576));
  const std::string en25t80 = commands.ChecksumText();
  ASSERT_TRUE(window_->ChipSearched("W25X40"));
  EXPECT_EQ(commands.ChecksumText(), SumText(buffer, 524288));
  EXPECT_NE(commands.ChecksumText(), en25t80);
  ASSERT_TRUE(window_->ChipSearched("W25Q128"));
  EXPECT_EQ(commands.ChecksumText(), SumText(buffer, 16777216));

  // A read that fails half way has changed part of the buffer.
  ASSERT_TRUE(window_->ChipSearched("EN25T80"));
  sim_->SetChipContents(std::vector<std::uint8_t>(1048576, 0x11));
  sim_->SetLinkRate(100000);
  const std::string before = commands.ChecksumText();
  int pumps = 0;
  std::function<void()> pull = [&] {
    // Let some data arrive, then pull the programmer.
    if (++pumps < 20) {
      view_.on_pump = pull;
      return;
    }
    sim_->Unplug();
  };
  view_.on_pump = pull;
  window_->Command(command::kReadChip);
  EXPECT_EQ(window_->Operations().OperationOk(), 0);
  ASSERT_NE(buffer.Data()[0], static_cast<std::uint8_t>(image[0])) << "the read brought no data before it failed";
  EXPECT_EQ(commands.ChecksumText(), SumText(buffer, 1048576));
  EXPECT_NE(commands.ChecksumText(), before);
}

TEST_F(MainWindowPresenterTest, CommandsWhileAnOperationRunsAreRefusedAndLeaveBufferAndChipAlone) {
  romwright::testing::VirtualClock clock;
  Start(clock, "EN25T80");
  ASSERT_TRUE(window_->Ready());
  std::vector<std::string> seen;
  std::vector<std::uint8_t> before;
  view_.on_pump = [&] {
    // In the middle of the read.
    before.assign(window_->Data().Buffer().Data(), window_->Data().Buffer().Data() + 16);
    window_->Command(command::kWriteChip);
    window_->Command(command::kReadFirmwareVersion);
    window_->Command(command::kByteSwap);
    EXPECT_FALSE(window_->Data().DataCommands().FillStart());
    EXPECT_FALSE(window_->Data().DataCommands().OpenStart());
    EXPECT_FALSE(window_->ChipChanged("W25Q80"));
    EXPECT_FALSE(window_->HexType('0'));
    EXPECT_FALSE(window_->UpdateFirmwareStart());
    seen = sink_.Texts();
  };
  window_->Command(command::kReadChip);
  EXPECT_EQ(window_->Operations().OperationOk(), 1);
  EXPECT_EQ(seen, std::vector<std::string>(7, "Programmer is busy, please wait a moment!"));
  EXPECT_EQ(window_->Operations().SelectedChip(), *db_.FindByName("EN25T80"));
  EXPECT_EQ(Setting("DefaultChipName"), "EN25T80");
  const std::string log = ReadText(dir_ / "rw.log");
  EXPECT_NE(log.find("Programmer is busy, please wait a moment!"), std::string::npos);
  // No write reached the programmer: only the read's commands did.
  for (const auto& packet : sim_->CommandLog()) EXPECT_NE(packet[0], 0x13) << "a write was sent";

  // Idle again: the same commands run.
  sink_.Clear();
  EXPECT_TRUE(window_->Data().DataCommands().FillStart());
  EXPECT_TRUE(window_->HexType('a'));
  EXPECT_TRUE(window_->Data().Buffer().Marked(0));
  EXPECT_TRUE(sink_.Texts().empty());
}

TEST_F(MainWindowPresenterTest, ClosingDuringAnOperationStopsItWithoutBoxes) {
  romwright::testing::VirtualClock clock;
  Start(clock, "EN25T80");
  sim_->SetLinkRate(100000);  // the read takes many polls, so the close comes while it runs
  bool close_now = true;
  view_.on_pump = [&] { close_now = window_->RequestClose(); };
  sink_.Clear();
  window_->Command(command::kReadChip);
  EXPECT_FALSE(close_now);
  EXPECT_TRUE(window_->ClosePending());
  EXPECT_EQ(window_->Operations().OperationOk(), 0);
  EXPECT_EQ(window_->Engine().State(), link::kIdle);
  EXPECT_TRUE(sink_.Texts().empty());
  EXPECT_EQ(window_->Status().InfoText(), "Read chip error!");
  EXPECT_TRUE(window_->RequestClose());
}

TEST_F(MainWindowPresenterTest, LinkTimerOpensTheLinkEvery500msAndChangesTheTextOnlyOnAChange) {
  platform::ManualClock clock;
  Start(clock, "EN25T80");
  const int opens = usb_->opens;
  EXPECT_TRUE(window_->PollTimers());  // the first tick comes at once
  EXPECT_EQ(window_->LinkText(), "USB Link OK!");
  EXPECT_EQ(window_->LinkTextChanges(), 1u);

  clock.Advance(std::chrono::milliseconds(499));
  window_->PollTimers();
  clock.Advance(std::chrono::milliseconds(1));
  window_->PollTimers();
  EXPECT_EQ(window_->LinkTextChanges(), 1u);
  EXPECT_EQ(usb_->opens, opens);  // the open link is reused, not opened again

  sim_->Unplug();
  clock.Advance(std::chrono::milliseconds(400));
  window_->PollTimers();
  EXPECT_EQ(window_->LinkText(), "USB Link OK!");  // not yet due
  clock.Advance(std::chrono::milliseconds(100));
  window_->PollTimers();
  EXPECT_EQ(window_->LinkText(), "No USB Link!");
  EXPECT_EQ(window_->LinkTextChanges(), 2u);
  clock.Advance(std::chrono::milliseconds(500));
  window_->PollTimers();
  EXPECT_EQ(window_->LinkTextChanges(), 2u);

  sim_->Plug();
  clock.Advance(std::chrono::milliseconds(500));
  window_->PollTimers();
  EXPECT_EQ(window_->LinkText(), "USB Link OK!");
  EXPECT_EQ(window_->LinkTextChanges(), 3u);

  // The caret blinks on the same clock.
  const bool caret = window_->Data().HexView().CaretVisible();
  clock.Advance(std::chrono::milliseconds(500));
  window_->PollTimers();
  EXPECT_NE(window_->Data().HexView().CaretVisible(), caret);
}

TEST_F(MainWindowPresenterTest, UserManualOpensTheFileOrSaysThereIsNone) {
  platform::ManualClock clock;
  Start(clock, "EN25T80");
  sink_.Clear();
  window_->Command(command::kUserManual);
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"No manual file!"});
  EXPECT_EQ(opener_.opened.size(), 2u);  // tried again after the viewer was registered
  EXPECT_EQ(opener_.registrations, 1);
  EXPECT_EQ(opener_.opened.front(), (dir_ / "manual.pdf").string());

  WriteText(dir_ / "manual.pdf", "%PDF");
  sink_.Clear();
  window_->Command(command::kUserManual);
  EXPECT_TRUE(sink_.Texts().empty());
  EXPECT_EQ(opener_.opened.size(), 3u);

  const AboutBox about = window_->About();
  EXPECT_EQ(about.lines[0], "FPR7100 Programmer");
  EXPECT_EQ(about.button, "OK");
}

TEST_F(MainWindowPresenterTest, LanguageSwitchRewritesTheSettingAndAppliesAtOnce) {
  platform::ManualClock clock;
  Start(clock, "EN25T80");
  window_->PollTimers();
  window_->Command(command::kSimpleChinese);
  EXPECT_EQ(Setting("DefaultLanguage"), "SimpleChinese");
  EXPECT_FALSE(window_->Language().english_menu);
  EXPECT_TRUE(window_->Language().chinese_checked);
  EXPECT_EQ(window_->Language().panel_labels[0], "选择芯片");
  EXPECT_EQ(window_->Status().InfoText(), window_->T(89));
  EXPECT_NE(window_->T(89), "Set language to english!");
  // The link text follows the language at its next tick.
  clock.Advance(std::chrono::milliseconds(1));
  window_->PollTimers();
  EXPECT_NE(window_->LinkText(), "USB Link OK!");
  window_->Command(command::kEnglish);
  EXPECT_EQ(Setting("DefaultLanguage"), "English");
  EXPECT_EQ(window_->Status().InfoText(), "Set language to english!");
}

}  // namespace
}  // namespace romwright::app

namespace romwright::app {
namespace {

TEST(FileFilterTest, PairsOfLabelAndPatternInOrder) {
  const auto open = SplitFileFilter(kOpenFileFilter);
  ASSERT_EQ(open.size(), 3u);
  EXPECT_EQ(open[0].label, "All File(*.*)");
  EXPECT_EQ(open[0].pattern, "*.*");
  EXPECT_EQ(open[2].pattern, "*.hex");
  // The update file's filter follows the language's "Update File".
  const auto update = SplitFileFilter(std::string("Update File") + kUpdateFileFilter);
  ASSERT_EQ(update.size(), 1u);
  EXPECT_EQ(update[0].label, "Update File(*.fpr)");
  EXPECT_TRUE(SplitFileFilter("Bin File(*.bin)|").empty());
  EXPECT_EQ(SplitFileFilter("A|*.a|B|*.b").size(), 2u);
}

}  // namespace
}  // namespace romwright::app

namespace romwright::app {
namespace {

TEST(MainMenuTest, BothLanguagesCarryTheSameCommandsInTheSameOrder) {
  auto ids = [](bool english) {
    std::vector<std::uint32_t> out;
    for (const auto& menu : MainMenu(english)) {
      EXPECT_FALSE(menu.caption.empty());
      for (const auto& item : menu.items) out.push_back(item.id);
    }
    return out;
  };
  const auto english = ids(true);
  EXPECT_EQ(english, ids(false));
  // Every command of the toolbar is in the menu.
  for (const auto& [id, tip] : kToolbarTooltips) {
    EXPECT_NE(std::find(english.begin(), english.end(), id), english.end()) << id;
  }
  for (std::uint32_t id : {command::kExit, command::kAddressLocation, command::kSelfTest,
                           command::kReadSerialNumber, command::kEnglish, command::kSimpleChinese}) {
    EXPECT_NE(std::find(english.begin(), english.end(), id), english.end()) << id;
  }
}

}  // namespace
}  // namespace romwright::app
