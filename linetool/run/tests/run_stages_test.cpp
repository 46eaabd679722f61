// The production run seen from the window: progress while the stages go on,
// the configuration kept by a firmware-only run, serial numbers of scattered
// ports, the checks behind Start, a CD-ROM port, Safely Remove and auto mode.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "linetool/app/control_ids.h"
#include "linetool/disk/production_log.h"
#include "linetool/profile/serial_number.h"
#include "platform/path_access.h"
#include "run_probe.h"

namespace linetool::app {
namespace {

using testing::Bridges;
using testing::ClearRequestLogs;
using testing::RequestCount;
using testing::StageRow;
using testing::RunRig;

// Only the named stages on.
struct Stages {
  bool config = false, fw = false, reload = false, format = false, wr = false, preload = false;
};
void SetStages(RunRig& rig, Stages st) {
  auto& s = rig.Engine().Settings();
  s.config_enable = st.config;
  s.fw_enable = st.fw;
  s.fw_reload = st.reload;
  s.format_enable = st.format;
  s.wr_test_enable = st.wr;
  s.preload_enable = st.preload;
}

// What the window sees of a run: for every result cell a worker writes, the
// port's job progress at that moment (before the stage's step is added), and
// every progress text the controller shows.
class ProgressWatch {
 public:
  explicit ProgressWatch(RunRig& rig) : rig_(rig) {
    rig.Presenter().SetObserver([this](const PresenterEvent& e) {
      std::lock_guard lock(mutex_);
      if (e.kind == PresenterEvent::Kind::kCell && e.column >= kFirstStageColumn && !e.text.empty()) {
        at_cells_[e.row].push_back(rig_.Run().Job(e.row).progress.load());
        ++written_[e.column];
      }
      if (e.kind == PresenterEvent::Kind::kProgress) texts_.push_back(e.text);
    });
  }
  ~ProgressWatch() { rig_.Presenter().SetObserver({}); }
  ProgressWatch(const ProgressWatch&) = delete;
  ProgressWatch& operator=(const ProgressWatch&) = delete;

  std::vector<float> AtCells(int row) {
    std::lock_guard lock(mutex_);
    return at_cells_[row];
  }
  int Written(int column) {
    std::lock_guard lock(mutex_);
    return written_[column];
  }
  // The numbers of the "%3d %" texts, in order.
  std::vector<int> Percentages() {
    std::lock_guard lock(mutex_);
    std::vector<int> out;
    for (const auto& t : texts_) {
      int v = 0;
      char tail[4] = {};
      if (t.size() == 5 && std::sscanf(t.c_str(), "%3d %1s", &v, tail) == 2 && tail[0] == '%') out.push_back(v);
    }
    return out;
  }

 private:
  RunRig& rig_;
  std::mutex mutex_;
  std::map<int, std::vector<float>> at_cells_;
  std::map<int, int> written_;
  std::vector<std::string> texts_;
};

TEST(RunProgress, FiveStagesStepTwentyEachAndTheRunEndsAtOneHundred) {
  RunRig rig(1);
  rig.Initialise();
  // Config, F/W, Partition / Format (two) and the W/R test: five stages.
  SetStages(rig, {.config = true, .fw = true, .format = true, .wr = true});
  ProgressWatch watch(rig);
  rig.StartAndWait();
  EXPECT_EQ(StageRow(rig, 0), (std::vector<std::string>{"PASS", "PASS", "", "PASS", "PASS", "PASS", ""}));
  EXPECT_EQ(watch.AtCells(0), (std::vector<float>{0.0f, 20.0f, 40.0f, 60.0f, 80.0f}));
  EXPECT_EQ(rig.Run().Job(0).progress.load(), 100.0f);
  EXPECT_EQ(rig.Run().Job(1).state.load(), PortState::kNotInRun);
  EXPECT_EQ(rig.Run().Job(1).progress.load(), 0.0f);
  // The shown mean moves in steps of the one port and never goes back.
  const auto shown = watch.Percentages();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), 100);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i] % 20, 0) << shown[i];
    if (i > 0) {
      EXPECT_GE(shown[i], shown[i - 1]);
    }
  }
  EXPECT_EQ(rig.Presenter().ProgressText(), "100 %");
  EXPECT_EQ(rig.Presenter().ProgressBar(), 100);
}

