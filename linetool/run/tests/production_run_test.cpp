#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "linetool/app/control_ids.h"
#include "linetool/profile/serial_number.h"
#include "run_probe.h"

namespace linetool::app {
namespace {

using testing::RunRig;

int CountLines(const std::string& path, const std::string& needle) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string t = ss.str();
  int n = 0;
  for (std::size_t at = t.find(needle); at != std::string::npos; at = t.find(needle, at + 1)) ++n;
  return n;
}

TEST(ProductionRun, SixteenBridgesPassEveryStageAndAdvanceTheSerial) {
  RunRig rig(16);
  rig.Initialise();
  ASSERT_EQ(rig.Run().Table().device_count, 16u);
  const std::string base(profile::TextOf(rig.Engine().Settings().serial_number));
  rig.StartAndWait();
  EXPECT_EQ(rig.sink.Texts(), std::vector<std::string>{});
  for (int row = 0; row < 16; ++row)
    for (int column = 7; column <= 13; ++column)
      EXPECT_EQ(rig.Presenter().CellText(row, column), "PASS") << "row " << row << " column " << column;
  const Counters c = rig.Presenter().CounterValues();
  EXPECT_EQ(c.pass, 16);
  EXPECT_EQ(c.fail, 0);
  EXPECT_EQ(c.total, 16);
  EXPECT_EQ(rig.Presenter().ProgressText(), "100 %");
  EXPECT_EQ(profile::TextOf(rig.Engine().Settings().serial_number), profile::IncreaseSerialNumber(base, 16));
  const std::string log = rig.Run().LogFilePath();
  for (int p = 0; p < 16; ++p)
    EXPECT_EQ(CountLines(log, "\t" + profile::IncreaseSerialNumber(base, p) + "\t"), 1) << p;
  // The panel is usable again.
  EXPECT_TRUE(rig.Presenter().Control(ids::kStart).enabled);
}

}  // namespace
}  // namespace linetool::app

