// Unit records of production runs on the simulated station: what each port's
// record holds against the grid, the log and the bridges, and line serial
// numbers shared by stations through one store.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "linetool/app/control_ids.h"
#include "linetool/profile/serial_number.h"
#include "linetool/profile/station_files.h"
#include "linetool/records/file_digest.h"
#include "linetool/records/record_export.h"
#include "linetool/records/stores/postgres_records_store.h"
#include "linetool/records/stores/sqlite_records_store.h"
#include "platform/path_access.h"
#include "run_fixture.h"

namespace linetool::app {
namespace {

using records::StageResult;
using testing::RunRig;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The log with its drive numbers and letters (columns 13 and 14) blanked:
// restarted bridges come back in the order they return, and which port's
// volume gets which free letter depends on the order the ports reach the
// partition.
std::string WithoutLetters(const std::string& log) {
  std::string out;
  std::size_t column = 0;
  for (char c : log) {
    if (c == '\n') column = 0;
    if ((column == 12 || column == 13) && c != '\t') continue;
    if (c == '\t') ++column;
    out += c;
  }
  return out;
}

class RunRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("run-records-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::unique_ptr<records::stores::SqliteRecordsStore> Store() {
    std::string error;
    auto store = records::stores::SqliteRecordsStore::Open((folder_ / "records.db").string(), error);
    EXPECT_TRUE(store) << error;
    return store;
  }
  std::filesystem::path folder_;
};

TEST_F(RunRecords, EachPortOfARunLeavesOneRecordThatAgreesWithGridLogAndBridge) {
  auto spec = sim::station::DefaultWorld(4);
  testing::Bridges(spec)[2]->faults.fail_from_call[0xE3] = 1;  // the firmware stream of one bridge
  std::set<std::string> disks;
  for (const auto* b : testing::Bridges(spec)) disks.insert(b->ata_serial);
  RunRig rig(spec);
  rig.Initialise();
  auto store = Store();
  rig.Run().SetRecords({store.get(), false, "station-7"});
  rig.Engine().Settings().preload_enable = 0;
  const std::string base(profile::TextOf(rig.Engine().Settings().serial_number));
  std::vector<records::DeviceIdentity> before;
  for (int p = 0; p < 4; ++p) {
    const auto& r = rig.Run().Table().records[static_cast<std::size_t>(p)];
    before.push_back({r.vendor_id, r.product_id, r.serial_number, r.firmware_version});
  }
  rig.StartAndWait();

  const auto all = store->Find({});
  ASSERT_TRUE(all) << store->Error();
  ASSERT_EQ(all->size(), 4u);
  const auto firmware = profile::ReadFileBytes(rig.Workdir() + "/121105_10_0000.bin").value();
  const auto profile_bytes = profile::ReadFileBytes(rig.Workdir() + "/kl_line_Tool v0.3.ini").value();
  const std::string log = Slurp(rig.Run().LogFilePath());
  int passed = 0;
  for (const records::UnitRecord& u : *all) {
    SCOPED_TRACE("port " + std::to_string(u.port));
    const auto& r = rig.Run().Table().records[static_cast<std::size_t>(u.port)];
    EXPECT_EQ(u.run_id, all->front().run_id);
    EXPECT_EQ(u.station, "station-7");
    EXPECT_EQ(u.time.substr(0, 10), "2026-12-08");
    EXPECT_EQ(u.before, before[static_cast<std::size_t>(u.port)]);
    EXPECT_EQ(u.after, (records::DeviceIdentity{r.vendor_id, r.product_id, r.serial_number, r.firmware_version}));
    EXPECT_EQ(u.serial_written, profile::IncreaseSerialNumber(base, u.port));
    EXPECT_EQ(u.firmware_file, "121105_10_0000.bin");
    EXPECT_EQ(u.firmware_sha256, records::Sha256Hex(firmware));
    // The default profile by the path it was loaded from.
    EXPECT_EQ(u.profile_file, platform::JoinStationPath(platform::ToStationPath(rig.Workdir()), "kl_line_Tool v0.3.ini"));
    EXPECT_EQ(u.profile_sha256, records::Sha256Hex(profile_bytes));
    EXPECT_EQ(u.capacity, r.capacity);
    // The disk as its IDENTIFY data names it.
    EXPECT_EQ(u.ata_model, "SIMULATED SATA DISK");
    EXPECT_EQ(disks.erase(u.ata_serial), 1u) << u.ata_serial;
    // Each stage as the grid shows it; the preload was off.
    for (std::size_t i = 0; i + 1 < records::kRecordStages; ++i) {
      const std::string cell = rig.Presenter().CellText(u.port, kFirstStageColumn + static_cast<int>(i));
      EXPECT_EQ(records::ResultText(u.stages[i].result), cell) << records::kStageNames[i];
    }
    EXPECT_EQ(u.stages[6].result, StageResult::kOff);
    passed += u.passed ? 1 : 0;
    // The bridge carries the serial written (as found again after its restart), and the log has the port.
    if (u.port != 2) {
      EXPECT_TRUE(u.passed);
      EXPECT_EQ(u.after.serial, u.serial_written);
      EXPECT_GE(u.stages[2].milliseconds, 500) << "the restart waits at least 500 ms";
    } else {
      EXPECT_FALSE(u.passed);
      EXPECT_EQ(u.stages[1].result, StageResult::kFail);
    }
    EXPECT_NE(log.find("\t" + u.after.serial + "\t"), std::string::npos);
  }
  EXPECT_EQ(passed, rig.Presenter().CounterValues().pass);
  EXPECT_EQ(rig.Presenter().CounterValues().total, 4);
}

TEST_F(RunRecords, LogAndPanelAreTheSameWithRecordsAsWithout) {
  auto run = [&](bool with_records) {
    RunRig rig(3);
    rig.Initialise();
    auto store = with_records ? Store() : nullptr;
    if (store) rig.Run().SetRecords({store.get(), false, "s"});
    rig.StartAndWait();
    return std::make_pair(WithoutLetters(Slurp(rig.Run().LogFilePath())),
                          std::string(profile::TextOf(rig.Engine().Settings().serial_number)));
  };
  const auto without = run(false);
  const auto with = run(true);
  EXPECT_EQ(with.first, without.first);
  EXPECT_EQ(with.second, without.second);
  EXPECT_FALSE(without.first.empty());
}

TEST_F(RunRecords, AtStartUpAndAfterLoadIniThePanelShowsTheLinesNextFreeSerial) {
  auto store_a = Store();
  RunRig a(3);
  a.Initialise();
  const std::string base = a.Presenter().Control(ids::kSerialNumber).text;
  a.Run().SetRecords({store_a.get(), true, "a"});
  a.StartAndWait();
  const std::string next = profile::IncreaseSerialNumber(base, 3);
  const auto shows = [](RunRig& rig, const std::string& serial) {
    return rig.WaitUntil([&] { return rig.Presenter().Control(ids::kSerialNumber).text == serial; },
                         std::chrono::seconds(20));
  };

  // A second station of the line starts with the same profile: its panel
  // shows the line's next free serial, not the profile's.
  auto store_b = Store();
  RunRig b(1);
  b.Run().SetRecords({store_b.get(), true, "b"});
  b.Initialise();
  EXPECT_TRUE(shows(b, next)) << b.Presenter().Control(ids::kSerialNumber).text;
  EXPECT_EQ(profile::TextOf(b.Engine().Settings().serial_number), next);
  // Loading the profile again puts its serial in the field, then the line's.
  ASSERT_TRUE(b.Presenter().LoadIni("kl_line_Tool v0.3.ini"));
  EXPECT_TRUE(shows(b, next));
}

TEST_F(RunRecords, StationsSharingAStoreTakeLineSerialsThatNeverRepeat) {
  auto store_a = Store();
  auto store_b = Store();
  RunRig a(4);
  RunRig b(3);
  a.Initialise();
  b.Initialise();
  const std::string base(profile::TextOf(a.Engine().Settings().serial_number));
  a.Run().SetRecords({store_a.get(), true, "a"});
  b.Run().SetRecords({store_b.get(), true, "b"});
  ASSERT_TRUE(a.Run().LineSerialsWanted());
  // Both stations start from the same profile: without line serials both
  // would write the profile's serial and the ones after it.
  a.StartAndWait();
  EXPECT_TRUE(b.Run().ShowNextLineSerial());
  EXPECT_EQ(profile::TextOf(b.Engine().Settings().serial_number), profile::IncreaseSerialNumber(base, 4));
  b.StartAndWait();
  a.StartAndWait();
  // The panel shows the line's next free serial after a run.
  EXPECT_EQ(a.Presenter().Control(ids::kSerialNumber).text, profile::IncreaseSerialNumber(base, 11));

  std::set<std::string> written;
  const auto all = store_a->Find({}).value();
  ASSERT_EQ(all.size(), 11u);
  for (const auto& u : all) {
    EXPECT_TRUE(written.insert(u.serial_written).second) << u.serial_written << " twice";
    EXPECT_EQ(u.after.serial, u.serial_written) << "the bridge carries another serial";
  }
  EXPECT_EQ(*written.begin(), base);
  EXPECT_EQ(*written.rbegin(), profile::IncreaseSerialNumber(base, 10));
  EXPECT_EQ(a.sink.Texts(), std::vector<std::string>{});
}

TEST_F(RunRecords, LineSerialsFromADatabaseOutOfReachStartNoRunAndSayWhy) {
  std::string error;
  auto away = records::stores::PostgresRecordsStore::Open(
      "postgresql:///line?host=" + (folder_ / "no-server").string(), error);
  ASSERT_TRUE(away) << error;
  RunRig rig(2);
  rig.Initialise();
  rig.Run().SetRecords({away.get(), true, "s"});
  const std::string serial(profile::TextOf(rig.Engine().Settings().serial_number));
  rig.StartAndWait();
  EXPECT_EQ(rig.Run().RunsFinished(), 0);
  ASSERT_EQ(rig.sink.Texts().size(), 1u);
  const std::string text = rig.sink.Texts()[0];
  EXPECT_EQ(text.find("No run: the line's serial numbers cannot be taken from the records database."), 0u) << text;
  EXPECT_NE(text.find("cannot reach the records database"), std::string::npos) << text;
  // The station keeps working: the panel is usable, and without line serials
  // the run goes on; its records are reported lost, the log is written.
  EXPECT_TRUE(rig.Presenter().Control(ids::kStart).enabled);
  EXPECT_EQ(profile::TextOf(rig.Engine().Settings().serial_number), serial);
  std::vector<PresenterEvent> lost;
  rig.Presenter().SetObserver([&](const PresenterEvent& e) {
    if (e.kind == PresenterEvent::Kind::kRecordLost) lost.push_back(e);
  });
  rig.Run().SetRecords({away.get(), false, "s"});
  rig.StartAndWait();
  rig.Presenter().SetObserver({});
  EXPECT_EQ(rig.Run().RunsFinished(), 1);
  EXPECT_EQ(rig.Presenter().CounterValues().pass, 2);
  ASSERT_EQ(lost.size(), 2u);
  EXPECT_NE(lost[0].text.find("cannot reach"), std::string::npos);
  EXPECT_FALSE(Slurp(rig.Run().LogFilePath()).empty());
}

}  // namespace
}  // namespace linetool::app
