// The window's Last Records: rows an operator reads, the station's newest
// records first, read again after each run, and a store that cannot be read
// or records that were lost said plainly without holding the station.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "linetool/app/control_ids.h"
#include "linetool/app/last_records.h"
#include "linetool/app/tests/presenter_fixture.h"
#include "linetool/records/stores/open_records_store.h"
#include "linetool/records/stores/postgres_records_store.h"
#include "linetool/records/stores/sqlite_records_store.h"
#include "run_fixture.h"

namespace linetool::app {
namespace {

using records::StageResult;
using records::UnitRecord;

UnitRecord Record(int port, const std::string& time, const std::string& station = "st-1") {
  UnitRecord r;
  r.run_id = "run " + time;
  r.station = station;
  r.time = time;
  r.port = port;
  r.before = {"0F3C", "7700", "0000A0000001", "121105100000"};
  r.after = r.before;
  r.passed = true;
  return r;
}

std::vector<std::string> Column(const LastRecords::State& state, std::size_t column) {
  std::vector<std::string> texts;
  for (const auto& row : state.rows) texts.push_back(row.texts.at(column));
  return texts;
}

TEST(LastRecordsRows, ShowTimePortSerialFirmwareResultFailedStageAndDuration) {
  EXPECT_EQ(LastRecords::Columns(), (std::vector<std::string>{"Time", "Port#", "Serial Number", "FW Version", "Result",
                                                               "Failed At", "Duration"}));
  UnitRecord changed = Record(7, "2026-12-08 09:31:02");
  changed.before.serial = "20121105000004";
  changed.after.serial = "0000A0000008";
  changed.after.firmware_version = "121105100001";
  changed.stages[0] = {StageResult::kPass, 1200};
  changed.stages[1] = {StageResult::kPass, 61300};
  changed.stages[2] = {StageResult::kPass, 2000};
  const LastRecordsRow row = LastRecordsRowOf(changed);
  EXPECT_TRUE(row.passed);
  EXPECT_EQ(row.texts, (std::vector<std::string>{"2026-12-08 09:31:02", "7", "20121105000004 -> 0000A0000008",
                                                 "121105100000 -> 121105100001", "PASS", "", "1:05"}));

  // The first failing stage by the grid's name; the stages after it count no time.
  UnitRecord failed = Record(13, "2026-12-08 09:40:00");
  failed.passed = false;
  failed.stages[0] = {StageResult::kPass, 1000};
  failed.stages[2] = {StageResult::kFail, 3599000};
  failed.stages[3] = {StageResult::kFail, 0};
  failed.stages[6] = {StageResult::kOff, 999999};
  const LastRecordsRow fail_row = LastRecordsRowOf(failed);
  EXPECT_FALSE(fail_row.passed);
  EXPECT_EQ(fail_row.texts[2], "0000A0000001");
  EXPECT_EQ(fail_row.texts[3], "121105100000");
  EXPECT_EQ(fail_row.texts[LastRecords::kResultColumn], "FAIL");
  EXPECT_EQ(fail_row.texts[5], "ReLink");
  EXPECT_EQ(fail_row.texts[6], "1:00:00");

  // A device that had no serial before shows the one it got.
  UnitRecord blank = Record(0, "2026-12-08 09:50:00");
  blank.before.serial.clear();
  EXPECT_EQ(LastRecordsRowOf(blank).texts[2], "0000A0000001");
  EXPECT_EQ(LastRecordsRowOf(blank).texts[6], "0:00");
}

class LastRecordsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = testing::FreshDir("last_records");
    std::string error;
    store_ = records::stores::SqliteRecordsStore::Open(folder_ + "/records.db", error);
    ASSERT_TRUE(store_) << error;
  }
  void TearDown() override { store_.reset(); }
  std::string folder_;
  std::unique_ptr<records::stores::SqliteRecordsStore> store_;
};

TEST_F(LastRecordsStore, NewestRecordsOfThisStationFirstAndNoMoreThanAsked) {
  LastRecords last(*store_, "st-1", 5);
  EXPECT_EQ(last.Title(), "Last records of station st-1");
  last.Refresh();
  last.WaitIdle();
  EXPECT_TRUE(last.Current().rows.empty());
  EXPECT_EQ(last.Current().message, "No records of this station yet.");
  EXPECT_FALSE(last.Current().unreadable);

  // Two runs of four ports, a day apart, and another station's records in between.
  for (int port = 0; port < 4; ++port) {
    ASSERT_TRUE(store_->Add(Record(port, "2026-12-07 16:00:00")));
    ASSERT_TRUE(store_->Add(Record(port, "2026-12-08 08:00:00")));
    ASSERT_TRUE(store_->Add(Record(port, "2026-12-09 10:00:00", "st-2")));
  }
  last.Refresh();
  last.WaitIdle();
  const LastRecords::State state = last.Current();
  EXPECT_EQ(Column(state, 0), (std::vector<std::string>{"2026-12-08 08:00:00", "2026-12-08 08:00:00",
                                                        "2026-12-08 08:00:00", "2026-12-08 08:00:00",
                                                        "2026-12-07 16:00:00"}));
  EXPECT_EQ(Column(state, 1), (std::vector<std::string>{"3", "2", "1", "0", "3"}));
  EXPECT_EQ(state.message, "The newest 5 records, newest first.");
  EXPECT_EQ(state.reads, 2u);
}

