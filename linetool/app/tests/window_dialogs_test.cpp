// The dialogs the main window opens: More Config, login, Check_Config, About,
// and the captions and title of the window.

#include <gtest/gtest.h>

#include "linetool/app/control_ids.h"
#include "linetool/app/station_run.h"
#include "presenter_fixture.h"

namespace linetool::app {
namespace {

namespace c = ids::cfg;
using testing::PresenterRig;
using testing::SampleProfile;
using testing::WriteText;

void StartUnlocked(PresenterRig& rig) {
  WriteText(rig.dir + "/kl_line_Tool v0.3.ini", SampleProfile(false));
  rig.presenter.Initialise();
  rig.dialogs.password = "MorVela";
  ASSERT_TRUE(rig.presenter.Command(ids::kLock));
  ASSERT_TRUE(rig.presenter.Unlocked());
}

std::string Slurp(const std::string& path) {
  const auto bytes = profile::ReadFileBytes(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

TEST(MoreConfig, ClicksAreWrittenAtOnceAndCancelKeepsThem) {
  PresenterRig rig("more_config");
  StartUnlocked(rig);
  rig.engine.Settings().U1U2 = 0;
  ASSERT_FALSE(profile::TextOf(rig.engine.Settings().serial_number).empty());

  // The panel as it stands after each click, seen while the dialog is open.
  std::vector<std::string> serial_texts;
  std::vector<bool> serial_enabled;
  rig.dialogs.after_each_click = [&] {
    serial_texts.push_back(rig.presenter.Control(ids::kSerialNumber).text);
    serial_enabled.push_back(rig.presenter.Control(ids::kSerialNumber).enabled);
  };
  rig.dialogs.more_config_clicks = {{c::kWhck, true}, {c::kHddsn, true}, {c::kHddsn, false}};
  ASSERT_TRUE(rig.presenter.Command(ids::kMoreConfig));  // closed without OK

  const Panel opened = *rig.dialogs.more_config_opened;
  EXPECT_TRUE(opened.At(c::kTwoLeds).checked);  // two_leds=1 in the sample
  EXPECT_FALSE(opened.At(c::kWhck).checked);
  for (int id : {c::kLowPowerMode, c::kWin8Wtg, c::kImage0, c::kImage1, c::kGenerateCrc32, c::kDualImage})
    EXPECT_FALSE(opened.At(id).visible) << id;
  EXPECT_TRUE(opened.At(c::kImage0).checked);
  EXPECT_FALSE(opened.At(c::kImage1).checked);

  // HDDSN empties the serial at once and disables it; clearing HDDSN enables
  // the edit again but the number does not come back.
  EXPECT_EQ(serial_texts, (std::vector<std::string>{"0000A0000001", "", ""}));
  EXPECT_EQ(serial_enabled, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(profile::TextOf(rig.engine.Settings().serial_number), "");
  EXPECT_EQ(rig.engine.Settings().U1U2, 1);
  EXPECT_EQ(rig.engine.Settings().slow_enumeration, 0);

  // While HDDSN is on, the serial edit stays off through later panel states.
  rig.dialogs.more_config_clicks = {{c::kHddsn, true}};
  rig.dialogs.after_each_click = {};
  ASSERT_TRUE(rig.presenter.Command(ids::kMoreConfig));
  ASSERT_TRUE(rig.presenter.SetCheck(ids::kPartitionFormat, false));
  EXPECT_FALSE(rig.presenter.Control(ids::kSerialNumber).enabled);
  EXPECT_EQ(rig.presenter.EditText(ids::kSerialNumber, "1234", 4).text, "");

  // WHCK is saved as U1U2=1 in [usb_config].
  rig.chooser.answers.push_back(rig.dir + "/whck.ini");
  ASSERT_TRUE(rig.presenter.Command(ids::kSaveIni));
  const std::string saved = Slurp(rig.dir + "/whck.ini");
  const auto section = saved.find("[usb_config]");
  ASSERT_NE(section, std::string::npos) << saved;
  const auto u1u2 = saved.find("U1U2=1\r\n", section);
  EXPECT_NE(u1u2, std::string::npos) << saved;
  EXPECT_EQ(saved.find('[', section + 1) > u1u2, true) << "U1U2 is not in [usb_config]";
}

TEST(MoreConfig, UpdateConfigAndUpdateFwEnableTheirBoxes) {
  std::vector<int> written;
  const auto writer = [&](const MoreConfigFlags&, int id, bool) { written.push_back(id); };
  MoreConfigFlags flags;
  flags.crc32 = 0;
  CDeviceCfgDlg off(flags, false, true, writer);
  for (int id : c::kSpecifiedFlags) EXPECT_FALSE(off.Controls().At(id).enabled) << id;
  EXPECT_FALSE(off.Controls().At(c::kImage0).enabled);
  EXPECT_TRUE(off.Controls().At(c::kGenerateCrc32).enabled);
  EXPECT_FALSE(off.SetCheck(c::kWhck, true));
  EXPECT_EQ(off.Flags().U1U2, 0);

  CDeviceCfgDlg on(flags, true, false, writer);
  for (int id : c::kSpecifiedFlags) EXPECT_TRUE(on.Controls().At(id).enabled) << id;
  EXPECT_FALSE(on.Controls().At(c::kGenerateCrc32).enabled);
  // Hidden boxes take no clicks.
  EXPECT_FALSE(on.SetCheck(c::kLowPowerMode, true));
  EXPECT_TRUE(on.SetCheck(c::kEupEnabled, true));
  EXPECT_EQ(on.Flags().eup_enable, 1);
  EXPECT_EQ(written, std::vector<int>{c::kEupEnabled});
}

TEST(LoginDialog, SevenCharactersAndTheCaptionsRefreshOnOpening) {
  int refreshed = 0;
  CLoginDlg login([&] { ++refreshed; });
  login.Open();
  EXPECT_EQ(refreshed, 1);
  EXPECT_EQ(login.Controls().At(ids::login::kPassword).limit, 7u);
  EXPECT_EQ(login.EditText("morvelaX"), "morvela");
  EXPECT_TRUE(login.Ok());
  EXPECT_EQ(login.PasswordText(), "morvela");
  login.Open();
  EXPECT_EQ(login.Controls().At(ids::login::kPassword).text, "");
  login.EditText(" morvela ");  // cut to " morvel"
  EXPECT_FALSE(login.Ok());
  EXPECT_TRUE(login.Closed());
}

// Counts the stops the presenter asks of the run; a refresh finds nothing.
class CountingRun final : public StationRun {
 public:
  explicit CountingRun(LineToolPresenter& p) : presenter(p) {}
  bool RefreshPorts() override {
    presenter.ApplyRestState();
    return true;
  }
  void StartRun() override {}
  void SafelyRemove() override {}
  void StopAllJobs() override { ++stops; }
  void AutoStartCheck() override {}
  LineToolPresenter& presenter;
  int stops = 0;
};

TEST(MainWindow, LockInAutoModeStopsTheJobsAndCheckConfigNeedsTheUnlockedPanel) {
  PresenterRig rig("auto_lock");
  CountingRun run(rig.presenter);
  rig.presenter.AttachRun(&run);
  WriteText(rig.dir + "/kl_line_Tool v0.3.ini", SampleProfile(true));
  rig.presenter.Initialise();
  EXPECT_FALSE(rig.presenter.Command(ids::kCheckConfig));  // locked

  rig.dialogs.password = "morvela";
  ASSERT_TRUE(rig.presenter.Command(ids::kLock));
  EXPECT_EQ(run.stops, 1);
  EXPECT_TRUE(rig.presenter.Unlocked());
  // Unlocked, the register dialog opens; this run has no bridges, so its
  // controls are disabled.
  ASSERT_TRUE(rig.presenter.Command(ids::kCheckConfig));
  EXPECT_EQ(rig.dialogs.check_config_shown, 1);
  EXPECT_FALSE(rig.presenter.CheckConfigDialog().Controls().At(ids::debug::kReadRegister).enabled);
  // Locking again from the unlocked panel stops nothing.
  ASSERT_TRUE(rig.presenter.Command(ids::kLock));
  EXPECT_EQ(run.stops, 1);
  rig.presenter.AttachRun(nullptr);
}

TEST(MainWindow, TitleCaptionsAndAbout) {
  PresenterRig rig("captions");
  rig.presenter.Initialise();
  EXPECT_EQ(rig.presenter.WindowTitle(), "Kelvora VX7700 Line Tool Kelv 770 LineTool Ver 2.0.2");
  EXPECT_EQ(rig.presenter.Control(ids::kGroupFwBrowser).text, "FW Browser");
  EXPECT_EQ(rig.presenter.Control(ids::kLabelSerialMode).text, "S/N Increase");
  EXPECT_EQ(rig.presenter.Control(ids::kPartitionFormat).text, "Partition / Format");
  EXPECT_EQ(rig.presenter.Control(ids::kMinimise).tooltip, "Min");
  EXPECT_EQ(rig.presenter.AboutMenuText(), "About");
  ASSERT_TRUE(rig.presenter.Command(ids::kAbout));
  ASSERT_TRUE(rig.dialogs.about);
  EXPECT_EQ(rig.dialogs.about->title, "About LineTool");
  EXPECT_EQ(rig.dialogs.about->version, "Kelv 770 LineTool Ver 2.0.2");
  EXPECT_EQ(rig.dialogs.about->ok, "Ok");
}

}  // namespace
}  // namespace linetool::app
