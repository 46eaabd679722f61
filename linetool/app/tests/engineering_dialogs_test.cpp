// The register dialog and the device information dialog on the simulated
// station.

#include <gtest/gtest.h>

#include "linetool/app/debug_dlg.h"
#include "linetool/app/device_info_dlg.h"
#include "linetool/device/tests/sim_fixture.h"
#include "presenter_fixture.h"

namespace linetool::app {
namespace {

namespace d = ids::debug;
using device::testing::SimStation;
using platform::MessageBox;
using platform::MessageIcon;
using sim::station::SimBridge;

// A station of `bridges` bridges with a sink and the register dialog.
struct EngineeringRig {
  explicit EngineeringRig(int bridges, const std::function<void(sim::station::WorldSpec&)>& edit = {})
      : station(Spec(bridges, edit)),
        dialog(Access(), sink, dialogs) {
    station.Refresh();
    dialog.Open();
  }
  static sim::station::WorldSpec Spec(int bridges, const std::function<void(sim::station::WorldSpec&)>& edit) {
    auto spec = sim::station::DefaultWorld(bridges);
    if (edit) edit(spec);
    return spec;
  }
  EngineeringAccess Access() { return {&station.table, &station.lib, &station.clock}; }
  template <class F>
  void Bridge(std::size_t i, F&& f) {
    station.world.WithDevice(i, std::forward<F>(f));
  }
  // The nth configuration read from now on fails, and every later one.
  void FailConfigReadsFrom(std::uint32_t n) {
    Bridge(0, [n](SimBridge& b) { b.Faults().fail_from_call[0xE0] = b.Calls(0xE0) + n; });
  }
  RegisterResult Read(const std::string& address, const std::string& length) {
    dialog.EditText(d::kReadAddress, address);
    dialog.EditText(d::kReadLength, length);
    return dialog.ReadRegister();
  }
  RegisterResult Write(const std::string& address, const std::string& value) {
    dialog.EditText(d::kWriteAddress, address);
    dialog.EditText(d::kWriteValue, value);
    return dialog.WriteRegister();
  }
  // The one box shown since the last call.
  MessageBox TakeBox() {
    const auto boxes = sink.Boxes();
    sink.Clear();
    EXPECT_EQ(boxes.size(), 1u);
    return boxes.empty() ? MessageBox{} : boxes.back();
  }