// A store that answers as it is told, and can be held inside a read.
class ScriptedStore final : public records::RecordsStore {
 public:
  std::vector<UnitRecord> records;
  bool fail = false;
  bool hold = false;
  int reads = 0;
  std::mutex mutex;
  std::condition_variable changed;

  void Release() {
    {
      std::lock_guard g(mutex);
      hold = false;
    }
    changed.notify_all();
  }
  void WaitForRead(int n) {
    std::unique_lock g(mutex);
    changed.wait(g, [&] { return reads >= n; });
  }
  bool Shared() const override { return true; }
  bool Add(const UnitRecord&) override { return false; }
  std::optional<std::vector<UnitRecord>> Find(const records::RecordQuery&) override {
    std::unique_lock g(mutex);
    ++reads;
    changed.notify_all();
    changed.wait(g, [&] { return !hold; });
    if (fail) return std::nullopt;
    return records;
  }
  std::optional<records::SerialCounter> ReserveSerials(const records::ProductKey&, std::string_view,
                                                       std::int64_t) override {
    return std::nullopt;
  }
  std::optional<records::SerialCounter> PeekSerials(const records::ProductKey&) override { return std::nullopt; }
  std::string Error() const override { return "cannot read the records: server closed the connection unexpectedly"; }
};

TEST(LastRecordsReader, AStoreThatCannotBeReadIsSaidAndTheRowsReadBeforeStay) {
  ScriptedStore store;
  store.records = {Record(1, "2026-12-08 08:00:00")};
  LastRecords last(store, "st-1");
  last.Refresh();
  last.WaitIdle();
  ASSERT_EQ(last.Current().rows.size(), 1u);

  store.fail = true;
  last.Refresh();
  last.WaitIdle();
  const LastRecords::State state = last.Current();
  EXPECT_TRUE(state.unreadable);
  EXPECT_EQ(state.rows.size(), 1u);
  EXPECT_EQ(state.message,
            "The records store cannot be read: cannot read the records: server closed the connection unexpectedly. "
            "The records shown are those read before. The station works on and keeps its log.");

  store.fail = false;
  last.Refresh();
  last.WaitIdle();
  EXPECT_FALSE(last.Current().unreadable);
}

TEST(LastRecordsReader, ASlowStoreHoldsNeitherTheWindowNorItsCommands) {
  ScriptedStore store;
  store.hold = true;
  testing::PresenterRig rig("last_records_slow");
  LastRecords last(store, "st-1");
  rig.presenter.AttachLastRecords(&last);  // asks for the first read
  store.WaitForRead(1);
  // The window opens the dialog while the database keeps the first read waiting.
  int shown_while_reading = 0;
  rig.dialogs.on_last_records = [&](LastRecords& records) {
    if (records.Current().reading) ++shown_while_reading;
  };
  EXPECT_TRUE(rig.presenter.Command(ids::kLastRecords));
  EXPECT_TRUE(rig.presenter.Command(ids::kLastRecords));
  EXPECT_EQ(shown_while_reading, 2);
  EXPECT_EQ(last.Current().reads, 0u);
  store.Release();
  last.WaitIdle();
  // The asks made during the read are answered by one more read.
  EXPECT_EQ(store.reads, 2);
  EXPECT_EQ(last.Current().reads, 2u);
  rig.presenter.AttachLastRecords(nullptr);
}

TEST(LastRecordsPresenter, TheEntryIsThereOnlyWhenTheStationKeepsRecords) {
  testing::PresenterRig rig("last_records_entry");
  EXPECT_FALSE(rig.presenter.HasLastRecords());
  EXPECT_FALSE(rig.presenter.Command(ids::kLastRecords));
  EXPECT_EQ(rig.dialogs.last_records_shown, 0);

  ScriptedStore store;
  {
    LastRecords last(store, "st-1");
    rig.presenter.AttachLastRecords(&last);
    EXPECT_TRUE(rig.presenter.HasLastRecords());
    EXPECT_TRUE(rig.presenter.Command(ids::kLastRecords));
    EXPECT_EQ(rig.dialogs.last_records_shown, 1);
    rig.presenter.AttachLastRecords(nullptr);
  }
  EXPECT_FALSE(rig.presenter.HasLastRecords());
  EXPECT_FALSE(rig.presenter.Command(ids::kLastRecords));
  EXPECT_EQ(rig.dialogs.last_records_shown, 1);
}

