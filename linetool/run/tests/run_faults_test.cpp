// Runs on the simulated station with faults injected into single bridges,
// disks and volumes: each fault fails its own port from its stage on, the run
// ends within the station's own time-outs, and every other port passes.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "linetool/disk/production_log.h"
#include "run_probe.h"

namespace linetool::app {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::Bridges;
using testing::CellWatch;
using testing::LogResults;
using testing::RequestCount;
using testing::RunRig;
using testing::StageRow;
using Row = std::vector<std::string>;

constexpr int kConfigColumn = kFirstStageColumn + disk::kStageConfig;
constexpr int kFirmwareColumn = kFirstStageColumn + disk::kStageFirmware;
constexpr int kRelinkColumn = kFirstStageColumn + disk::kStageRelink;
constexpr int kPartitionColumn = kFirstStageColumn + disk::kStagePartition;
constexpr int kFormatColumn = kFirstStageColumn + disk::kStageFormat;
constexpr int kWriteReadColumn = kFirstStageColumn + disk::kStageWriteRead;

const std::string P = "PASS";
const std::string F = "FAIL";
const Row kAllPass(7, "PASS");

// The time-out of the re-find after a restart.
constexpr milliseconds kRefindTimeOut = seconds(60);
// Room for the work around a wait under test (the rig's clock runs 50 times
// faster than real time, so a slow build stretches real work a lot).
constexpr milliseconds kSlack = seconds(30);

// The run ended soon after the last worker wrote its last cell: no worker was
// left behind for the controller to wait for (a hung run ends only at the
// poll limit, hours later).
void ExpectEndedPromptly(const CellWatch& watch, milliseconds end) { EXPECT_LT(end - watch.Last(), 2 * kSlack); }

// A rig whose port p is bridge p of the world (walk order), checked.
void InitialiseInWalkOrder(RunRig& rig, int bridges) {
  rig.Initialise();
  ASSERT_EQ(rig.Run().Table().device_count, static_cast<std::uint32_t>(bridges));
  for (int p = 0; p < bridges; ++p)
    ASSERT_EQ(rig.World().DriveNumberOf(static_cast<std::size_t>(p)),
              rig.Run().Table().records[static_cast<std::size_t>(p)].physical_drive_number)
        << "port " << p;
}

// The log results expected for a grid row: an empty cell is a step that is off.
Row LogRow(const Row& grid) {
  Row r;
  for (const auto& t : grid) r.push_back(t.empty() ? " " : t);
  return r;
}

// Every port's grid row and its one log record, the counters and the end of the run.
void ExpectResults(RunRig& rig, const std::vector<Row>& rows) {
  const auto log = LogResults(rig.Run().LogFilePath());
  int pass = 0;
  for (std::size_t p = 0; p < rows.size(); ++p) {
    EXPECT_EQ(StageRow(rig, static_cast<int>(p)), rows[p]) << "port " << p;
    auto it = log.find(static_cast<int>(p));
    ASSERT_NE(it, log.end()) << "no log record of port " << p;
    ASSERT_EQ(it->second.size(), 1u) << "port " << p;
    EXPECT_EQ(it->second.front(), LogRow(rows[p])) << "log of port " << p;
    // The preload result does not count.
    bool passed = true;
    for (std::size_t s = 0; s < 6; ++s) passed = passed && rows[p][s] != F;
    pass += passed ? 1 : 0;
  }
  EXPECT_EQ(log.size(), rows.size());
  const Counters c = rig.Presenter().CounterValues();
  EXPECT_EQ(c.pass, pass);
  EXPECT_EQ(c.fail, static_cast<int>(rows.size()) - pass);
  EXPECT_EQ(c.total, static_cast<int>(rows.size()));
  EXPECT_EQ(rig.Presenter().ProgressText(), "100 %");
  EXPECT_EQ(rig.Run().RunsFinished(), 1);
  EXPECT_EQ(rig.sink.Texts(), std::vector<std::string>{});
}

// The disk of a bridge has never been partitioned.
bool Untouched(RunRig& rig, std::size_t device) {
  const auto n = rig.World().DriveNumberOf(device);
  return n && !rig.Volumes().FirstPartition(*n);
}

TEST(RunFaults, FailedCommandsFailTheirStageAndEveryLaterSwitchedOnStageWithoutDeviceWork) {
  auto spec = sim::station::DefaultWorld(4);
  auto bridges = Bridges(spec);
  bridges[0]->faults.fail_from_call[0xE1] = 1;  // the configuration write
  bridges[1]->faults.fail_from_call[0xE3] = 1;  // the firmware stream
  bridges[2]->faults.fail_from_call[0xE5] = 2;  // the second tag byte before the restart
  RunRig rig(spec);
  InitialiseInWalkOrder(rig, 4);
  rig.Engine().Settings().wr_test_enable = 0;  // a stage that is off stays empty
  testing::ClearRequestLogs(rig);
  CellWatch watch(rig);
  const auto start = rig.Clock().Now();
  rig.StartAndWait();
  const auto end = rig.Clock().Now();

  ExpectResults(rig, {{F, F, F, F, F, "", F},  //
                      {P, F, F, F, F, "", F},
                      {P, P, F, F, F, "", F},
                      {P, P, P, P, P, "", P}});
  // Nothing after the failed request reached the bridges.
  EXPECT_EQ(RequestCount(rig, 0, 0xE1), 1u);
  for (std::uint8_t op : {0xE3, 0xE5, 0xE8}) EXPECT_EQ(RequestCount(rig, 0, op), 0u) << std::hex << +op;
  EXPECT_EQ(RequestCount(rig, 1, 0xE3), 1u);
  for (std::uint8_t op : {0xE5, 0xE8}) EXPECT_EQ(RequestCount(rig, 1, op), 0u) << std::hex << +op;
  EXPECT_EQ(RequestCount(rig, 2, 0xE5), 2u);
  EXPECT_EQ(RequestCount(rig, 2, 0xE8), 0u);
  EXPECT_EQ(RequestCount(rig, 3, 0xE8), 1u);
  // No disk work either: only the passing port's disk was partitioned.
  for (std::size_t d = 0; d < 3; ++d) EXPECT_TRUE(Untouched(rig, d)) << "disk of port " << d;
  EXPECT_FALSE(Untouched(rig, 3));
  // No re-find waited for the ports that did not restart.
  for (int p = 0; p < 3; ++p)
    EXPECT_LT(watch.Written(p, kRelinkColumn) - watch.Written(p, kFirmwareColumn), kSlack) << p;
  ExpectEndedPromptly(watch, end);
  std::printf("[ figures  ] failed commands: run took %.1f s of station time\n", (end - start).count() / 1000.0);
}

TEST(RunFaults, RelinkBarrierWaitsForPortsWhoseConfigurationFailed) {
  auto spec = sim::station::DefaultWorld(4);
  auto bridges = Bridges(spec);
  bridges[0]->faults.fail_from_call[0xE1] = 1;
  bridges[1]->faults.fail_from_call[0xE1] = 1;
  RunRig rig(spec);
  InitialiseInWalkOrder(rig, 4);
  auto& s = rig.Engine().Settings();
  s.wr_test_enable = 0;
  s.preload_enable = 0;
  CellWatch watch(rig);
  // Port 0 is held up after its configuration cell, so it reaches the barrier
  // last; port 1 reaches it first, while the others still restart.
  constexpr milliseconds kHold = seconds(20);
  watch.On(0, kConfigColumn, [&] { rig.Clock().WaitFor(kHold); });
  rig.StartAndWait();

  const Row failed{F, F, F, F, F, "", ""};
  ExpectResults(rig, {failed, failed, {P, P, P, P, P, "", ""}, {P, P, P, P, P, "", ""}});
  const auto last_arrives = watch.Written(0, kRelinkColumn);
  EXPECT_GE(last_arrives - watch.Written(0, kConfigColumn), kHold);
  for (int p = 1; p < 4; ++p)
    EXPECT_GT(watch.Written(p, kPartitionColumn), last_arrives) << "port " << p << " did not wait for port 0";
  for (int p = 2; p < 4; ++p)
    EXPECT_GT(watch.Written(1, kPartitionColumn), watch.Written(p, kRelinkColumn))
        << "port 1 went on before port " << p << " arrived";
}

TEST(RunFaults, BridgeThatNeverComesBackFailsReLinkAfterTheTimeOutAndTheRunEndsSoonAfter) {
  auto spec = sim::station::DefaultWorld(4);
  Bridges(spec)[1]->faults.never_returns = true;
  RunRig rig(spec);
  InitialiseInWalkOrder(rig, 4);
  CellWatch watch(rig);
  const auto start = rig.Clock().Now();
  rig.StartAndWait();
  const auto end = rig.Clock().Now();

  ExpectResults(rig, {kAllPass, {P, P, F, F, F, F, F}, kAllPass, kAllPass});
  const auto restarted = watch.Written(1, kFirmwareColumn);
  const auto given_up = watch.Written(1, kRelinkColumn);
  EXPECT_GE(given_up - restarted, kRefindTimeOut);
  EXPECT_LT(given_up - restarted, kRefindTimeOut + kSlack);
  ExpectEndedPromptly(watch, end);
  // The others waited for it at the barrier.
  for (int p : {0, 2, 3}) EXPECT_GT(watch.Written(p, kPartitionColumn), given_up) << "port " << p;
  // The bridge never came back; the record keeps its old drive number.
  EXPECT_FALSE(rig.World().Online(1));
  std::printf("[ figures  ] never-returning bridge: ReLink failed %.1f s after its restart, run took %.1f s\n",
              (given_up - restarted).count() / 1000.0, (end - start).count() / 1000.0);
}

TEST(RunFaults, DiskFaultsFailTheirPortFromTheirStageOn) {
  RunRig rig(4);
  InitialiseInWalkOrder(rig, 4);
  CellWatch watch(rig);
  auto fault_on_letter_of = [&](int port, sim::station::VolumeFaults faults) {
    return [&rig, port, faults] {
      // On the port's own worker thread: its record is its own.
      const char letter = rig.Run().Table().records[static_cast<std::size_t>(port)].drive_letter;
      rig.Volumes().SetFaults(letter, faults);
    };
  };
  sim::station::VolumeFaults corrupt;
  corrupt.corrupt_reads = true;
  sim::station::VolumeFaults full;
  full.full = true;
  // Port 0 reads back different data; port 1's volume is full after the
  // format; port 2's volume is full before the format probes it.
  watch.On(0, kFormatColumn, fault_on_letter_of(0, corrupt));
  watch.On(1, kFormatColumn, fault_on_letter_of(1, full));
  watch.On(2, kPartitionColumn, fault_on_letter_of(2, full));
  const auto start = rig.Clock().Now();
  rig.StartAndWait();
  const auto end = rig.Clock().Now();

  ExpectResults(rig, {{P, P, P, P, P, F, F}, {P, P, P, P, P, F, F}, {P, P, P, P, F, F, F}, kAllPass});
  // A test that fails leaves its target behind only on the volume that read
  // back different data; the full volume refused it before the first cycle.
  const auto& records = rig.Run().Table().records;
  EXPECT_TRUE(std::filesystem::exists(rig.Volumes().FolderOf(records[0].drive_letter) / "wr_test.bin"));
  EXPECT_FALSE(std::filesystem::exists(rig.Volumes().FolderOf(records[1].drive_letter) / "wr_test.bin"));
  ExpectEndedPromptly(watch, end);
  std::printf("[ figures  ] disk faults: run took %.1f s of station time\n", (end - start).count() / 1000.0);
}

TEST(RunFaults, NtfsLabelThatDoesNotStickFailsFormatAndThePortAlthoughPartitionPassed) {
  RunRig rig(3);
  InitialiseInWalkOrder(rig, 3);
  auto& s = rig.Engine().Settings();
  s.format_drive_type = 0;  // NTFS through the system's tools
  s.wr_test_enable = 0;
  CellWatch watch(rig);
  sim::station::VolumeFaults label;
  label.label_fails = true;
  sim::station::VolumeFaults full;
  full.full = true;
  auto fault_on_letter_of = [&](int port, sim::station::VolumeFaults faults) {
    return [&rig, port, faults] {
      rig.Volumes().SetFaults(rig.Run().Table().records[static_cast<std::size_t>(port)].drive_letter, faults);
    };
  };
  watch.On(0, kPartitionColumn, fault_on_letter_of(0, label));
  // Port 1's preload copy finds its volume full: the preload fails but does
  // not make the port fail.
  watch.On(1, kFormatColumn, fault_on_letter_of(1, full));
  rig.StartAndWait();

  ExpectResults(rig, {{P, P, P, P, F, "", F}, {P, P, P, P, P, "", F}, {P, P, P, P, P, "", P}});
  const auto volume = rig.Volumes().Information(rig.Run().Table().records[0].drive_letter);
  ASSERT_TRUE(volume.has_value());
  EXPECT_EQ(volume->file_system, "NTFS");
  EXPECT_NE(volume->label, "VX7700");
}

TEST(RunFaults, UnplugInTheMiddleFailsThatPortFromThereOnAndTheOthersPass) {
  RunRig rig(5);
  InitialiseInWalkOrder(rig, 5);
  CellWatch watch(rig);
  auto unplug = [&rig](std::size_t device) { return [&rig, device] { rig.World().Unplug(device); }; };
  watch.On(0, kFirmwareColumn, unplug(0));    // before its restart
  watch.On(1, kPartitionColumn, unplug(1));   // between partition and format
  watch.On(2, kFormatColumn, unplug(2));      // before the write/read test
  watch.On(3, kWriteReadColumn, unplug(3));   // before the preload copy
  const auto start = rig.Clock().Now();
  rig.StartAndWait();
  const auto end = rig.Clock().Now();

  ExpectResults(rig, {{P, P, F, F, F, F, F},
                      {P, P, P, P, F, F, F},
                      {P, P, P, P, P, F, F},
                      {P, P, P, P, P, P, F},
                      kAllPass});
  for (std::size_t d = 0; d < 4; ++d) EXPECT_FALSE(rig.World().Online(d));
  ExpectEndedPromptly(watch, end);
  std::printf("[ figures  ] unplugs: run took %.1f s of station time\n", (end - start).count() / 1000.0);

  // Plugged in again, the bridges are found and a new run passes them all.
  for (std::size_t d = 0; d < 4; ++d) rig.World().Plug(d);
  rig.Run().RefreshPorts();
  EXPECT_EQ(rig.Run().Table().device_count, 5u);
}

TEST(RunFaults, BridgePulledOutWhileFilesAreWrittenFailsTheStageItWasIn) {
  RunRig rig(3);
  InitialiseInWalkOrder(rig, 3);
  CellWatch watch(rig);
  auto pulled_at_write = [&rig](int port, std::uint32_t n) {
    return [&rig, port, n] {
      sim::station::VolumeFaults faults;
      faults.pulled_at_write = n;
      rig.Volumes().SetFaults(rig.Run().Table().records[static_cast<std::size_t>(port)].drive_letter, faults);
    };
  };
  watch.On(0, kFormatColumn, pulled_at_write(0, 1));     // writing the test file
  watch.On(1, kWriteReadColumn, pulled_at_write(1, 2));  // the second preload file
  const auto start = rig.Clock().Now();
  rig.StartAndWait();
  const auto end = rig.Clock().Now();

  ExpectResults(rig, {{P, P, P, P, P, F, F}, {P, P, P, P, P, P, F}, kAllPass});
  EXPECT_FALSE(rig.World().Online(0));
  EXPECT_FALSE(rig.World().Online(1));
  ExpectEndedPromptly(watch, end);
  std::printf("[ figures  ] pulled while writing: run took %.1f s of station time\n",
              (end - start).count() / 1000.0);
}

}  // namespace
}  // namespace linetool::app

