// The cost of unit records. One SQLite record of a port against the daily
// log line of the same port (both on the medium before they return), and the
// throughput of a line of 16 stations with 16 ports each writing to one
// PostgreSQL server on this machine (a throwaway cluster, commits on the disk),
// against one station alone on the same server. Prints the ratios at the end.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "linetool/disk/production_log.h"
#include "linetool/records/line_serials.h"
#include "linetool/records/stores/postgres_records_store.h"
#include "linetool/records/stores/sqlite_records_store.h"
#include "linetool/records/stores/tests/throwaway_postgres.h"
#include "linetool/profile/profile_format.h"
#include "linetool/profile/station_files.h"
#include "linetool/app/cli/sim_station_backend.h"
#include "platform/linux/host_services.h"
#include "platform/linux/posix_files.h"
#include "platform/linux/quiescent_clock.h"
#include "sim/station/world_description.h"
#include "tools/testing/test_paths.h"

namespace {

namespace fs = std::filesystem;
using namespace linetool;

constexpr int kPorts = 16;

records::UnitRecord PortRecord(const std::string& run, int port) {
  records::UnitRecord r;
  r.run_id = run;
  r.station = "bench";
  r.time = "2026-12-08 09:30:00";
  r.port = port;
  r.usb_location = "\\\\?\\usb#root_hub30 port " + std::to_string(port + 1);
  r.before = {"0F3C", "7700", "0000A0000001", "121105100000"};
  r.after = r.before;
  r.serial_written = "0000A0000001";
  r.firmware_file = "121105_10_0000.bin";
  r.firmware_sha256 = std::string(64, 'a');
  r.profile_file = "kl_line_Tool v0.3.ini";
  r.profile_sha256 = std::string(64, 'b');
  for (auto& s : r.stages) s = {records::StageResult::kPass, 1234};
  r.capacity = 500107862016LL;
  r.passed = true;
  return r;
}

fs::path Scratch() {
  static const fs::path root = fs::temp_directory_path() / ("records_bench." + std::to_string(std::random_device{}()));
  fs::create_directories(root);
  return root;
}

// The daily log line of one port, written as the run writes it (appended,
// then put on the medium).
void BM_LogLine(benchmark::State& state) {
  const fs::path work = Scratch() / "log";
  fs::create_directories(work);
  platform::linux_host::QuiescentClock clock;
  cli::SimStationBackend backend(sim::station::DefaultWorld(1), clock, Scratch() / "sim", work.string());
  const app::StationServices s = backend.Services();
  // The host's files, as a station on real hardware writes its log.
  platform::linux_host::PosixFiles files;
  platform::linux_host::HostPathAccess access;
  const disk::DiskServices ds{s.disks, s.volumes, s.tools, files, access, s.clock, work.string(), nullptr, {}};
  profile::ProfileSettings settings{};
  const auto text = profile::ReadFileBytes(std::string(test_support::kResourceDir) + "/kl_line_Tool v0.3.ini").value();
  profile::ReadProfileText(std::string(text.begin(), text.end()), settings);
  disk::LogPort port;
  port.slot = 3;
  port.usb_port = 4;
  port.vid = "0F3C";
  port.pid = "7700";
  port.serial_number = "0000A0000004";
  port.fw_version = "121105100000";
  port.results.fill(1);
  for (auto _ : state) {
    if (!disk::WriteLogRecord(ds, port, settings)) state.SkipWithError("the log line was not written");
  }
  state.counters["records_per_s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LogLine)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);

// The record of the same port in the station's SQLite file.
void BM_SqliteRecord(benchmark::State& state) {
  std::string error;
  auto store = records::stores::SqliteRecordsStore::Open((Scratch() / "records.db").string(), error);
  if (!store) {
    state.SkipWithError(error.c_str());
    return;
  }
  int run = 0;
  for (auto _ : state) {
    if (!store->Add(PortRecord("run-" + std::to_string(run++), 3))) state.SkipWithError("the record was not written");
  }
  state.counters["records_per_s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SqliteRecord)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);

// `stations` stations at once, each over its own connection, each finishing
// runs of 16 ports: 16 line serials taken, then 16 records. One iteration is
// one run of every station.
void BM_LineOnPostgres(benchmark::State& state) {
  static records::testing::ThrowawayPostgres server(true);
  if (!server.SkipReason().empty()) {
    state.SkipWithError(server.SkipReason().c_str());
    return;
  }
  const int stations = static_cast<int>(state.range(0));
  const std::string db = "bench" + std::to_string(stations);
  server.CreateDatabase(db);
  std::vector<std::unique_ptr<records::stores::PostgresRecordsStore>> stores;
  for (int i = 0; i < stations; ++i) {
    std::string error;
    stores.push_back(records::stores::PostgresRecordsStore::Open(server.Url(db), error));
    if (!stores.back() || !stores.back()->Reach()) {
      state.SkipWithError("the benchmark database cannot be reached");
      return;
    }
  }
  int round = 0;
  std::atomic<int> failures{0};
  for (auto _ : state) {
    std::vector<std::jthread> line;
    for (int i = 0; i < stations; ++i) {
      line.emplace_back([&, i] {
        records::RecordsStore& store = *stores[static_cast<std::size_t>(i)];
        const std::string run = "s" + std::to_string(i) + "-r" + std::to_string(round);
        if (!records::TakeLineSerials(store, "0F3C", "7700", "0000A0000001", kPorts)) failures.fetch_add(1);
        for (int p = 0; p < kPorts; ++p)
          if (!store.Add(PortRecord(run, p))) failures.fetch_add(1);
      });
    }
    line.clear();
    ++round;
  }
  if (failures.load() != 0) state.SkipWithError("a record or a serial was not written");
  state.counters["records_per_s"] =
      benchmark::Counter(static_cast<double>(stations * kPorts), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LineOnPostgres)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(Scratch(), ec);
  return 0;
}