  SimStation station;
  platform::RecordingSink sink;
  testing::ScriptedDialogs dialogs;
  CDebugDlg dialog;
};

const std::string kBlankGrid = [] {
  std::string g;
  for (int i = 0; i < 16; ++i) g += std::string(47, ' ') + "\n";
  return g;
}();

TEST(RegisterDialog, ReadChecksLengthAndAddressInTheDialogsOrder) {
  EngineeringRig rig(2);
  EXPECT_EQ(rig.dialog.Controls().At(d::kSelectPort).items, (std::vector<std::string>{"0", "1"}));
  EXPECT_EQ(rig.dialog.Controls().At(d::kImage).text, "0");
  EXPECT_TRUE(rig.dialog.Controls().At(d::kReadRegister).enabled);

  // Length "0" reads nothing: an empty grid of 768 characters, no message.
  EXPECT_EQ(rig.Read("7F0", "0"), RegisterResult::kDone);
  EXPECT_EQ(rig.dialog.Output(), kBlankGrid);
  EXPECT_TRUE(rig.sink.Boxes().empty());

  EXPECT_EQ(rig.Read("7F0", "7"), RegisterResult::kDone);
  EXPECT_EQ(rig.dialog.Output().substr(0, 48), "12 11 05 10 00 00 00" + std::string(27, ' ') + "\n");
  EXPECT_EQ(rig.dialog.Output().size(), 768u);

  const MessageBox bad_length{"Invalid value for register length", "Error", MessageIcon::kError};
  for (const char* length : {"zz", "", "00", "10000", "7q"}) {
    EXPECT_EQ(rig.Read("7F0", length), RegisterResult::kBadLength) << length;
    EXPECT_EQ(rig.TakeBox(), bad_length) << length;
  }
  // The address is checked first.
  const MessageBox bad_address{"Invalid value for register address", "Error", MessageIcon::kError};
  for (const char* address : {"", "zz", "10000"}) {
    EXPECT_EQ(rig.Read(address, "zz"), RegisterResult::kBadAddress) << address;
    EXPECT_EQ(rig.TakeBox(), bad_address) << address;
  }
  // 0x101 bytes reach the bridge layer, which refuses them with 3; the grid
  // of the last good read stays.
  EXPECT_EQ(rig.Read("7F0", "101"), RegisterResult::kAccessFailed);
  EXPECT_EQ(rig.TakeBox(), (MessageBox{"Access Device is Failed ! (3)", "LineTool", MessageIcon::kError}));
  EXPECT_EQ(rig.dialog.ShownBytes().size(), 7u);
  // A transfer failure reports 1.
  rig.Bridge(0, [](SimBridge& b) { b.Faults().fail_from_call[0xE4] = b.Calls(0xE4) + 1; });
  EXPECT_EQ(rig.Read("7F0", "1"), RegisterResult::kAccessFailed);
  EXPECT_EQ(rig.TakeBox().text, "Access Device is Failed ! (1)");
}

TEST(RegisterDialog, WriteTakesTheLowByteAndAnUnopenedBridgeReportsThree) {
  EngineeringRig rig(2);
  ASSERT_TRUE(rig.dialog.SelectItem(d::kSelectPort, 1));
  EXPECT_EQ(rig.Write("ca02", "0x1FF"), RegisterResult::kDone);
  rig.Bridge(1, [](SimBridge& b) { EXPECT_EQ(b.Register(0xCA02), 0xFF); });
  rig.Bridge(0, [](SimBridge& b) { EXPECT_EQ(b.Register(0xCA02), 0x00); });
  EXPECT_TRUE(rig.sink.Boxes().empty());

  EXPECT_EQ(rig.Write("CA02", ""), RegisterResult::kBadLength);
  EXPECT_EQ(rig.TakeBox().text, "Invalid value for register length");
  EXPECT_EQ(rig.Write("", "1"), RegisterResult::kBadAddress);
  EXPECT_EQ(rig.TakeBox().text, "Invalid value for register address");

  // Another handle holds the drive: the exclusive open fails.
  const int drive = rig.station.table.records[1].physical_drive_number;
  auto held = rig.station.OpenDrive(drive);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(rig.Write("CA02", "5"), RegisterResult::kAccessFailed);
  EXPECT_EQ(rig.TakeBox(), (MessageBox{"Access Device is Failed ! (3)", "LineTool", MessageIcon::kError}));
  EXPECT_EQ(rig.Read("CA02", "1"), RegisterResult::kOpenFailed);
  EXPECT_EQ(rig.TakeBox(), (MessageBox{"OpenDev Fail", "Error", MessageIcon::kError}));
}

TEST(RegisterDialog, ConfigTableOfTheSelectedImageAndAFailedReadLeavesNoStaleGrid) {
  EngineeringRig rig(1, [](sim::station::WorldSpec& w) {
    sim::station::SimConfigBlock slot1;
    for (std::size_t i = 0; i < slot1.size(); ++i) slot1[i] = static_cast<std::uint8_t>(i);
    sim::station::BridgesOf(w)[0]->config_slot1 = slot1;
  });
  ASSERT_TRUE(rig.dialog.SelectItem(d::kImage, 1));
  EXPECT_EQ(rig.dialog.ReadConfigTable(), RegisterResult::kDone);
  const std::string grid = rig.dialog.Output();
  EXPECT_EQ(grid.substr(7 * 48, 48), "70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E 7F\n");
  EXPECT_EQ(grid.substr(8 * 48), kBlankGrid.substr(8 * 48));

  rig.FailConfigReadsFrom(1);
  EXPECT_EQ(rig.dialog.ReadConfigTable(), RegisterResult::kSlotNotRead);
  EXPECT_TRUE(rig.sink.Boxes().empty());
  EXPECT_EQ(rig.dialog.Output(), kBlankGrid);
}

TEST(RegisterDialog, EmptyTableDisablesTheDialogAndDeviceInfoOpensOnTheSelection) {
  EngineeringRig empty(0);
  for (int id : {d::kSelectPort, d::kImage, d::kReadAddress, d::kReadRegister, d::kWriteRegister,
                 d::kReadConfigTable, d::kDeviceInfo}) {
    EXPECT_FALSE(empty.dialog.Controls().At(id).enabled) << id;
  }
  EXPECT_FALSE(empty.dialog.Command(d::kReadRegister));
  EXPECT_FALSE(empty.dialog.EditText(d::kReadAddress, "0"));
  EXPECT_TRUE(empty.dialog.Controls().At(d::kSelectPort).items.empty());

  EngineeringRig rig(2);
  ASSERT_TRUE(rig.dialog.SelectItem(d::kSelectPort, 1));
  ASSERT_TRUE(rig.dialog.SelectItem(d::kImage, 1));
  rig.Bridge(1, [](SimBridge& b) { b.SetRegister(0x9000, 0x00); });
  EXPECT_TRUE(rig.dialog.Command(d::kDeviceInfo));
  EXPECT_EQ(rig.dialogs.device_info_shown, 1);
  EXPECT_NE(rig.dialog.DeviceInfo().Report().find("\nEnable UASP : No \n"), std::string::npos);
  // Reopening selects the first entries again.
  rig.dialog.Open();
  EXPECT_EQ(rig.dialog.SelectedPort(), 0);
  EXPECT_EQ(rig.dialog.SelectedImage(), 0);
}

TEST(DeviceInfo, FlagAndIdleTexts) {
  const std::vector<std::string> expected_flags = {"X", "O", "O", "O", "O", "O", "O", "X"};
  for (int bit = 0; bit < 8; ++bit) EXPECT_EQ(FlagText(0x81, bit), expected_flags[static_cast<std::size_t>(bit)]);
  EXPECT_EQ(IdleTimerText(0xF1), "3 min");
  EXPECT_EQ(IdleTimerText(0xF7), "1 hr");
  EXPECT_EQ(IdleTimerText(0xFB), "5 hr");
  EXPECT_EQ(IdleTimerText(0xFF), "Never");
  for (int v : {0x00, 0xF0, 0xFC, 0xFE}) EXPECT_EQ(IdleTimerText(static_cast<std::uint8_t>(v)), "NULL") << v;

  EXPECT_EQ(VariantMark(0x00), "1-");
  EXPECT_EQ(VariantMark(0x10), "2-");  // "001_B0" without its suffix
  EXPECT_EQ(VariantMark(0x70), "7-");
  EXPECT_EQ(VariantMark(0x40), "1-");
  // 0xC890 bit 2 says no whatever 0xC8FF holds; bit 1 only with variant bits
  // 5-4 clear and low bits exactly 2.
  for (int c8ff : {0x00, 0x02, 0x11, 0xFF}) EXPECT_FALSE(UaspSupported(0x04, static_cast<std::uint8_t>(c8ff)));
  EXPECT_FALSE(UaspSupported(0x02, 0x02));
  EXPECT_FALSE(UaspSupported(0x02, 0x42));
  EXPECT_TRUE(UaspSupported(0x02, 0x12));
  EXPECT_TRUE(UaspSupported(0x02, 0x03));
  EXPECT_TRUE(UaspSupported(0x00, 0x02));
}

sim::station::SimConfigBlock SlotWith(std::uint8_t idle, std::uint8_t flags) {
  sim::station::SimConfigBlock b;
  b.fill(0xFF);
  b[122] = idle;
  b[125] = flags;
  return b;
}

TEST(DeviceInfo, StatusRowReportAndThePreviousReadKeptOnFailure) {
  EngineeringRig rig(1, [](sim::station::WorldSpec& w) {
    sim::station::BridgesOf(w)[0]->config_slot0 = SlotWith(0xF7, 0x81);
    sim::station::BridgesOf(w)[0]->config_slot1 = SlotWith(0x00, 0x7E);
  });
  rig.Bridge(0, [](SimBridge& b) {
    b.SetRegister(0xC890, 0x04);
    b.SetRegister(0xC8FF, 0x12);
    b.SetRegister(0x9000, 0x80);
  });
  CDeviceInfoDlg info(rig.Access(), rig.sink);
  // Before any read the cells are empty.
  EXPECT_EQ(info.StatusRow(), (std::vector<std::string>{"Status", "", "", "", "", "", "", "", "", ""}));
  EXPECT_EQ(CDeviceInfoDlg::Columns().size(), 10u);
  EXPECT_EQ(CDeviceInfoDlg::Columns()[5], "U1U2");

  EXPECT_TRUE(info.Open(0, 0));
  EXPECT_EQ(info.StatusRow(), (std::vector<std::string>{"Status", "X", "O", "O", "O", "O", "O", "O", "X", "1 hr"}));
  const std::string& report = info.Report();
  const auto support = report.find("\n\nSupport UASP : ");
  ASSERT_NE(support, std::string::npos) << report;
  EXPECT_EQ(report.substr(support), "\n\nSupport UASP : No \n\nEnable UASP : Yes \n");
  // The variant line: a number, the mark "2-" of variant "001", a number and
  // the low two bits of 0xC8FF.
  const std::string line = report.substr(0, support);
  const auto mark = line.find("2-");
  ASSERT_NE(mark, std::string::npos) << line;
  EXPECT_EQ(line.back(), '2');
  EXPECT_EQ(line.substr(mark + 2, line.size() - mark - 3).find_first_not_of("0123456789"), std::string::npos) << line;
  EXPECT_TRUE(rig.sink.Boxes().empty());

  EXPECT_TRUE(info.Open(0, 1));
  EXPECT_EQ(info.StatusRow(), (std::vector<std::string>{"Status", "O", "X", "X", "X", "X", "X", "X", "O", "NULL"}));

  // A failed slot read keeps the cells of the previous successful read.
  rig.FailConfigReadsFrom(1);
  EXPECT_FALSE(info.Open(0, 0));
  EXPECT_EQ(info.StatusRow().back(), "NULL");
  EXPECT_EQ(info.StatusRow()[1], "O");

  // Register failures: 0xC890 reports with "Access Device", 0xC8FF with
  // "Access Register", and the report stops there.
  rig.Bridge(0, [](SimBridge& b) {
    b.Faults().fail_from_call.erase(0xE0);
    b.Faults().fail_from_call[0xE4] = b.Calls(0xE4) + 2;
  });
  EXPECT_FALSE(info.Open(0, 0));
  EXPECT_EQ(rig.TakeBox(), (MessageBox{"Access Register Failed ! (1)", "LineTool", MessageIcon::kError}));
  EXPECT_EQ(info.Report(), "");
  EXPECT_EQ(info.StatusRow()[9], "1 hr");
  rig.Bridge(0, [](SimBridge& b) { b.Faults().fail_from_call[0xE4] = b.Calls(0xE4) + 1; });
  EXPECT_FALSE(info.Open(0, 0));
  EXPECT_EQ(rig.TakeBox().text, "Access Device is Failed ! (1)");

  // A bridge that does not open: "OpenDev Fail", no report.
  EngineeringRig none(0);
  CDeviceInfoDlg gone(none.Access(), none.sink);
  EXPECT_FALSE(gone.Open(3, 0));
  EXPECT_EQ(none.TakeBox(), (MessageBox{"OpenDev Fail", "Error", MessageIcon::kError}));
}

}  // namespace
}  // namespace linetool::app