namespace linetool::app {
namespace {

TEST(RunFaults, PulledPortDoesNotWorkOnTheDiskThatTookItsNumber) {
  RunRig rig(3);
  InitialiseInWalkOrder(rig, 3);
  CellWatch watch(rig);
  // Port 0 restarts alone, is found again and pulled out; only then do the
  // others restart, and one of them comes back under port 0's drive number.
  std::atomic<bool> pulled{false};
  auto after_port_0_is_pulled = [&] {
    while (!pulled.load()) rig.Clock().WaitFor(milliseconds(500));
  };
  watch.On(0, kRelinkColumn, [&] {
    rig.World().Unplug(0);
    pulled.store(true);
  });
  watch.On(1, kFirmwareColumn, after_port_0_is_pulled);
  watch.On(2, kFirmwareColumn, after_port_0_is_pulled);
  rig.StartAndWait();

  const int number0 = rig.Run().Table().records[0].physical_drive_number;
  EXPECT_TRUE(rig.World().DriveNumberOf(1) == number0 || rig.World().DriveNumberOf(2) == number0);
  // The pulled port fails from its first disk stage on; the disk that took
  // its number was worked on once, by its own port.
  ExpectResults(rig, {{P, P, P, F, F, F, F}, kAllPass, kAllPass});
}

}  // namespace
}  // namespace linetool::app

