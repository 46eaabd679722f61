// What a run writes into a bridge and what Save INI writes into a profile,
// both held against what the settings panel shows at that moment: the six
// configuration fields, the serial mode, the Idle Timer list and the option
// boxes of More Config.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "linetool/app/control_ids.h"
#include "linetool/profile/station_files.h"
#include "run_probe.h"

namespace linetool::app {
namespace {

using testing::RunRig;

std::uint16_t HexWord(const std::string& text) {
  unsigned v = 0;
  std::sscanf(text.c_str(), "%x", &v);
  return static_cast<std::uint16_t>(v);
}

// The key=value lines of a profile file (sections ignored: no key repeats).
std::map<std::string, std::string> ProfileValues(const std::string& path) {
  const auto bytes = profile::ReadFileBytes(path);
  std::map<std::string, std::string> values;
  if (!bytes) return values;
  std::istringstream lines(std::string(bytes->begin(), bytes->end()));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

// The More Config boxes and the option bit each clears in the block.
struct OptionBox {
  int id;
  const char* key;
  std::uint8_t mask;
};
constexpr OptionBox kOptionBoxes[] = {
    {ids::cfg::kCustomizedString, "customized_string", 0x01},
    {ids::cfg::kEupEnabled, "eup_enable", 0x02},
    {ids::cfg::kTwoLeds, "two_leds", 0x04},
    {ids::cfg::kHddStandby, "hdd_standby", 0x08},
    {ids::cfg::kWhck, "U1U2", 0x10},
    {ids::cfg::kTwoTb, "2TB", 0x40},
    {ids::cfg::kHddsn, "slow_enumeration", 0x80},
};

class PanelAndRun : public ::testing::Test {
 protected:
  PanelAndRun() : rig_(1) {
    rig_.Initialise();
    rig_.dialogs.password = "morvela";
    EXPECT_TRUE(rig_.Presenter().Command(ids::kLock));
    EXPECT_TRUE(rig_.Presenter().Unlocked());
    // Only the bridge's own stages: the disk stages add nothing here.
    for (int id : {ids::kPartitionFormat, ids::kWrTest, ids::kPreload}) rig_.Presenter().SetCheck(id, false);
  }

  LineToolPresenter& Presenter() { return rig_.Presenter(); }

  // Opens More Config, clicks the boxes and closes it (OK and Cancel alike).
  void MoreConfig(std::vector<std::pair<int, bool>> clicks) {
    rig_.dialogs.more_config_clicks = std::move(clicks);
    ASSERT_TRUE(rig_.Presenter().Command(ids::kMoreConfig));
    rig_.dialogs.more_config_clicks.clear();
  }

  // Runs, then holds what the bridge got and what Save INI writes against
  // the panel as it was when Start was pressed.
  void RunAndCompareWithPanel(const std::string& saved_name) {
    const Panel panel = rig_.Presenter().Controls();
    // What More Config shows when it is opened now.
    MoreConfig({});
    ASSERT_TRUE(rig_.dialogs.more_config_opened.has_value());
    const Panel options = *rig_.dialogs.more_config_opened;

    rig_.StartAndWait();
    ASSERT_EQ(StageRow(rig_, 0), (std::vector<std::string>{"PASS", "PASS", "PASS", "", "", "", ""}));
    const auto [identity, block] = rig_.World().WithDevice(0, [](auto& m) {
      return std::make_pair(m.Identity(), m.ConfigSlot(0));
    });
    EXPECT_EQ(identity.vendor_id, HexWord(panel.At(ids::kVendorId).text));
    EXPECT_EQ(identity.product_id, HexWord(panel.At(ids::kProductId).text));
    EXPECT_EQ(identity.device_release, HexWord(panel.At(ids::kRevision).text));
    EXPECT_EQ(identity.serial, panel.At(ids::kSerialNumber).text);
    EXPECT_EQ(identity.manufacturer, panel.At(ids::kManufacturer).text);
    EXPECT_EQ(identity.product, panel.At(ids::kProduct).text);
    const int idle = panel.At(ids::kIdleTimer).selection;
    EXPECT_EQ(block[0x7A], idle == 0 ? 0xFF : 0xF0 + idle) << panel.SelectedText(ids::kIdleTimer);
    for (const OptionBox& box : kOptionBoxes)
      EXPECT_EQ((block[0x7D] & box.mask) == 0, options.At(box.id).checked) << box.key;

    // Saved after the run: the profile holds what the run used.
    rig_.chooser.answers.push_back(rig_.Workdir() + "/" + saved_name);
    ASSERT_TRUE(rig_.Presenter().Command(ids::kSaveIni));
    auto saved = ProfileValues(rig_.Workdir() + "/" + saved_name);
    EXPECT_EQ(saved["vendor_id"], panel.At(ids::kVendorId).text);
    EXPECT_EQ(saved["product_id"], panel.At(ids::kProductId).text);
    EXPECT_EQ(saved["device_revision"], panel.At(ids::kRevision).text);
    EXPECT_EQ(saved["manufacturer_string"], panel.At(ids::kManufacturer).text);
    EXPECT_EQ(saved["product_string"], panel.At(ids::kProduct).text);
    EXPECT_EQ(saved["serial_number_increase"], std::to_string(panel.At(ids::kSerialMode).selection));
    EXPECT_EQ(saved["standby_timer"], std::to_string(idle));
    for (const OptionBox& box : kOptionBoxes)
      EXPECT_EQ(saved[box.key], options.At(box.id).checked ? "1" : "0") << box.key;
  }

  RunRig rig_;
};

TEST_F(PanelAndRun, StandbyOffAndOnAgainLeavesNeverOnThePanelTheBridgeAndTheProfile) {
  // The sample profile has HDD Standby with "20 Min".
  ASSERT_EQ(rig_.Presenter().Controls().SelectedText(ids::kIdleTimer), "20 Min");
  MoreConfig({{ids::cfg::kHddStandby, false}});
  EXPECT_EQ(rig_.Presenter().Controls().SelectedText(ids::kIdleTimer), "Never");
  EXPECT_FALSE(rig_.Presenter().Control(ids::kIdleTimer).enabled);
  MoreConfig({{ids::cfg::kHddStandby, true}});
  EXPECT_TRUE(rig_.Presenter().Control(ids::kIdleTimer).enabled);
  EXPECT_EQ(rig_.Presenter().Controls().SelectedText(ids::kIdleTimer), "Never");
  RunAndCompareWithPanel("after_standby.ini");
}

TEST_F(PanelAndRun, EveryFieldTypedOrChosenIsWhatTheBridgeGetsAndWhatIsSaved) {
  Presenter().EditText(ids::kVendorId, "1e3d", 4);
  Presenter().EditText(ids::kProductId, "20x50", 5);
  Presenter().EditText(ids::kRevision, "0203", 4);
  Presenter().EditText(ids::kSerialNumber, "00AB00000010", 12);
  Presenter().EditText(ids::kManufacturer, "Acme Drives", 11);
  Presenter().EditText(ids::kProduct, "Dock 9", 6);
  ASSERT_TRUE(Presenter().SelectItem(ids::kSerialMode, 0));
  ASSERT_TRUE(Presenter().SelectItem(ids::kIdleTimer, 2));  // "5 Min"
  MoreConfig({{ids::cfg::kCustomizedString, false}, {ids::cfg::kEupEnabled, true}, {ids::cfg::kTwoTb, false}});
  RunAndCompareWithPanel("typed.ini");
}

TEST_F(PanelAndRun, ALockedPanelRunsWithTheTimerItShowsGreyed) {
  ASSERT_TRUE(Presenter().SelectItem(ids::kIdleTimer, 7));  // "1 Hr"
  rig_.dialogs.password.reset();
  ASSERT_TRUE(Presenter().Command(ids::kLock));
  ASSERT_FALSE(Presenter().Unlocked());
  EXPECT_FALSE(Presenter().Control(ids::kIdleTimer).enabled);
  EXPECT_EQ(Presenter().Controls().SelectedText(ids::kIdleTimer), "1 Hr");
  rig_.StartAndWait();
  EXPECT_EQ(rig_.World().WithDevice(0, [](auto& m) { return m.ConfigSlot(0)[0x7A]; }), 0xF7);
  EXPECT_EQ(Presenter().Controls().SelectedText(ids::kIdleTimer), "1 Hr");
}

}  // namespace
}  // namespace linetool::app