TEST(RunProgress, ThreeStagesStepThirtyThreeAndPreloadNeverCounts) {
  RunRig rig(2);
  rig.Initialise();
  // Config, F/W and Preload. The disks carry no volume yet, so the preload
  // finds no drive letter and fails; the devices still count as passed.
  SetStages(rig, {.config = true, .fw = true, .preload = true});
  ProgressWatch watch(rig);
  rig.StartAndWait();
  std::set<int> possible;  // the mean of two ports at 0, 33, 66, 99 or 100
  for (int a : {0, 33, 66, 99, 100})
    for (int b : {0, 33, 66, 99, 100}) possible.insert((a + b) / 2);
  for (int p = 0; p < 2; ++p) {
    EXPECT_EQ(StageRow(rig, p), (std::vector<std::string>{"PASS", "PASS", "", "", "", "", "FAIL"})) << p;
    EXPECT_EQ(watch.AtCells(p), (std::vector<float>{0.0f, 33.0f, 66.0f})) << p;
    EXPECT_EQ(rig.Run().Job(p).progress.load(), 100.0f);
  }
  for (int v : watch.Percentages()) EXPECT_EQ(possible.count(v), 1u) << v;
  EXPECT_EQ(rig.Presenter().ProgressText(), "100 %");
  EXPECT_EQ(rig.Presenter().ProgressBar(), 100);
  const Counters c = rig.Presenter().CounterValues();
  EXPECT_EQ(c.pass, 2);
  EXPECT_EQ(c.fail, 0);
  EXPECT_EQ(c.total, 2);
}

TEST(FirmwareOnlyRun, BothImagesKeepTheirConfigurationAndTheRunIsOneStep) {
  auto spec = sim::station::DefaultWorld(1);
  auto* bridge = Bridges(spec)[0];
  bridge->config_slot0 = sim::station::ConfigBlockFor(bridge->factory);
  sim::station::SimConfigBlock other{};
  for (std::size_t i = 0; i < other.size(); ++i) other[i] = static_cast<std::uint8_t>(i * 7 + 3);
  bridge->config_slot1 = other;
  RunRig rig(spec);
  rig.Initialise();
  SetStages(rig, {.fw = true});
  rig.Engine().Settings().image0 = 1;
  rig.Engine().Settings().image1 = 1;
  ClearRequestLogs(rig);
  ProgressWatch watch(rig);
  rig.StartAndWait();

  struct SlotRequest {
    std::uint8_t opcode;
    std::uint8_t slot;
    std::vector<std::uint8_t> data;
    bool operator==(const SlotRequest&) const = default;
  };
  std::vector<SlotRequest> config_requests;
  bool firmware_before_config = false;
  rig.World().WithDevice(0, [&](auto& m) {
    for (const auto& e : m.Log()) {
      const std::uint8_t op = e.request.cdb[0];
      if (op == 0xE3 && config_requests.size() < 4) firmware_before_config = true;
      if (op == 0xE0 || op == 0xE1) config_requests.push_back({op, e.request.cdb[1], e.data_out});
    }
    return 0;
  });
  const std::vector<std::uint8_t> slot0(bridge->config_slot0->begin(), bridge->config_slot0->end());
  const std::vector<std::uint8_t> slot1(other.begin(), other.end());
  // Each slot is read and written back as it was, before the firmware goes in.
  EXPECT_EQ(config_requests, (std::vector<SlotRequest>{
                                 {0xE0, 0, {}}, {0xE1, 0, slot0}, {0xE0, 1, {}}, {0xE1, 1, slot1}}));
  EXPECT_FALSE(firmware_before_config);
  rig.World().WithDevice(0, [&](auto& m) {
    EXPECT_EQ(m.ConfigSlot(0), *bridge->config_slot0);
    EXPECT_EQ(m.ConfigSlot(1), other);
    EXPECT_EQ(m.FirmwareStreams(0), 1u);
    EXPECT_EQ(m.FirmwareStreams(1), 1u);
    return 0;
  });
  // Column 7 is never written; the firmware cell comes at progress 0 and the
  // one step is 100.
  EXPECT_EQ(watch.Written(7), 0);
  EXPECT_EQ(StageRow(rig, 0), (std::vector<std::string>{"", "PASS", "", "", "", "", ""}));
  EXPECT_EQ(watch.AtCells(0), std::vector<float>{0.0f});
  EXPECT_EQ(rig.Run().Table().records[0].stage_results[0], 1);
  EXPECT_EQ(rig.Run().Job(0).progress.load(), 100.0f);
  EXPECT_EQ(rig.Presenter().ProgressText(), "100 %");
  EXPECT_EQ(rig.Presenter().CounterValues().pass, 1);
}

