// One contract for every records store: the SQLite file of a station and a
// line's PostgreSQL database (a real server, started for these tests).

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "linetool/records/line_serials.h"
#include "linetool/records/stores/open_records_store.h"
#include "linetool/records/stores/postgres_records_store.h"
#include "linetool/records/stores/sqlite_records_store.h"
#include "linetool/records/stores/tests/throwaway_postgres.h"

namespace linetool::records::stores {
namespace {

using testing::ThrowawayPostgres;

// A query with some of its filters set.
struct Query : RecordQuery {
  Query& Serial(std::string v) { serial = std::move(v); return *this; }
  Query& From(std::string v) { from = std::move(v); return *this; }
  Query& To(std::string v) { to = std::move(v); return *this; }
  Query& Station(std::string v) { station = std::move(v); return *this; }
  Query& Passed(bool v) { passed = v; return *this; }
  Query& Last(std::size_t n) { last = n; return *this; }
};

UnitRecord SampleRecord(int port, const std::string& run = "run-1") {
  UnitRecord r;
  r.run_id = run;
  r.station = "station-a";
  r.time = "2026-03-12 10:11:12";
  r.port = port;
  r.usb_location = "\\\\?\\usb#root_hub30#4&1&0#{f18a0e88}, port " + std::to_string(port + 1);
  r.before = {"0F3C", "7700", "0000A000000" + std::to_string(port), "121105100000"};
  r.after = {"0F3C", "7701", "SER" + std::to_string(port), "121105100001"};
  r.serial_written = "SER" + std::to_string(port);
  r.firmware_file = "121105_10_0000.bin";
  r.firmware_sha256 = std::string(64, 'a');
  r.profile_file = "kl_line_Tool v0.3.ini";
  r.profile_sha256 = std::string(64, 'b');
  for (std::size_t i = 0; i < kRecordStages; ++i)
    r.stages[i] = {i == 6 ? StageResult::kOff : StageResult::kPass, static_cast<std::int64_t>(100 * i + port)};
  r.capacity = 1000204886016;
  r.ata_model = "Disk, \"quoted\"\nsecond line";
  r.ata_serial = "WD-\xC3\xA9" "ABC";  // UTF-8
  r.passed = true;
  return r;
}

// One server for the tests of a process, started by the first that needs it
// and stopped after the last.
std::unique_ptr<ThrowawayPostgres>& ServerSlot() {
  static std::unique_ptr<ThrowawayPostgres> server;
  return server;
}
ThrowawayPostgres* Server() {
  if (!ServerSlot()) ServerSlot() = std::make_unique<ThrowawayPostgres>();
  return ServerSlot().get();
}

class ServerEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { ServerSlot().reset(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

class RecordsStoreContract : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    static int counter = 0;
    ++counter;
    if (GetParam() == "sqlite") {
      folder_ = std::filesystem::temp_directory_path() /
                ("records-sqlite-" + std::to_string(::getpid()) + "-" + std::to_string(counter));
      std::filesystem::create_directories(folder_);
      setting_ = (folder_ / "records.db").string();
    } else {
      if (!Server()->SkipReason().empty()) GTEST_SKIP() << Server()->SkipReason();
      const std::string db = "contract" + std::to_string(counter);
      ASSERT_TRUE(Server()->CreateDatabase(db));
      setting_ = Server()->Url(db);
    }
  }
  void TearDown() override {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }
  std::unique_ptr<RecordsStore> Open() {
    std::string error;
    auto store = OpenRecordsStore(setting_, error);
    EXPECT_TRUE(store) << error;
    return store;
  }

