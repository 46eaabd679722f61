// A line's server that goes away in the middle of a run and comes back: the
// station's records wait in its outbox and reach the server in order, once.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "linetool/records/stores/open_records_store.h"
#include "linetool/records/stores/outbox_records_store.h"
#include "linetool/records/stores/postgres_records_store.h"
#include "linetool/records/stores/sqlite_records_store.h"
#include "linetool/records/stores/tests/throwaway_postgres.h"

namespace linetool::records::stores {
namespace {

using testing::ThrowawayPostgres;

UnitRecord Unit(const std::string& run, int port, int second) {
  UnitRecord r;
  r.run_id = run;
  r.station = "station-a";
  char time[32];
  std::snprintf(time, sizeof time, "2026-03-12 10:%02d:%02d", second / 60, second % 60);
  r.time = time;
  r.port = port;
  r.before = {"0F3C", "7700", "OLD" + std::to_string(port), "121105100000"};
  r.after = {"0F3C", "7701", run + "-" + std::to_string(port), "121105100001"};
  r.serial_written = r.after.serial;
  r.passed = port % 3 != 0;
  return r;
}

class Outbox : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server_.SkipReason().empty()) GTEST_SKIP() << server_.SkipReason();
    ASSERT_TRUE(server_.CreateDatabase("line"));
    folder_ = std::filesystem::temp_directory_path() / ("records-outbox-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }
  std::unique_ptr<RecordsStore> OpenStation() {
    std::string error;
    auto store = OpenRecordsStore(server_.Url("line"), error, folder_.string());
    EXPECT_TRUE(store) << error;
    return store;
  }
  // What the server holds, read past any station.
  std::vector<UnitRecord> OnServer() {
    std::string error;
    auto direct = PostgresRecordsStore::Open(server_.Url("line"), error);
    EXPECT_TRUE(direct) << error;
    auto all = direct->Find({});
    EXPECT_TRUE(all) << direct->Error();
    return all.value_or(std::vector<UnitRecord>{});
  }

  ThrowawayPostgres server_{true};  // commits wait for the disk, as on the line's server
  std::filesystem::path folder_;
};

TEST_F(Outbox, RecordsOfARunWhileTheServerIsAwayArriveOnceAndInOrderWhenItIsBack) {
  auto station = OpenStation();
  ASSERT_TRUE(station);
  int second = 0;
  std::vector<UnitRecord> written;
  auto add = [&](const std::string& run, int port) {
    written.push_back(Unit(run, port, ++second));
    EXPECT_TRUE(station->Add(written.back())) << station->Error();
  };
  // The first run reaches the server; the server stops in the middle of the second.
  for (int port = 0; port < 4; ++port) add("run-1", port);
  EXPECT_EQ(station->Pending(), 0u);
  add("run-2", 0);
  add("run-2", 1);
  ASSERT_TRUE(server_.Stop());
  add("run-2", 2);
  add("run-2", 3);
  add("run-3", 0);
  EXPECT_EQ(station->Pending(), 3u);
  EXPECT_FALSE(station->Error().empty());
  // A station started meanwhile (the window after a restart) sees them waiting.
  {
    auto again = OpenStation();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Pending(), 3u);
  }
  // Back again: the next record takes the waiting ones along, oldest first.
  ASSERT_TRUE(server_.Start());
  add("run-3", 1);
  EXPECT_EQ(station->Pending(), 0u);
  EXPECT_EQ(OnServer(), written);

  // Away again, and back: asking for the count hands them on too.
  ASSERT_TRUE(server_.Stop());
  add("run-4", 0);
  add("run-4", 1);
  ASSERT_TRUE(server_.Start());
  EXPECT_EQ(station->Pending(), 0u);
  EXPECT_EQ(OnServer(), written);
}

TEST_F(Outbox, ARecordTheServerHasAlreadyIsNotDoubledAndTheOutboxEmpties) {
  // The server took a record but its answer was lost: the record stays in the outbox.
  const UnitRecord r = Unit("run-9", 5, 1);
  {
    std::string error;
    auto direct = PostgresRecordsStore::Open(server_.Url("line"), error);
    ASSERT_TRUE(direct && direct->Add(r)) << error;
    auto outbox = SqliteRecordsStore::Open((folder_ / kOutboxFileName).string(), error);
    ASSERT_TRUE(outbox && outbox->Add(r)) << error;
  }
  auto station = OpenStation();
  ASSERT_TRUE(station);
  EXPECT_EQ(station->Pending(), 0u);
  EXPECT_EQ(OnServer(), std::vector<UnitRecord>{r});
}

TEST_F(Outbox, AStationWithoutTheServerAndWithoutAnOutboxSaysSo) {
  ASSERT_TRUE(server_.Stop());
  // An outbox that cannot be made (its folder is a file): no store at all, and why.
  const auto blocked = folder_ / "blocked";
  { std::ofstream(blocked) << "x"; }
  std::string error;
  EXPECT_FALSE(OpenRecordsStore(server_.Url("line"), error, blocked.string()));
  EXPECT_NE(error.find("outbox"), std::string::npos) << error;
  // A server without an outbox folder loses the record and says so, as before.
  auto bare = OpenRecordsStore(server_.Url("line"), error);
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->Add(Unit("run-1", 0, 1)));
  EXPECT_FALSE(bare->Error().empty());
  ASSERT_TRUE(server_.Start());
}

}  // namespace
}  // namespace linetool::records::stores