TEST(RunSerials, PortsZeroAndFiveGetTheirIndexAndTheNextRunStartsTwoOn) {
  auto spec = sim::station::DefaultWorld(6);
  // Bridges 1-4 answer no register read: they are listed without a firmware
  // version and take no part, so the run is on rows 0 and 5.
  auto bridges = Bridges(spec);
  for (std::size_t i = 1; i <= 4; ++i) bridges[i]->faults.fail_from_call[0xE4] = 1;
  RunRig rig(spec);
  rig.Initialise();
  ASSERT_EQ(rig.Run().Table().device_count, 6u);
  EXPECT_EQ(rig.Presenter().CellText(3, 5), "");
  SetStages(rig, {.config = true, .fw = true, .reload = true});
  const std::string base(profile::TextOf(rig.Engine().Settings().serial_number));
  ASSERT_EQ(base.size(), 12u);
  auto serial = [&](int n) { return profile::IncreaseSerialNumber(base, n); };
  auto device_serial = [&](std::size_t d) { return rig.World().WithDevice(d, [](auto& m) { return m.Identity().serial; }); };

  rig.StartAndWait();
  const auto& selected = rig.Run().Control().selected;
  EXPECT_EQ(std::vector<int>(selected.begin(), selected.begin() + 7), (std::vector<int>{1, 0, 0, 0, 0, 1, 0}));
  EXPECT_EQ(rig.Presenter().CellText(0, 4), serial(0));
  EXPECT_EQ(rig.Presenter().CellText(5, 4), serial(5));
  EXPECT_EQ(device_serial(0), serial(0));
  EXPECT_EQ(device_serial(5), serial(5));
  EXPECT_EQ(StageRow(rig, 3), std::vector<std::string>(7, ""));
  // Advanced by the two ports of the run, in the panel and the settings.
  EXPECT_EQ(profile::TextOf(rig.Engine().Settings().serial_number), serial(2));
  EXPECT_EQ(rig.Presenter().Control(ids::kSerialNumber).text, serial(2));

  rig.StartAndWait();
  EXPECT_EQ(device_serial(0), serial(2));
  EXPECT_EQ(device_serial(5), serial(7));
  EXPECT_EQ(profile::TextOf(rig.Engine().Settings().serial_number), serial(4));
  EXPECT_EQ(rig.Presenter().CounterValues().pass, 4);
}

TEST(PortTable, EmptyStationShowsPortNumbersOnlyAndUnknownCapacityIsNotCounted) {
  {
    RunRig rig(0);
    rig.Initialise();
    EXPECT_EQ(rig.Run().Table().device_count, 0u);
    const auto grid = rig.Presenter().GridTexts();
    for (int row = 0; row < 16; ++row) {
      std::vector<std::string> expected(14, "");
      expected[0] = std::to_string(row);
      EXPECT_EQ(grid[static_cast<std::size_t>(row)], expected) << row;
    }
    EXPECT_TRUE(rig.Presenter().Control(ids::kStart).enabled);
  }
  auto spec = sim::station::DefaultWorld(2);
  Bridges(spec)[1]->disk_size = 0;  // no medium: the size is not known
  RunRig rig(spec);
  rig.Initialise();
  ASSERT_EQ(rig.Run().Table().device_count, 2u);
  EXPECT_NE(rig.Presenter().CellText(0, 6), "");
  EXPECT_EQ(rig.Presenter().CellText(1, 6), "");
  SetStages(rig, {.config = true, .fw = true});
  rig.StartAndWait();
  EXPECT_EQ(rig.Run().Control().selected_count, 2);
  EXPECT_EQ(rig.Run().Control().capacity_count, 1);
  EXPECT_EQ(rig.Run().Job(0).capacity_count, 1);
}

// Presses Start; the messages it showed.
std::vector<std::string> Start(RunRig& rig) {
  rig.sink.Clear();
  rig.Presenter().Command(ids::kStart);
  rig.Run().WaitIdle();
  return rig.sink.Texts();
}

TEST(StartChecks, TestFileOfOneHundredEightyMiBIsTheLimit) {
  RunRig rig(1);
  rig.Initialise();
  // The W/R test alone, with no volume on the disk: the stage fails at once
  // without reading the file, which keeps a 180 MiB test file cheap.
  SetStages(rig, {.wr = true});
  auto& s = rig.Engine().Settings();
  s.wr_test_count = 0;
  profile::SetText(s.wr_test_binary_name, "wr_big.bin");
  const std::string path = platform::JoinStationPath(platform::ToStationPath(rig.Workdir()), "wr_big.bin");

  EXPECT_EQ(Start(rig), std::vector<std::string>{path + " File/Path Not Exist"});
  EXPECT_EQ(rig.Run().RunsFinished(), 0);

  const auto host = std::filesystem::path(rig.Workdir()) / "wr_big.bin";
  { std::ofstream(host, std::ios::binary).put('\0'); }
  std::filesystem::resize_file(host, 0xB400000 + 1);  // sparse
  EXPECT_EQ(Start(rig), std::vector<std::string>{path + " WrRdTest file size too large"});
  EXPECT_EQ(rig.Run().RunsFinished(), 0);
  EXPECT_EQ(StageRow(rig, 0), std::vector<std::string>(7, ""));

  std::filesystem::resize_file(host, 0xB400000);
  EXPECT_EQ(Start(rig), std::vector<std::string>{});
  EXPECT_EQ(rig.Run().RunsFinished(), 1);
  EXPECT_EQ(rig.Run().Table().records[0].test_file_length, 0xB400000u);
  EXPECT_EQ(rig.Presenter().CounterValues().total, 1);
}