namespace linetool::app {
namespace {

TEST(RunFaults, SlowBridgeIsWaitedForWithinTheTimeOutAndOneTooSlowFails) {
  auto spec = sim::station::DefaultWorld(3);
  auto bridges = Bridges(spec);
  constexpr milliseconds kSlow = seconds(20);
  bridges[0]->faults.return_delay_ms = static_cast<std::uint32_t>(kSlow.count());
  // Back only after any re-find of this run has given up, however the ports
  // queue for the re-find.
  bridges[1]->faults.return_delay_ms = static_cast<std::uint32_t>((kSlow + kRefindTimeOut + seconds(10)).count());
  RunRig rig(spec);
  InitialiseInWalkOrder(rig, 3);
  rig.Engine().Settings().wr_test_enable = 0;
  CellWatch watch(rig);
  rig.StartAndWait();
  const auto end = rig.Clock().Now();

  ExpectResults(rig, {{P, P, P, P, P, "", P}, {P, P, F, F, F, "", F}, {P, P, P, P, P, "", P}});
  EXPECT_GE(watch.Written(0, kRelinkColumn) - watch.Written(0, kFirmwareColumn), kSlow);
  EXPECT_GE(watch.Written(1, kRelinkColumn) - watch.Written(1, kFirmwareColumn), kRefindTimeOut);
  ExpectEndedPromptly(watch, end);
  // The late bridge comes back in the end; it was not worked on once given up.
  for (int i = 0; i < 400 && !rig.World().Online(1); ++i) rig.Clock().WaitFor(milliseconds(500));
  EXPECT_TRUE(Untouched(rig, 1));
}

}  // namespace
}  // namespace linetool::app