namespace linetool::app {
namespace {

using testing::RunRig;

using testing::Bridges;
using testing::ClearRequestLogs;
using testing::RequestCount;
using testing::StageRow;

TEST(ProductionRun, PortsLeaveTheRelinkBarrierTogether) {
  // After the barrier the ports queue for the partition lock at once, so a
  // second port partitions while the first one is still busy after its own
  // partition. The first port to write its Partition cell is held there until
  // another port's Partition cell appears; ports leaving the barrier one by one
  // would wait for the held port to finish, and the hold would time out.
  RunRig rig(4);
  rig.Initialise();
  std::mutex m;
  int partitions = 0;
  bool second_while_held = false;
  rig.Presenter().SetObserver([&](const PresenterEvent& e) {
    if (e.kind != PresenterEvent::Kind::kCell || e.text.empty() || e.column != kFirstStageColumn + 3) return;
    {
      std::lock_guard g(m);
      if (++partitions > 1) return;
    }
    const bool seen = rig.WaitUntil(
        [&] {
          std::lock_guard g(m);
          return partitions > 1;
        },
        std::chrono::seconds(120));
    std::lock_guard g(m);
    second_while_held = seen;
  });
  rig.StartAndWait();
  rig.Presenter().SetObserver({});
  EXPECT_TRUE(second_while_held);
  EXPECT_EQ(partitions, 4);
  EXPECT_EQ(rig.Presenter().CounterValues().pass, 4);
}

TEST(ProductionRunFaults, FailedConfigurationReadWithOnlyUpdateFwWritesNothing) {
  auto spec = sim::station::DefaultWorld(2);
  Bridges(spec)[1]->faults.fail_from_call[0xE0] = 1;  // every configuration read of bridge 1 fails
  RunRig rig(spec);
  rig.Initialise();
  auto& s = rig.Engine().Settings();
  s.config_enable = 0;
  s.format_enable = 0;
  s.wr_test_enable = 0;
  s.preload_enable = 0;
  s.fw_reload = 0;
  rig.World().WithDevice(0, [](auto& m) { m.ClearLog(); return 0; });
  rig.World().WithDevice(1, [](auto& m) { m.ClearLog(); return 0; });
  rig.StartAndWait();
  // Port 0 read and rewrote its enabled slot; column 7 stays empty, one step of 100.
  EXPECT_EQ(StageRow(rig, 0), (std::vector<std::string>{"", "PASS", "", "", "", "", ""}));
  EXPECT_EQ(RequestCount(rig, 0, 0xE0), 1u);
  EXPECT_EQ(RequestCount(rig, 0, 0xE1), 1u);
  // Port 1: the read failed, nothing was written, the firmware stage did no work.
  EXPECT_EQ(StageRow(rig, 1), (std::vector<std::string>{"", "FAIL", "", "", "", "", ""}));
  EXPECT_EQ(RequestCount(rig, 1, 0xE1), 0u);
  EXPECT_EQ(RequestCount(rig, 1, 0xE3), 0u);
  EXPECT_EQ(rig.Run().Table().records[1].stage_results[0], 0);
  const Counters c = rig.Presenter().CounterValues();
  EXPECT_EQ(c.pass, 1);
  EXPECT_EQ(c.fail, 1);
  EXPECT_EQ(rig.Presenter().ProgressText(), "100 %");
}

TEST(ProductionRunFaults, InjectedFaultsFailOnlyTheirPortsAndStages) {
  auto spec = sim::station::DefaultWorld(4);
  auto bridges = Bridges(spec);
  bridges[0]->faults.fail_from_call[0xE1] = 1;  // configuration write fails
  bridges[1]->faults.never_returns = true;      // never comes back after the restart
  bridges[3]->presents_cdrom = true;            // a CD-ROM presentation
  RunRig rig(spec);
  rig.Initialise();
  rig.Volumes().SetFaults('H', sim::station::VolumeFaults{true});  // the third disk's volume is full
  rig.StartAndWait();
  EXPECT_EQ(StageRow(rig, 0), (std::vector<std::string>(7, "FAIL")));
  EXPECT_EQ(RequestCount(rig, 0, 0xE3), 0u);  // later stages did no device work
  EXPECT_EQ(StageRow(rig, 1), (std::vector<std::string>{"PASS", "PASS", "FAIL", "FAIL", "FAIL", "FAIL", "FAIL"}));
  // The CD-ROM port fails partition, format and the test; its preload cell stays empty.
  const auto cd = StageRow(rig, 3);
  EXPECT_EQ(cd[3], "FAIL");
  EXPECT_EQ(cd[4], "FAIL");
  EXPECT_EQ(cd[5], "FAIL");
  EXPECT_EQ(cd[6], "");
  const Counters c = rig.Presenter().CounterValues();
  EXPECT_EQ(c.total, 4);
  EXPECT_EQ(c.fail + c.pass, 4);
  EXPECT_GE(c.fail, 3);
}

TEST(ProductionRunSerials, PortsGetBasePlusIndexAndTheNextRunStartsAfterTheSelectedCount) {
  auto spec = sim::station::DefaultWorld(6);
  RunRig rig(spec);
  rig.Initialise();
  // Only ports 0 and 5 take part: the others lose their disk's firmware text
  // by being unplugged before the refresh.
  for (std::size_t i = 1; i <= 4; ++i) rig.World().Unplug(i);
  rig.Run().RefreshPorts();
  auto& s = rig.Engine().Settings();
  s.format_enable = 0;
  s.wr_test_enable = 0;
  s.preload_enable = 0;
  const std::string base(profile::TextOf(s.serial_number));
  ASSERT_EQ(rig.Run().Table().device_count, 2u);
  rig.StartAndWait();
  // The two devices sit in rows 0 and 1 after the refresh (discovery order).
  EXPECT_EQ(rig.Presenter().CellText(0, 4), profile::IncreaseSerialNumber(base, 0));
  EXPECT_EQ(rig.Presenter().CellText(1, 4), profile::IncreaseSerialNumber(base, 1));
  EXPECT_EQ(profile::TextOf(s.serial_number), profile::IncreaseSerialNumber(base, 2));
  // The progress step of 4 stages is 25; every port ends at 100.
  EXPECT_EQ(rig.Presenter().ProgressText(), "100 %");
}

TEST(ProductionRunChecks, StartRefusesBadSettingsInOrderWithTheirMessages) {
  RunRig rig(2);
  rig.Initialise();
  auto& s = rig.Engine().Settings();
  auto start = [&] {
    rig.sink.Clear();
    rig.Presenter().Command(1022);
    rig.Run().WaitIdle();
    return rig.sink.Texts();
  };
  const profile::ProfileSettings good = s;
  profile::SetText(s.vendor_id, "1E3");
  profile::SetText(s.product_id, "77");
  EXPECT_EQ(start(), std::vector<std::string>{"VID Format not valid \r\nPID Format not valid \r\n"});
  s = good;
  profile::SetText(s.serial_number, "0123456789A");
  EXPECT_EQ(start(), std::vector<std::string>{"Serial Number Invalid, at least 12 digits\r\n"});
  s = good;
  s.fw_enable = 0;
  EXPECT_EQ(start(), std::vector<std::string>{
                         "Error!!\nPlease check following setting:\n1. <<More Config>>\n2. <<Update FW>>\n3. "
                         "<<Update Config>>\n4. FW path"});
  s = good;
  s.image0 = 0;
  s.image1 = 0;
  EXPECT_EQ(start(), std::vector<std::string>{"please check dual image setting in more config or ini file"});
  EXPECT_EQ(rig.Run().RunsFinished(), 0);
  EXPECT_EQ(rig.Presenter().CounterValues().total, 0);

  // A firmware for another chip variant: every port is named, no run at all.
  s = good;
  std::filesystem::copy_file(rig.Workdir() + "/121105_10_0000.bin", rig.Workdir() + "/121105_20_0000.bin");
  profile::SetText(s.fw_binary_name, "121105_20_0000.bin");
  s.config_enable = 0;
  EXPECT_EQ(start(), std::vector<std::string>{"Chip and FW don't match. Port:0 .1 ."});
  EXPECT_EQ(rig.Run().RunsFinished(), 0);

  // An empty serial and 12 characters pass; the run happens.
  s = good;
  profile::SetText(s.serial_number, "");
  s.format_enable = s.wr_test_enable = s.preload_enable = s.fw_reload = 0;
  EXPECT_EQ(start(), std::vector<std::string>{});
  EXPECT_EQ(rig.Run().RunsFinished(), 1);
}

TEST(ProductionRunStops, StopAllJobsEndsARunAtASafePointAndPlugEventsWaitForRemoval) {
  RunRig rig(4);
  rig.Initialise();
  rig.Presenter().Command(1022);
  ASSERT_TRUE(rig.Run().RunActive());
  rig.Run().StopAllJobs();  // returns only when every job thread has ended
  EXPECT_FALSE(rig.Run().RunActive());
  EXPECT_EQ(rig.Run().RunsFinished(), 0);
  EXPECT_TRUE(rig.Presenter().Control(1022).enabled);  // the panel is usable again
  // The station still works: once bridges stopped in their restart are back,
  // a new run passes every port.
  rig.Clock().WaitFor(std::chrono::seconds(5));
  rig.Run().RefreshPorts();
  rig.StartAndWait();
  EXPECT_EQ(rig.Presenter().CounterValues().pass, 4);

  // Safely Remove: the bridges leave; their removal events do not refresh the table.
  EXPECT_TRUE(rig.Presenter().Command(1023));
  rig.Run().WaitIdle();
  EXPECT_EQ(rig.Run().Table().device_count, 4u);
  EXPECT_EQ(rig.Presenter().CellText(0, 1), "SUPER");
}

}  // namespace
}  // namespace linetool::app