TEST(StartChecks, BlockedChecksGoOnOnlyWhereTheyShould) {
  RunRig rig(1);
  rig.Initialise();
  auto& s = rig.Engine().Settings();
  const profile::ProfileSettings good = s;
  // A bad format and no image: both messages, in this order.
  profile::SetText(s.vendor_id, "1E3");
  s.image0 = s.image1 = 0;
  EXPECT_EQ(Start(rig), (std::vector<std::string>{"VID Format not valid \r\n",
                                                  "please check dual image setting in more config or ini file"}));
  // Already blocked: the configuration-without-firmware check is not made.
  s = good;
  profile::SetText(s.serial_number, "0000A000000");
  s.fw_enable = 0;
  EXPECT_EQ(Start(rig), std::vector<std::string>{"Serial Number Invalid, at least 12 digits\r\n"});
  // Three lines in one box.
  s = good;
  profile::SetText(s.product_id, "");
  profile::SetText(s.device_revision, "010");
  profile::SetText(s.serial_number, "1");
  EXPECT_EQ(Start(rig), std::vector<std::string>{"PID Format not valid \r\nDevice Revision Format not valid \r\n"
                                                 "Serial Number Invalid, at least 12 digits\r\n"});
  EXPECT_EQ(rig.Run().RunsFinished(), 0);
}

TEST(StartChecks, AFirmwareImageThatCannotBeBuiltStartsNoRun) {
  RunRig rig(2);
  rig.Initialise();
  ClearRequestLogs(rig);
  const auto fw = std::filesystem::path(rig.Workdir()) / "121105_10_0000.bin";
  const std::string station_fw(profile::TextOf(rig.Engine().Settings().fw_binary_name));
  auto expect_refused = [&](const std::string& why) {
    EXPECT_EQ(Start(rig), std::vector<std::string>{station_fw + " " + why}) << why;
    EXPECT_EQ(rig.Run().RunsFinished(), 0);
    EXPECT_FALSE(rig.Run().RunActive());
    for (std::size_t d = 0; d < 2; ++d) {
      for (std::uint8_t op : {0xE1, 0xE3, 0xE8}) EXPECT_EQ(RequestCount(rig, d, op), 0u) << why << " " << int{op};
      EXPECT_EQ(StageRow(rig, static_cast<int>(d)), std::vector<std::string>(7, "")) << why;
    }
    EXPECT_EQ(rig.Presenter().CounterValues().total, 0);
    // The panel is back between runs, not left disabled for a run.
    EXPECT_TRUE(rig.Presenter().Control(ids::kStart).enabled) << why;
    EXPECT_TRUE(rig.Presenter().Control(ids::kLoadIni).enabled) << why;
  };
  // 70,000 bytes do not fit the image's 2-byte length.
  std::filesystem::resize_file(fw, 70000);
  expect_refused("FW file size too large, 65535 bytes at most");
  // An empty firmware would erase the bridge's.
  std::filesystem::resize_file(fw, 0);
  expect_refused("FW file is empty");
  // A folder in place of the file.
  std::filesystem::remove(fw);
  std::filesystem::create_directory(fw);
  expect_refused("FW file cannot be read");
}

TEST(StartChecks, OneRejectedPortStopsTheRunOnEveryPort) {
  auto spec = sim::station::DefaultWorld(2);
  Bridges(spec)[1]->chip_variant = 0x21;  // another chip than the firmware's "10"
  RunRig rig(spec);
  rig.Initialise();
  ClearRequestLogs(rig);
  EXPECT_EQ(Start(rig), std::vector<std::string>{"Chip and FW don't match. Port:1 ."});
  EXPECT_EQ(rig.Run().RunsFinished(), 0);
  EXPECT_FALSE(rig.Run().RunActive());
  for (std::size_t d = 0; d < 2; ++d) {
    for (std::uint8_t op : {0xE0, 0xE1, 0xE3, 0xE5, 0xE8}) EXPECT_EQ(RequestCount(rig, d, op), 0u) << d << " " << int{op};
    EXPECT_EQ(StageRow(rig, static_cast<int>(d)), std::vector<std::string>(7, ""));
  }
  EXPECT_TRUE(rig.Presenter().Control(ids::kStart).enabled);
  // Without a firmware update the chip is not asked, and both ports run.
  SetStages(rig, {.config = false, .fw = false, .reload = true});
  EXPECT_EQ(Start(rig), std::vector<std::string>{});
  EXPECT_EQ(rig.Presenter().CounterValues().pass, 2);
}

TEST(CdRomPort, FailsTheDiskStagesLeavesPreloadEmptyAndTheOtherPortPasses) {
  auto spec = sim::station::DefaultWorld(2);
  Bridges(spec)[1]->presents_cdrom = true;
  RunRig rig(spec);
  rig.Initialise();
  ASSERT_EQ(rig.Run().Table().device_count, 2u);
  rig.StartAndWait();
  EXPECT_EQ(StageRow(rig, 0), std::vector<std::string>(7, "PASS"));
  EXPECT_EQ(StageRow(rig, 1), (std::vector<std::string>{"PASS", "PASS", "PASS", "FAIL", "FAIL", "FAIL", ""}));
  const Counters c = rig.Presenter().CounterValues();
  EXPECT_EQ(c.pass, 1);
  EXPECT_EQ(c.fail, 1);
  EXPECT_EQ(rig.Presenter().ProgressText(), "100 %");
}

