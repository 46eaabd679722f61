#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "linetool/app/control_ids.h"
#include "linetool/app/line_tool_presenter.h"
#include "linetool/profile/station_files.h"
#include "platform/path_access.h"
#include "presenter_fixture.h"

namespace linetool::app {
namespace {

using testing::PresenterRig;
using testing::SampleProfile;
using testing::WriteText;

std::string Slurp(const std::string& path) {
  const auto bytes = profile::ReadFileBytes(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
}

void Unlock(PresenterRig& rig) {
  rig.dialogs.password = "morvela";
  ASSERT_TRUE(rig.presenter.Command(ids::kLock));
  ASSERT_TRUE(rig.presenter.Unlocked());
}

TEST(PresenterStartup, LockedIdleAndAutoModeBusyStates) {
  {
    // No default profile: the message names it with the working folder.
    PresenterRig rig("missing");
    rig.presenter.Initialise();
    const std::string path = platform::JoinStationPath(platform::ToStationPath(rig.dir), "kl_line_Tool v0.3.ini");
    EXPECT_EQ(rig.sink.Texts(), std::vector<std::string>{path + " File/Path Not Exist"});
  }
  {
    PresenterRig rig("idle");
    WriteText(rig.dir + "/kl_line_Tool v0.3.ini", SampleProfile(false));
    rig.presenter.Initialise();
    const Panel p = rig.presenter.Controls();
    EXPECT_TRUE(p.At(ids::kStart).enabled);
    EXPECT_TRUE(p.At(ids::kLoadIni).enabled);
    EXPECT_FALSE(p.At(ids::kSaveIni).enabled);
    EXPECT_FALSE(p.At(ids::kUpdateConfig).enabled);
    EXPECT_TRUE(p.At(ids::kUpdateConfig).checked);
    EXPECT_TRUE(p.At(ids::kVendorId).read_only);
    EXPECT_EQ(p.At(ids::kVendorId).text, "0F3C");
    EXPECT_EQ(p.At(ids::kFwList).items, std::vector<std::string>{"121105_10_0000.bin"});
    EXPECT_EQ(p.SelectedText(ids::kFileSystem), "FAT32");
    EXPECT_EQ(p.SelectedText(ids::kIdleTimer), "20 Min");
    EXPECT_EQ(p.At(ids::kLock).tooltip, "Unlock");
    EXPECT_EQ(rig.presenter.ProgressText(), "0%");
    EXPECT_EQ(p.At(ids::kPassCount).text, "0");
  }
  {
    PresenterRig rig("busy");
    WriteText(rig.dir + "/kl_line_Tool v0.3.ini", SampleProfile(true));
    rig.presenter.Initialise();
    const Panel p = rig.presenter.Controls();
    EXPECT_FALSE(p.At(ids::kStart).enabled);
    EXPECT_FALSE(p.At(ids::kClear).enabled);
    EXPECT_FALSE(p.At(ids::kAutoMode).enabled);
    EXPECT_TRUE(p.At(ids::kSafelyRemove).enabled);
    EXPECT_TRUE(p.At(ids::kDriveLabel).read_only);
    // A disabled control refuses its command.
    EXPECT_FALSE(rig.presenter.Command(ids::kStart));
  }
}

TEST(PresenterLock, PasswordRuleAndUnlockedStateFollowsSwitches) {
  EXPECT_TRUE(PasswordAccepted("  MorVela \t"));
  EXPECT_FALSE(PasswordAccepted("MORVEL"));
  EXPECT_FALSE(PasswordAccepted(""));

  PresenterRig rig("lock");
  WriteText(rig.dir + "/kl_line_Tool v0.3.ini", SampleProfile(false));
  rig.presenter.Initialise();
  rig.dialogs.password = "wrong";
  EXPECT_TRUE(rig.presenter.Command(ids::kLock));
  EXPECT_FALSE(rig.presenter.Unlocked());
  Unlock(rig);
  Panel p = rig.presenter.Controls();
  EXPECT_EQ(p.At(ids::kLock).tooltip, "Lock");
  EXPECT_TRUE(p.At(ids::kSaveIni).enabled);
  EXPECT_TRUE(p.At(ids::kMoreConfig).enabled);
  EXPECT_FALSE(p.At(ids::kVendorId).read_only);
  EXPECT_TRUE(p.At(ids::kIdleTimer).enabled);  // hdd_standby=1 in the sample

  // Update F/W off: the firmware controls and More Config follow.
  EXPECT_TRUE(rig.presenter.SetCheck(ids::kUpdateFw, false));
  p = rig.presenter.Controls();
  EXPECT_EQ(rig.engine.Settings().fw_enable, 0);
  EXPECT_FALSE(p.At(ids::kMoreConfig).enabled);
  EXPECT_FALSE(p.At(ids::kFwList).enabled);
  // Update Config off locks the configuration fields.
  EXPECT_TRUE(rig.presenter.SetCheck(ids::kUpdateConfig, false));
  p = rig.presenter.Controls();
  EXPECT_TRUE(p.At(ids::kVendorId).read_only);
  EXPECT_FALSE(p.At(ids::kSerialMode).enabled);

  // More Config with the fourth flag off: idle timer "Never" and disabled.
  EXPECT_TRUE(rig.presenter.SetCheck(ids::kUpdateConfig, true));
  EXPECT_TRUE(rig.presenter.SetCheck(ids::kUpdateFw, true));
  rig.dialogs.more_config_clicks = {{ids::cfg::kHddStandby, false}, {ids::cfg::kTwoLeds, false}};
  EXPECT_TRUE(rig.presenter.Command(ids::kMoreConfig));
  p = rig.presenter.Controls();
  EXPECT_EQ(rig.engine.Settings().two_leds, 0);
  EXPECT_FALSE(p.At(ids::kIdleTimer).enabled);
  EXPECT_EQ(p.SelectedText(ids::kIdleTimer), "Never");

  // Lock again.
  EXPECT_TRUE(rig.presenter.Command(ids::kLock));
  EXPECT_FALSE(rig.presenter.Unlocked());
  EXPECT_EQ(rig.dialogs.password_asks, 2);
  EXPECT_FALSE(rig.presenter.Control(ids::kSaveIni).enabled);
}

TEST(PresenterEdits, FiltersLimitsAndCaret) {
  PresenterRig rig("edits");
  WriteText(rig.dir + "/kl_line_Tool v0.3.ini", SampleProfile(false));
  rig.presenter.Initialise();
  // Locked: the edits are read-only and keep their text.
  EXPECT_EQ(rig.presenter.EditText(ids::kVendorId, "AB", 2).text, "0F3C");
  Unlock(rig);

  // A "g" typed after "1E" is removed; the caret stays after "1E".
  FilteredText r = rig.presenter.EditText(ids::kVendorId, "1Eg3", 3);
  EXPECT_EQ(r.text, "1E3");
  EXPECT_EQ(r.caret, 2u);
  EXPECT_EQ(profile::TextOf(rig.engine.Settings().vendor_id), "1E3");
  r = rig.presenter.EditText(ids::kProductId, "12345", 5);
  EXPECT_EQ(r.text, "1234");
  r = rig.presenter.EditText(ids::kSerialNumber, "0123456789abcdefABCDEF", 22);
  EXPECT_EQ(r.text, "0123456789abcdefABCD");
  r = rig.presenter.EditText(ids::kManufacturer, std::string("Ma\x01ker\xe9"), 8);
  EXPECT_EQ(r.text, "Maker");

  // FAT32 limits the label to 11 and empties it; NTFS allows 32.
  EXPECT_TRUE(rig.presenter.SelectItem(ids::kFileSystem, 0));
  EXPECT_EQ(rig.presenter.EditText(ids::kDriveLabel, "ABCDEFGHIJKLMNOP", 16).text, "ABCDEFGHIJKLMNOP");
  EXPECT_TRUE(rig.presenter.SelectItem(ids::kFileSystem, 1));
  EXPECT_EQ(rig.engine.Settings().format_drive_type, 1);
  EXPECT_EQ(rig.presenter.Control(ids::kDriveLabel).text, "");
  EXPECT_EQ(profile::TextOf(rig.engine.Settings().drive_label_name), "");
  EXPECT_EQ(rig.presenter.Control(ids::kDriveLabel).limit, 11u);
  rig.sink.Clear();
  EXPECT_EQ(rig.presenter.EditText(ids::kDriveLabel, "ABCDEFGHIJKL", 12).text, "");
  EXPECT_EQ(rig.sink.Texts(), std::vector<std::string>{"Invalid DiskLabel Size\r\n"});
  EXPECT_EQ(rig.presenter.EditText(ids::kDriveLabel, "ABCDEFGHIJK", 11).text, "ABCDEFGHIJK");
}

TEST(PresenterFiles, FirmwareListKeepsFiveAndRewritesPathFile) {
  PresenterRig rig("mru");
  WriteText(rig.dir + "/kl_line_Tool v0.3.ini", SampleProfile(false));
  rig.presenter.Initialise();
  Unlock(rig);
  for (int i = 1; i <= 6; ++i) {
    const std::string f = rig.dir + "/fw" + std::to_string(i) + ".bin";
    WriteText(f, "x");
    rig.chooser.answers.push_back(f);
    ASSERT_TRUE(rig.presenter.Command(ids::kBrowseFw));
  }
  const auto items = rig.presenter.Control(ids::kFwList).items;
  ASSERT_EQ(items.size(), 5u);
  const std::string station_dir = platform::ToStationPath(rig.dir);
  EXPECT_EQ(items.front(), station_dir + "\\fw6.bin");
  EXPECT_EQ(items.back(), station_dir + "\\fw2.bin");
  std::string expected;
  for (int i = 6; i >= 2; --i) expected += station_dir + "\\fw" + std::to_string(i) + ".bin\r\n";
  EXPECT_EQ(Slurp(rig.dir + "/BrowsedBINPath.txt"), expected);
  EXPECT_EQ(profile::TextOf(rig.engine.Settings().fw_binary_name), station_dir + "\\fw6.bin");
  EXPECT_EQ(rig.chooser.filters.back(), "Firmware .bin File (*.bin)|*.bin||");

  // A missing file changes nothing.
  rig.chooser.answers.push_back(rig.dir + "/gone.bin");
  rig.presenter.Command(ids::kBrowseFw);
  EXPECT_EQ(rig.presenter.Control(ids::kFwList).items, items);
  EXPECT_EQ(rig.sink.Texts().back(), station_dir + "\\gone.bin File/Path Not Exist");

  // The preload browser starts at the folder without its trailing backslash.
  profile::SetText(rig.engine.Settings().preload_folder_path, "D:\\files\\");
  rig.chooser.answers.push_back(rig.dir + "/preload");
  rig.presenter.Command(ids::kBrowsePreload);
  EXPECT_EQ(rig.chooser.folder_initial, "D:\\files");
  EXPECT_EQ(rig.presenter.Control(ids::kPreloadList).items.front(), station_dir + "\\preload");
}

TEST(PresenterFiles, SaveIniChecksFormatsAndKeepsHiddenSettings) {
  PresenterRig rig("save");
  WriteText(rig.dir + "/kl_line_Tool v0.3.ini", SampleProfile(false));
  rig.presenter.Initialise();
  Unlock(rig);
  rig.presenter.EditText(ids::kVendorId, "1E3", 3);
  rig.presenter.EditText(ids::kProductId, "20", 2);
  rig.sink.Clear();
  EXPECT_TRUE(rig.presenter.Command(ids::kSaveIni));
  EXPECT_EQ(rig.sink.Texts(), std::vector<std::string>{"VID Format not valid \r\nPID Format not valid \r\n"});
  EXPECT_TRUE(rig.chooser.filters.empty());  // no picker

  rig.presenter.EditText(ids::kVendorId, "1E3D", 4);
  rig.presenter.EditText(ids::kProductId, "2050", 4);
  rig.engine.Settings().wr_test_count = 7;  // not on the panel
  rig.chooser.answers.push_back(rig.dir + "/saved.ini");
  EXPECT_TRUE(rig.presenter.Command(ids::kSaveIni));
  EXPECT_EQ(rig.chooser.filters.back(), "Config .ini File (*.ini)|*.ini||");
  const std::string saved = Slurp(rig.dir + "/saved.ini");
  EXPECT_NE(saved.find("vendor_id=1E3D"), std::string::npos) << saved;
  EXPECT_NE(saved.find("wr_test_count=7"), std::string::npos) << saved;

  // Load it back: the panel shows it; auto mode puts the panel into busy state.
  WriteText(rig.dir + "/auto.ini", SampleProfile(true));
  EXPECT_TRUE(rig.presenter.Command(ids::kLock));  // lock again
  rig.chooser.answers.push_back(rig.dir + "/auto.ini");
  EXPECT_TRUE(rig.presenter.Command(ids::kLoadIni));
  EXPECT_EQ(rig.presenter.Control(ids::kVendorId).text, "0F3C");
  EXPECT_TRUE(rig.presenter.Control(ids::kAutoMode).checked);
  EXPECT_FALSE(rig.presenter.Control(ids::kStart).enabled);
  EXPECT_EQ(rig.presenter.Control(ids::kFwList).items, std::vector<std::string>{"121105_10_0000.bin"});
}

TEST(PresenterGrid, ResultCellColoursCountersAndObserverOutsideTheLock) {
  PresenterRig rig("grid");
  rig.presenter.Initialise();
  EXPECT_EQ(rig.presenter.CellText(7, 0), "7");
  rig.presenter.SetResultCell(3, 7, "fail");
  rig.presenter.SetResultCell(3, 8, "PASS");
  EXPECT_EQ(rig.presenter.CellColours(3, 7), (widgets::CListCtrlEx::Colours{widgets::kRed, widgets::kWhite}));
  EXPECT_EQ(rig.presenter.CellColours(3, 8), (widgets::CListCtrlEx::Colours{widgets::kWhite, widgets::kBlack}));

  // Cells written from 16 threads at once; the observer reads the presenter
  // back, which would deadlock if it ran under the presenter's lock on another
  // thread's behalf.
  std::atomic<int> seen{0};
  rig.presenter.SetObserver([&](const PresenterEvent& e) {
    if (e.kind == PresenterEvent::Kind::kCell) {
      (void)rig.presenter.CellText(e.row, e.column);
      ++seen;
    }
  });
  {
    std::vector<std::jthread> threads;
    for (int row = 0; row < 16; ++row)
      threads.emplace_back([&, row] {
        for (int column = 7; column <= 13; ++column) rig.presenter.SetResultCell(row, column, "PASS");
        rig.presenter.AddCounts(row % 4 != 0);
      });
  }
  EXPECT_EQ(seen.load(), 16 * 7);
  const Counters c = rig.presenter.CounterValues();
  EXPECT_EQ(c.pass, 12);
  EXPECT_EQ(c.fail, 4);
  EXPECT_EQ(c.total, 16);
  EXPECT_EQ(rig.presenter.Control(ids::kFailCount).text, "4");

  Unlock(rig);
  EXPECT_TRUE(rig.presenter.Command(ids::kClear));
  EXPECT_EQ(rig.presenter.CounterValues().total, 0);
  EXPECT_EQ(rig.presenter.Control(ids::kTotalCount).text, "0");
}

TEST(PresenterGrid, HeaderClicksSortAndFlipWhileCellsStayWithTheirPorts) {
  PresenterRig rig("sort");
  rig.presenter.Initialise();
  int orders = 0;
  rig.presenter.SetObserver([&](const PresenterEvent& e) { orders += e.kind == PresenterEvent::Kind::kGridOrder; });
  auto ports = [&] {
    std::vector<int> v;
    for (const auto& r : rig.presenter.DisplayedGrid().rows) v.push_back(r.port);
    return v;
  };
  rig.presenter.ShowDevice(2, {"SUPER", "1234", "5678", "A", "0110", "2 GB"});
  rig.presenter.ShowDevice(9, {"HIGH", "1234", "5678", "B", "0110", "512 MB"});
  rig.presenter.ShowDevice(11, {"super", "1234", "5678", "C", "0110", "10 GB"});

  // The port column sorts as numbers: ascending first ("10" after "9"), then descending.
  EXPECT_TRUE(rig.presenter.SortGrid(0));
  EXPECT_EQ(ports()[10], 10);
  EXPECT_EQ(rig.presenter.DisplayedGrid().arrow, widgets::SortArrow::kUp);
  EXPECT_TRUE(rig.presenter.SortGrid(0));
  EXPECT_EQ(ports().front(), 15);
  EXPECT_EQ(rig.presenter.DisplayedGrid().arrow, widgets::SortArrow::kDown);
  EXPECT_EQ(orders, 2);

  // A worker writes port 15's cell: it lands in the row that shows port 15.
  rig.presenter.SetResultCell(15, 7, "FAIL");
  const GridSnapshot g = rig.presenter.DisplayedGrid();
  EXPECT_EQ(g.rows[0].texts[7], "FAIL");
  EXPECT_EQ(g.rows[0].colours[7], (widgets::CListCtrlEx::Colours{widgets::kRed, widgets::kWhite}));
  EXPECT_EQ(rig.presenter.CellText(15, 7), "FAIL");
  EXPECT_EQ(rig.presenter.CellText(0, 0), "0");

  // Status texts sort without regard to case; empty cells come first.
  EXPECT_TRUE(rig.presenter.SortGrid(1));
  const auto by_status = ports();
  EXPECT_EQ(by_status[13], 9);
  EXPECT_EQ(g.sort_column, 0);
  EXPECT_EQ(rig.presenter.DisplayedGrid().sort_column, 1);
}

}  // namespace
}  // namespace linetool::app

#include "linetool/app/single_instance.h"
#include "platform/linux/instance_lock_file.h"

namespace linetool::app {
namespace {

TEST(SingleInstance, SecondStartLeavesTheFirstAloneAndSaysSo) {
  const std::string dir = testing::FreshDir("instance");
  platform::linux_host::InstanceLockFile first(dir + "/LineTool.lock");
  platform::linux_host::InstanceLockFile second(dir + "/LineTool.lock");
  platform::RecordingSink sink;
  EXPECT_TRUE(ClaimSingleInstance(first, sink));
  EXPECT_FALSE(ClaimSingleInstance(second, sink));
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{"LineTool is already running."});
  EXPECT_TRUE(ClaimSingleInstance(first, sink));  // the first one still holds it
  first.Release();
  EXPECT_TRUE(ClaimSingleInstance(second, sink));
}

TEST(SingleInstance, ALockFileThatCannotBeUsedIsNotCalledARunningStation) {
  const std::string dir = testing::FreshDir("instance_fault");
  platform::linux_host::InstanceLockFile lock(dir + "/no such folder/LineTool.lock");
  platform::RecordingSink sink;
  EXPECT_FALSE(ClaimSingleInstance(lock, sink));
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0],
            "The station cannot make sure it runs alone: its lock file cannot be used (" + dir +
                "/no such folder/LineTool.lock: No such file or directory).");
}

}  // namespace
}  // namespace linetool::app