TEST_F(LastRecordsStore, EachRunOnTheSimulatedStationIsReadAgainAtItsEnd) {
  testing::RunRig rig(4);
  rig.Initialise();
  rig.Run().SetRecords({store_.get(), false, "st-1"});
  LastRecords last(*store_, "st-1");
  rig.Presenter().AttachLastRecords(&last);
  ASSERT_TRUE(rig.WaitUntil([&] { return last.Current().reads >= 1 && !last.Current().reading; }));
  EXPECT_TRUE(last.Current().rows.empty());

  rig.StartAndWait();
  ASSERT_TRUE(rig.WaitUntil([&] { return last.Current().reads >= 2 && !last.Current().reading; }));
  const LastRecords::State first = last.Current();
  ASSERT_EQ(first.rows.size(), 4u);
  EXPECT_EQ(Column(first, 1), (std::vector<std::string>{"3", "2", "1", "0"}));
  for (const auto& row : first.rows) {
    const int port = std::stoi(row.texts[1]);
    // The serial the bridge carries now, as the grid shows it, after the one it had.
    EXPECT_TRUE(row.texts[2].ends_with(" -> " + rig.Presenter().CellText(port, 4))) << row.texts[2];
    EXPECT_EQ(row.texts[LastRecords::kResultColumn], "PASS");
  }
  EXPECT_EQ(first.lost, "");

  rig.StartAndWait();
  ASSERT_TRUE(rig.WaitUntil([&] { return last.Current().reads >= 3 && !last.Current().reading; }));
  const LastRecords::State second = last.Current();
  ASSERT_EQ(second.rows.size(), 8u);
  EXPECT_GT(second.rows[0].texts[0], second.rows[4].texts[0]) << "the second run first";
  EXPECT_EQ(second.rows[4].texts, first.rows[0].texts);
  rig.Presenter().AttachLastRecords(nullptr);
}

TEST_F(LastRecordsStore, AnUnreachableDatabaseIsSaidWhileTheRunGoesOn) {
  std::string error;
  auto away = records::stores::PostgresRecordsStore::Open("postgresql:///line?host=" + folder_ + "/no-server", error);
  ASSERT_TRUE(away) << error;
  testing::RunRig rig(2);
  rig.Initialise();
  rig.Run().SetRecords({away.get(), false, "st-1"});
  LastRecords last(*away, "st-1");
  rig.Presenter().AttachLastRecords(&last);
  rig.StartAndWait();
  EXPECT_EQ(rig.Presenter().CounterValues().pass, 2);
  ASSERT_TRUE(rig.WaitUntil([&] { return last.Current().reads >= 2 && !last.Current().reading; }));
  const LastRecords::State state = last.Current();
  EXPECT_TRUE(state.unreadable);
  EXPECT_TRUE(state.rows.empty());
  EXPECT_TRUE(state.message.starts_with("The records store cannot be read: ")) << state.message;
  EXPECT_NE(state.message.find("no-server"), std::string::npos) << state.message;
  // The records the run could not write are named too, until the next run ends.
  EXPECT_TRUE(state.lost.starts_with("The records of ports 0, 1 of the last run could not be written: ")) << state.lost;
  last.RunEnded();
  last.WaitIdle();
  EXPECT_EQ(last.Current().lost, "");
  rig.Presenter().AttachLastRecords(nullptr);
}

// With an outbox the same run loses nothing: its records wait, and the
// window says how many.
TEST_F(LastRecordsStore, RecordsKeptForAServerThatIsAwayAreCountedNotLost) {
  std::string error;
  auto station = records::stores::OpenRecordsStore("postgresql:///line?host=" + folder_ + "/no-server", error, folder_);
  ASSERT_TRUE(station) << error;
  testing::RunRig rig(3);
  rig.Initialise();
  rig.Run().SetRecords({station.get(), false, "st-1"});
  LastRecords last(*station, "st-1");
  rig.Presenter().AttachLastRecords(&last);
  rig.StartAndWait();
  ASSERT_TRUE(rig.WaitUntil([&] { return last.Current().reads >= 2 && !last.Current().reading; }));
  LastRecords::State state = last.Current();
  EXPECT_EQ(state.lost, "");
  EXPECT_EQ(state.pending, 3u);
  EXPECT_EQ(state.waiting,
            "3 records wait in the outbox for the records server; they go there once the server answers.");
  EXPECT_EQ(station->Pending(), 3u);
  rig.StartAndWait();
  ASSERT_TRUE(rig.WaitUntil([&] { return last.Current().reads >= 3 && !last.Current().reading; }));
  EXPECT_EQ(last.Current().pending, 6u);
  rig.Presenter().AttachLastRecords(nullptr);
}

}  // namespace
}  // namespace linetool::app