TEST(AdvancedFormatDisk, A4096ByteSectorDiskPassesEveryStageBesideA512ByteOne) {
  auto spec = sim::station::DefaultWorld(2);
  Bridges(spec)[1]->sector_size = 4096;
  RunRig rig(spec);
  rig.Initialise();
  ASSERT_EQ(rig.Run().Table().device_count, 2u);
  EXPECT_EQ(rig.Run().Table().records[1].bytes_per_sector, 4096u);
  rig.StartAndWait();
  EXPECT_EQ(StageRow(rig, 0), std::vector<std::string>(7, "PASS"));
  EXPECT_EQ(StageRow(rig, 1), std::vector<std::string>(7, "PASS"));
  EXPECT_EQ(rig.Presenter().CounterValues().pass, 2);
}

TEST(DiskInUse, ItsPortFailsPartitionWithTheReasonAndTheOtherPortPasses) {
  auto spec = sim::station::DefaultWorld(2);
  Bridges(spec)[0]->in_use = "sdb1 is mounted at /media/usb";
  RunRig rig(spec);
  rig.Initialise();
  std::mutex mutex;
  std::vector<PresenterEvent> notes;
  rig.Presenter().SetObserver([&](const PresenterEvent& e) {
    std::lock_guard lock(mutex);
    if (e.kind == PresenterEvent::Kind::kNote) notes.push_back(e);
  });
  rig.StartAndWait();
  rig.Presenter().SetObserver({});
  EXPECT_EQ(StageRow(rig, 0), (std::vector<std::string>{"PASS", "PASS", "PASS", "FAIL", "FAIL", "FAIL", "FAIL"}));
  EXPECT_EQ(StageRow(rig, 1), std::vector<std::string>(7, "PASS"));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].row, 0);
  EXPECT_EQ(notes[0].column, kFirstStageColumn + disk::kStagePartition);
  EXPECT_EQ(notes[0].text, "refused: sdb1 is mounted at /media/usb");
  // The FAIL cell keeps the reason for the window's tooltip; the later FAIL
  // cells of the port have none of their own.
  EXPECT_EQ(rig.Presenter().CellNote(0, notes[0].column), notes[0].text);
  EXPECT_EQ(rig.Presenter().CellNote(0, notes[0].column + 1), "");
  EXPECT_EQ(rig.Presenter().DisplayedGrid().rows[0].notes[static_cast<std::size_t>(notes[0].column)], notes[0].text);
  // A new run starts with the cell and its reason cleared.
  rig.Presenter().ClearGridColumns(kFirstStageColumn, kGridColumns - 1);
  EXPECT_EQ(rig.Presenter().CellNote(0, notes[0].column), "");
}

TEST(SafeRemoval, PlugEventsWaitUntilTheRemovalHasEnded) {
  RunRig rig(3);
  rig.Initialise();
  rig.World().Unplug(2);
  ASSERT_EQ(rig.Run().Table().device_count, 2u);
  const std::string serial0 = rig.Presenter().CellText(0, 4);
  const std::string serial1 = rig.Presenter().CellText(1, 4);
  const std::string serial2 = rig.World().WithDevice(2, [](auto& m) { return m.Identity().serial; });

  // Bridge 2 comes back while the removal is at work.
  bool plugged_during_removal = false;
  const int listener = rig.World().Subscribe([&](const platform::DeviceEvent& e) {
    if (e.kind != platform::DeviceEventKind::kRemoval || plugged_during_removal || !rig.Run().Removing()) return;
    plugged_during_removal = true;
    rig.World().Plug(2);
  });
  ASSERT_TRUE(rig.Presenter().Command(ids::kSafelyRemove));
  rig.Run().WaitIdle();
  rig.World().Unsubscribe(listener);
  ASSERT_TRUE(plugged_during_removal);
  EXPECT_FALSE(rig.World().Online(0));
  EXPECT_FALSE(rig.World().Online(1));
  EXPECT_TRUE(rig.World().Online(2));
  // Nothing was refreshed: the table still shows the two removed bridges.
  EXPECT_EQ(rig.Run().Table().device_count, 2u);
  EXPECT_EQ(rig.Presenter().CellText(0, 4), serial0);
  EXPECT_EQ(rig.Presenter().CellText(1, 4), serial1);
  EXPECT_TRUE(rig.Presenter().Control(ids::kStart).enabled);

  // Once the removal is over, a plug refreshes the table.
  rig.World().Plug(0);
  EXPECT_EQ(rig.Run().Table().device_count, 2u);
  EXPECT_EQ(rig.Presenter().CellText(0, 4), serial0);
  EXPECT_EQ(rig.Presenter().CellText(1, 4), serial2);
  rig.World().Plug(1);
  EXPECT_EQ(rig.Run().Table().device_count, 3u);
}