  std::filesystem::path folder_;
  std::string setting_;
};

TEST_P(RecordsStoreContract, RecordsComeBackWholeAfterReopeningAndOnlyOncePerPortAndRun) {
  {
    auto store = Open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Shared(), GetParam() == "postgresql");
    for (int port : {3, 0, 15}) ASSERT_TRUE(store->Add(SampleRecord(port))) << store->Error();
    // The same port of the same run again (a statement sent twice): kept once.
    ASSERT_TRUE(store->Add(SampleRecord(3))) << store->Error();
  }
  auto store = Open();
  const auto all = store->Find({});
  ASSERT_TRUE(all) << store->Error();
  ASSERT_EQ(all->size(), 3u);
  EXPECT_EQ((*all)[0], SampleRecord(0));
  EXPECT_EQ((*all)[1], SampleRecord(3));
  EXPECT_EQ((*all)[2], SampleRecord(15));
}

TEST_P(RecordsStoreContract, QueriesSelectBySerialDaysStationAndResult) {
  auto store = Open();
  ASSERT_TRUE(store);
  auto at = [](int port, const std::string& time, const std::string& station, bool passed) {
    UnitRecord r = SampleRecord(port, "run-" + time);
    r.time = time;
    r.station = station;
    r.passed = passed;
    return r;
  };
  ASSERT_TRUE(store->Add(at(1, "2026-03-11 23:59:59", "a", true)));
  ASSERT_TRUE(store->Add(at(2, "2026-03-12 00:00:00", "b", false)));
  ASSERT_TRUE(store->Add(at(3, "2026-03-13 12:00:00", "a", true)));
  ASSERT_TRUE(store->Add(at(4, "2026-03-14 00:00:00", "b", true)));
  auto ports = [&](const RecordQuery& q) {
    std::vector<int> p;
    const auto found = store->Find(q);
    if (!found) return std::vector<int>{-1};
    for (const UnitRecord& r : *found) p.push_back(r.port);
    return p;
  };
  EXPECT_EQ(ports(Query()), (std::vector<int>{1, 2, 3, 4}));
  // The days are whole and inclusive at both ends.
  EXPECT_EQ(ports(Query().From("2026-03-12").To("2026-03-13")), (std::vector<int>{2, 3}));
  EXPECT_EQ(ports(Query().From("2026-03-13")), (std::vector<int>{3, 4}));
  EXPECT_EQ(ports(Query().To("2026-03-11")), (std::vector<int>{1}));
  EXPECT_EQ(ports(Query().Station("b")), (std::vector<int>{2, 4}));
  EXPECT_EQ(ports(Query().Station("a").Passed(true)), (std::vector<int>{1, 3}));
  EXPECT_EQ(ports(Query().Passed(false)), (std::vector<int>{2}));
  // A serial matches what was written and what the device carried before or after.
  EXPECT_EQ(ports(Query().Serial("SER3")), (std::vector<int>{3}));
  EXPECT_EQ(ports(Query().Serial("0000A0000004")), (std::vector<int>{4}));
  EXPECT_TRUE(ports(Query().Serial("' OR 1=1 --")).empty());
  // The newest of those selected, still oldest first; more than there are: all of them.
  EXPECT_EQ(ports(Query().Last(2)), (std::vector<int>{3, 4}));
  EXPECT_EQ(ports(Query().Station("a").Last(1)), (std::vector<int>{3}));
  EXPECT_EQ(ports(Query().Station("b").Passed(true).Last(5)), (std::vector<int>{4}));
  // One second holds the ports of a run: the newest run's highest ports come last.
  ASSERT_TRUE(store->Add(at(0, "2026-03-14 00:00:00", "b", true)));
  ASSERT_TRUE(store->Add(at(9, "2026-03-14 00:00:00", "b", true)));
  EXPECT_EQ(ports(Query().Last(3)), (std::vector<int>{0, 4, 9}));
}

TEST_P(RecordsStoreContract, SerialCountersHandOutEveryNumberOnceAcrossConnections) {
  auto store = Open();
  ASSERT_TRUE(store);
  const ProductKey product{"0F3C", "7700", "0000A"};
  EXPECT_EQ(store->PeekSerials(product).value().base, "");
  EXPECT_EQ(NextLineSerial(*store, "0F3C", "7700", "0000A0000001").value(), "0000A0000001");
  // The first taking starts the counter at the panel's serial; later panels do not move it.
  EXPECT_EQ(TakeLineSerials(*store, "0F3C", "7700", "0000A0000001", 3).value(),
            (std::vector<std::string>{"0000A0000001", "0000A0000002", "0000A0000003"}));
  EXPECT_EQ(TakeLineSerials(*store, "0F3C", "7700", "0000A0000001", 2).value(),
            (std::vector<std::string>{"0000A0000004", "0000A0000005"}));
  EXPECT_EQ(TakeLineSerials(*store, "0F3C", "7700", "0000A00000FF", 1).value(),
            (std::vector<std::string>{"0000A0000006"}));
  EXPECT_EQ(NextLineSerial(*store, "0F3C", "7700", "0000A0000001").value(), "0000A0000007");
  // Another product, or another serial prefix, has a counter of its own.
  EXPECT_EQ(TakeLineSerials(*store, "0F3C", "7701", "0000A0000001", 1).value().front(), "0000A0000001");
  EXPECT_EQ(TakeLineSerials(*store, "0F3C", "7700", "0000B0000001", 1).value().front(), "0000B0000001");

  // Stations at once, each over its own connection.
  constexpr int kStations = 6;
  constexpr int kRuns = 15;
  std::vector<std::vector<std::string>> taken(kStations);
  std::atomic<int> failures{0};
  {
    std::vector<std::jthread> stations;
    for (int s = 0; s < kStations; ++s) {
      stations.emplace_back([&, s] {
        auto own = Open();
        for (int run = 0; run < kRuns && own; ++run) {
          const auto serials = TakeLineSerials(*own, "0F3C", "7702", "0000C0000000", 1 + (run + s) % 16);
          if (!serials) {
            failures.fetch_add(1);
            continue;
          }
          taken[static_cast<std::size_t>(s)].insert(taken[static_cast<std::size_t>(s)].end(), serials->begin(),
                                                    serials->end());
        }
      });
    }
  }
  EXPECT_EQ(failures.load(), 0) << store->Error();
  std::set<std::string> distinct;
  std::size_t total = 0;
  for (const auto& t : taken) {
    total += t.size();
    distinct.insert(t.begin(), t.end());
  }
  EXPECT_EQ(distinct.size(), total);
  // No number was skipped either: the counter stands right after the last one.
  EXPECT_EQ(store->PeekSerials({"0F3C", "7702", "0000C"}).value().next, static_cast<std::int64_t>(total));
}

INSTANTIATE_TEST_SUITE_P(Stores, RecordsStoreContract, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

// --- What only one kind of store does ----------------------------------------------------------

class RecordsFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("records-file-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Path() const { return (folder_ / "records.db").string(); }
  static void Exec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  std::filesystem::path folder_;
};

TEST_F(RecordsFolder, SqliteFileIsMadeOnFirstUseInWalModeAndRefusedWhenNewerOrForeign) {
  std::string error;
  {
    auto store = SqliteRecordsStore::Open(Path(), error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->SchemaVersion(), 1);
    EXPECT_EQ(store->IntegrityCheck(), "ok");
    ASSERT_TRUE(store->Add(SampleRecord(1)));
  }
  EXPECT_TRUE(std::filesystem::exists(Path()));
  {
    // WAL is a property of the file: a plain connection sees it.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "wal");
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
  // A file from a newer station is left alone, with the reason.
  Exec(Path(), "PRAGMA user_version=7");
  EXPECT_FALSE(SqliteRecordsStore::Open(Path(), error));
  EXPECT_NE(error.find("newer"), std::string::npos) << error;
  // Neither a folder that is missing nor a file that is no database is taken.
  EXPECT_FALSE(SqliteRecordsStore::Open((folder_ / "missing" / "r.db").string(), error));
  {
    std::FILE* f = std::fopen((folder_ / "text.db").c_str(), "wb");
    std::fputs("Date\tTime\tTarget\t\r\nnot a database, a log file\r\n", f);
    std::fclose(f);
  }
  EXPECT_FALSE(SqliteRecordsStore::Open((folder_ / "text.db").string(), error));
}

TEST_F(RecordsFolder, SqliteStationKilledWhileWritingLeavesOnlyWholeRecords) {
  // Writers are killed at random moments, most of them inside a commit.
  std::mt19937 random(12345);
  int written_before = 0;
  for (int round = 0; round < 8; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::string error;
      auto store = SqliteRecordsStore::Open(Path(), error);
      if (!store) ::_exit(3);
      for (int i = 0;; ++i) store->Add(SampleRecord(i % 16, "kill-" + std::to_string(round) + "-" + std::to_string(i / 16)));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 60));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;

    std::string error;
    auto store = SqliteRecordsStore::Open(Path(), error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->IntegrityCheck(), "ok");
    const auto all = store->Find({});
    ASSERT_TRUE(all) << store->Error();
    EXPECT_GE(static_cast<int>(all->size()), written_before);
    for (const UnitRecord& r : *all) {
      UnitRecord expected = SampleRecord(r.port, r.run_id);
      ASSERT_EQ(r, expected) << "a record was cut";
    }
    written_before = static_cast<int>(all->size());
  }
  EXPECT_GT(written_before, 0) << "no writer got a record in";
}

TEST(PostgresStore, UnreachableDatabaseSaysWhyAndIsUsedOnceItIsThere) {
  std::string error;
  EXPECT_FALSE(PostgresRecordsStore::Open("postgresql://localhost/records?no_such_option=1", error));
  EXPECT_FALSE(error.empty());

  if (!Server()->SkipReason().empty()) GTEST_SKIP() << Server()->SkipReason();
  // A database that does not exist yet: every call fails with the reason.
  auto store = PostgresRecordsStore::Open(Server()->Url("late"), error);
  ASSERT_TRUE(store) << error;
  EXPECT_FALSE(store->Reach());
  EXPECT_NE(store->Error().find("cannot reach the records database"), std::string::npos) << store->Error();
  EXPECT_FALSE(store->Add(SampleRecord(0)));
  EXPECT_FALSE(TakeLineSerials(*store, "0F3C", "7700", "0000A0000001", 2));
  // Once it is there, the same store object connects and makes the schema.
  ASSERT_TRUE(Server()->CreateDatabase("late"));
  EXPECT_TRUE(store->Add(SampleRecord(0))) << store->Error();
  EXPECT_EQ(store->SchemaVersion(), 1);
}

}  // namespace
}  // namespace linetool::records::stores