namespace linetool::app {
namespace {

TEST(ProductionRunPlugEvents, AWindowGetsTheRefreshOnItsOwnThreadAndNotDuringARun) {
  RunRig rig(4);
  std::vector<std::function<void()>> queued;
  std::mutex queued_mutex;
  rig.Run().SetEventDispatch([&](std::function<void()> work) {
    std::lock_guard lock(queued_mutex);
    queued.push_back(std::move(work));
  });
  auto drain = [&] {
    std::vector<std::function<void()>> now;
    {
      std::lock_guard lock(queued_mutex);
      now.swap(queued);
    }
    for (auto& w : now) w();
    return now.size();
  };
  rig.Initialise();
  drain();
  ASSERT_EQ(rig.Presenter().CellText(2, 1), "SUPER");

  // The unplug is only handed over; the table changes when the window runs it.
  rig.World().Unplug(2);
  EXPECT_EQ(rig.Presenter().CellText(2, 1), "SUPER");
  EXPECT_GE(drain(), 1u);
  EXPECT_EQ(rig.Run().Table().device_count, 3u);

  // A plug handed over before Start but run by the window during the run
  // leaves the run's table alone.
  rig.World().Plug(2);
  rig.Presenter().Command(1022);
  ASSERT_TRUE(rig.Run().RunActive());
  drain();
  EXPECT_EQ(rig.Run().Table().device_count, 3u);
  rig.Run().WaitIdle();
  EXPECT_EQ(rig.Presenter().CounterValues().total, 3);
}

}  // namespace
}  // namespace linetool::app

namespace linetool::app {
namespace {

TEST(ProductionRunStartup, WithBridgesPresentTheLockedPanelStartsIdle) {
  RunRig rig(2);
  rig.Initialise();
  ASSERT_EQ(rig.Run().Table().device_count, 2u);
  const Panel p = rig.Presenter().Controls();
  EXPECT_TRUE(p.At(ids::kStart).enabled);
  EXPECT_FALSE(p.At(ids::kSaveIni).enabled);
  EXPECT_FALSE(p.At(ids::kUpdateConfig).enabled);
  EXPECT_TRUE(p.At(ids::kVendorId).read_only);
}

}  // namespace
}  // namespace linetool::app