// Records, at every unmount the run asks for, which bridge the disk belongs
// to and how many restart or removal commands (E8) that bridge has had.
class UnmountWatch final : public platform::Volumes {
 public:
  explicit UnmountWatch(platform::Volumes& inner) : inner_(inner) {}
  platform::DriveType TypeOf(char l) override { return inner_.TypeOf(l); }
  std::optional<std::string> VolumeName(char l) override { return inner_.VolumeName(l); }
  std::optional<std::vector<platform::DiskExtent>> Extents(const std::string& n) override { return inner_.Extents(n); }
  std::optional<platform::VolumeInformation> Information(char l) override { return inner_.Information(l); }
  bool SetLabel(char l, const std::string& t) override { return inner_.SetLabel(l, t); }
  std::optional<platform::FreeSpace> Free(char l) override { return inner_.Free(l); }
  std::string DriveRoot() const override { return inner_.DriveRoot(); }
  bool LetterMayAppear(std::uint32_t d) override { return inner_.LetterMayAppear(d); }
  bool UnmountDisk(std::uint32_t d) override {
    for (std::size_t i = 0; rig && i < rig->World().DeviceCount(); ++i) {
      if (rig->World().DriveNumberOf(i) != static_cast<int>(d)) continue;
      std::lock_guard lock(mutex);
      e8_before[i].push_back(RequestCount(*rig, i, 0xE8));
    }
    return inner_.UnmountDisk(d);
  }

  RunRig* rig = nullptr;
  std::mutex mutex;
  std::map<std::size_t, std::vector<std::size_t>> e8_before;

 private:
  platform::Volumes& inner_;
};

TEST(Volumes, TakenOffBeforeARestartAtTheJobsEndAndBeforeASafeRemoval) {
  std::unique_ptr<UnmountWatch> watch;
  RunRig rig(2, [&](StationServices s) {
    watch = std::make_unique<UnmountWatch>(s.volumes);
    return StationServices{s.devices, s.disks, *watch, s.tools, s.files, s.access, s.clock};
  });
  watch->rig = &rig;
  rig.Initialise();
  SetStages(rig, {.reload = true});
  rig.StartAndWait();
  ASSERT_EQ(StageRow(rig, 0)[2], "PASS");
  ASSERT_EQ(StageRow(rig, 1)[2], "PASS");
  {
    std::lock_guard lock(watch->mutex);
    // Before the restart (no E8 yet), and once more when the job is done.
    for (std::size_t d = 0; d < 2; ++d) EXPECT_EQ(watch->e8_before[d], (std::vector<std::size_t>{0, 1})) << d;
  }
  ASSERT_TRUE(rig.Presenter().Command(ids::kSafelyRemove));
  rig.Run().WaitIdle();
  std::lock_guard lock(watch->mutex);
  for (std::size_t d = 0; d < 2; ++d) {
    EXPECT_EQ(watch->e8_before[d], (std::vector<std::size_t>{0, 1, 1})) << d;  // before E8 01
    EXPECT_FALSE(rig.World().Online(d));
  }
}

// Records the Partition and Format cells of a port when its disk is held and
// when the hold ends.
class HoldWatch final : public platform::DiskRequests {
 public:
  explicit HoldWatch(platform::DiskRequests& inner) : inner_(inner) {}
  std::unique_ptr<platform::DiskDevice> Open(const platform::DeviceOpenRequest& r) override { return inner_.Open(r); }
  std::optional<std::string> InUse(int n) override { return inner_.InUse(n); }
  class Held final : public platform::DiskHold {
   public:
    Held(HoldWatch& w, int n) : w_(w), n_(n) { w_.Note("hold", n_); }
    ~Held() override { w_.Note("release", n_); }
    bool AwaitNewPartitions() override {
      w_.Note("renew", n_);
      return true;
    }

   private:
    HoldWatch& w_;
    int n_;
  };
  std::unique_ptr<platform::DiskHold> Hold(int n) override { return std::make_unique<Held>(*this, n); }
  void Note(const char* what, int drive) {
    const int row = drive - 1;  // one bridge per port, drives 1 and 2
    std::lock_guard lock(mutex);
    events.push_back(std::string(what) + " " + std::to_string(drive) + " [" +
                     rig->Presenter().CellText(row, Column(disk::kStagePartition)) + "|" +
                     rig->Presenter().CellText(row, Column(disk::kStageFormat)) + "]");
  }
  static int Column(int stage) { return kFirstStageColumn + stage; }

  RunRig* rig = nullptr;
  std::mutex mutex;
  std::vector<std::string> events;

 private:
  platform::DiskRequests& inner_;
};

TEST(DiskHold, EachDiskIsHeldFromItsPartitionStepThroughItsFormat) {
  std::unique_ptr<HoldWatch> watch;
  RunRig rig(2, [&](StationServices s) {
    watch = std::make_unique<HoldWatch>(s.disks);
    return StationServices{s.devices, *watch, s.volumes, s.tools, s.files, s.access, s.clock};
  });
  watch->rig = &rig;
  rig.Initialise();
  SetStages(rig, {.format = true});
  rig.StartAndWait();
  ASSERT_EQ(StageRow(rig, 0)[4], "PASS");
  ASSERT_EQ(StageRow(rig, 1)[4], "PASS");
  std::lock_guard lock(watch->mutex);
  std::vector<std::string> events = watch->events;
  std::sort(events.begin(), events.end());
  // Held before the partition cell is written, let go for the system to take
  // in the new partitions once they are made, held again for the format and
  // let go once the format is done and before its cell is written.
  EXPECT_EQ(events, (std::vector<std::string>{"hold 1 [|]", "hold 2 [|]", "release 1 [PASS|]", "release 2 [PASS|]",
                                              "renew 1 [|]", "renew 2 [|]"}));
}

// The sample profile with auto mode on and only the stages that a quick run needs.
void WriteAutoProfile(RunRig& rig) {
  std::string t = testing::SampleProfile(true);
  for (const char* key : {"format_enable=", "wr_test_enable=", "preload_enable=", "fw_reload="}) {
    const auto at = t.find(key);
    ASSERT_NE(at, std::string::npos) << key;
    t[at + std::string(key).size()] = '0';
  }
  testing::WriteText(rig.Workdir() + "/kl_line_Tool v0.3.ini", t);
}

TEST(AutoMode, OneDeviceRunsByItselfOncePerPlug) {
  RunRig rig(1);
  WriteAutoProfile(rig);
  rig.Initialise();  // the refresh finds one device and starts the auto starter
  ASSERT_TRUE(rig.WaitUntil([&] { return rig.Run().RunsFinished() == 1; }));
  EXPECT_EQ(StageRow(rig, 0), (std::vector<std::string>{"PASS", "PASS", "", "", "", "", ""}));
  EXPECT_FALSE(rig.Presenter().Control(ids::kStart).enabled);
  // The same device stays: no second run.
  rig.Clock().WaitFor(std::chrono::seconds(10));
  EXPECT_EQ(rig.Run().RunsFinished(), 1);
  EXPECT_EQ(RequestCount(rig, 0, 0xE1), 1u);
  // Unplugged and plugged again (or the next device): the next run.
  rig.World().Unplug(0);
  EXPECT_EQ(rig.Run().Table().device_count, 0u);
  rig.World().Plug(0);
  ASSERT_TRUE(rig.WaitUntil([&] { return rig.Run().RunsFinished() == 2; }));
  EXPECT_EQ(rig.Presenter().CounterValues().pass, 2);
  EXPECT_EQ(rig.sink.Texts(), std::vector<std::string>{});
}

TEST(AutoMode, TwoDevicesWaitUntilOneIsLeft) {
  RunRig rig(2);
  WriteAutoProfile(rig);
  rig.Initialise();
  rig.Clock().WaitFor(std::chrono::seconds(10));
  EXPECT_EQ(rig.Run().RunsFinished(), 0);
  EXPECT_FALSE(rig.Run().RunActive());
  for (std::size_t d = 0; d < 2; ++d) EXPECT_EQ(RequestCount(rig, d, 0xE1), 0u);
  rig.World().Unplug(1);
  ASSERT_TRUE(rig.WaitUntil([&] { return rig.Run().RunsFinished() == 1; }));
  EXPECT_EQ(rig.Presenter().CounterValues().total, 1);
  EXPECT_EQ(RequestCount(rig, 0, 0xE1), 1u);
  EXPECT_EQ(RequestCount(rig, 1, 0xE1), 0u);
}

TEST(AutoMode, AStartThatStartsNothingEndsTheLoopWithAClickOfLock) {
  for (const bool accepted : {false, true}) {
    auto spec = sim::station::DefaultWorld(1);
    Bridges(spec)[0]->chip_variant = 0x21;
    RunRig rig(spec);
    WriteAutoProfile(rig);
    if (accepted) rig.dialogs.password = "MORVELA";
    rig.Initialise();
    ASSERT_TRUE(rig.WaitUntil([&] { return rig.dialogs.password_asks.load() > 0; })) << accepted;
    // Had the starter gone on, it would press Start (and show this) every second.
    rig.Clock().WaitFor(std::chrono::seconds(10));
    EXPECT_EQ(rig.sink.Texts(), std::vector<std::string>{"Chip and FW don't match. Port:0 ."});
    EXPECT_EQ(rig.Run().RunsFinished(), 0);
    // Lock on a locked panel asks for the password once; the panel then shows
    // the lock's outcome.
    EXPECT_EQ(rig.dialogs.password_asks.load(), 1);
    EXPECT_EQ(rig.Presenter().Unlocked(), accepted);
    const Panel p = rig.Presenter().Controls();
    if (accepted) {
      // Unlocked: the idle state, with MP Auto Mode and the switches usable.
      EXPECT_EQ(p.At(ids::kLock).tooltip, "Lock");
      for (int id : {ids::kAutoMode, ids::kSaveIni, ids::kUpdateFw}) EXPECT_TRUE(p.At(id).enabled) << id;
    } else {
      // Still locked with auto mode on: the busy state.
      EXPECT_EQ(p.At(ids::kLock).tooltip, "Unlock");
      for (int id : {ids::kStart, ids::kAutoMode, ids::kClear}) EXPECT_FALSE(p.At(id).enabled) << id;
      for (int id : {ids::kLock, ids::kSafelyRemove}) EXPECT_TRUE(p.At(id).enabled) << id;
      EXPECT_TRUE(p.At(ids::kVendorId).read_only);
    }
  }
}

TEST(AutoMode, WithAWindowTheStartersLockIsCarriedOutOnTheWindowsThreadAndAsksOnce) {
  // The starter's Lock stops the starter and opens the login dialog: on the
  // starter's own thread that would put a dialog on a worker and deadlock with
  // an operator's Lock, which joins the starter. The operator's Lock, before
  // the starter's is carried out or while the stopping starter sends its own,
  // takes its place: one login.
  enum class Operator { kLate, kFirst, kWhileTheStarterSends };
  for (const Operator op : {Operator::kLate, Operator::kFirst, Operator::kWhileTheStarterSends}) {
    SCOPED_TRACE(static_cast<int>(op));
    auto spec = sim::station::DefaultWorld(1);
    Bridges(spec)[0]->chip_variant = 0x21;
    RunRig rig(spec);
    WriteAutoProfile(rig);
    std::atomic<int> posted{0};
    rig.Presenter().SetClickPoster([&] { ++posted; });
    rig.Initialise();
    ASSERT_TRUE(rig.WaitUntil([&] { return posted.load() > 0; }));
    rig.Run().WaitIdle();
    EXPECT_EQ(rig.dialogs.password_asks.load(), 0) << "asked on the starter's thread";
    if (op == Operator::kWhileTheStarterSends) {
      rig.Presenter().RunPostedClicks();  // the first login, then the race
      rig.dialogs.on_login = [&] { std::thread([&] { rig.Presenter().SendCommand(ids::kLock); }).join(); };
    }
    if (op != Operator::kLate) {
      ASSERT_TRUE(rig.Presenter().Command(ids::kLock));
    }
    rig.dialogs.on_login = {};
    rig.Presenter().RunPostedClicks();
    const int asks = op == Operator::kWhileTheStarterSends ? 2 : 1;
    EXPECT_EQ(rig.dialogs.password_asks.load(), asks);
    EXPECT_EQ(rig.dialogs.login_thread.load(), std::this_thread::get_id());
    rig.Presenter().RunPostedClicks();
    EXPECT_EQ(rig.dialogs.password_asks.load(), asks) << "a second login for the starter's Lock";
    // Once the operator's click is done, a Lock the station sends is its own.
    ASSERT_TRUE(rig.Presenter().SendCommand(ids::kLock));
    rig.Presenter().RunPostedClicks();
    EXPECT_EQ(rig.dialogs.password_asks.load(), asks + 1);
    rig.Presenter().SetClickPoster({});
  }
}

TEST(AutoMode, SafelyRemoveEndsInTheIdleStateWithStartEnabled) {
  RunRig rig(1);
  WriteAutoProfile(rig);
  rig.Initialise();
  ASSERT_TRUE(rig.WaitUntil([&] { return rig.Run().RunsFinished() == 1; }));
  ASSERT_FALSE(rig.Presenter().Control(ids::kStart).enabled);  // busy
  ASSERT_TRUE(rig.Presenter().Command(ids::kSafelyRemove));
  rig.Run().WaitIdle();
  EXPECT_FALSE(rig.World().Online(0));
  // The idle state of a locked panel, auto mode or not.
  const Panel p = rig.Presenter().Controls();
  for (int id : {ids::kStart, ids::kLoadIni, ids::kExit, ids::kSafelyRemove, ids::kLock, ids::kProgressBar})
    EXPECT_TRUE(p.At(id).enabled) << id;
  for (int id : {ids::kAutoMode, ids::kUpdateConfig, ids::kSaveIni, ids::kClear, ids::kBrowseFw, ids::kMoreConfig})
    EXPECT_FALSE(p.At(id).enabled) << id;
  EXPECT_TRUE(p.At(ids::kVendorId).read_only);
  EXPECT_EQ(rig.dialogs.password_asks.load(), 0);
}

}  // namespace
}  // namespace linetool::app
