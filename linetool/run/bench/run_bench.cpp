// The production run on 1 and on 16 identical simulated bridges (500 GB disks,
// the sample profile with every stage on). Each run is timed twice: in wall
// time (what the computer spends) and in product time on the simulated
// station's clock, which moves only while every thread sleeps (what the run
// would take on a station whose computer is infinitely fast: the devices'
// times and the station's own waits). run_run_bench prints the ratios 16/1.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "linetool/app/cli/sim_station_backend.h"
#include "linetool/app/control_ids.h"
#include "linetool/app/line_tool_presenter.h"
#include "linetool/app/no_window_dialogs.h"
#include "linetool/run/production_run.h"
#include "platform/linux/host_services.h"
#include "platform/linux/quiescent_clock.h"
#include "platform/message_sink.h"
#include "sim/station/world_description.h"
#include "tools/testing/test_paths.h"

namespace {

namespace fs = std::filesystem;
using namespace linetool;

constexpr std::uint64_t kDiskSize = 500107862016ULL;

sim::station::WorldSpec IdenticalBridges(int n) {
  sim::station::WorldSpec world = sim::station::DefaultWorld(n);
  int i = 0;
  for (sim::station::BridgeSpec* b : sim::station::BridgesOf(world)) {
    b->disk_size = kDiskSize;
    b->ata_serial = "BENCH" + std::to_string(i++);
  }
  return world;
}

// A station after start-up: the sample profile's files in a fresh working
// directory and the ports refreshed.
class Station {
 public:
  explicit Station(int bridges) {
    root_ = fs::temp_directory_path() / ("linetool_run_bench." + std::to_string(std::random_device{}()));
    fs::create_directories(root_ / "work");
    const fs::path res(test_support::kResourceDir);
    for (const char* f : {"kl_line_Tool v0.3.ini", "121105_10_0000.bin", "wr_test.bin"})
      fs::copy_file(res / f, root_ / "work" / f);
    fs::copy(res / "preload", root_ / "work" / "preload", fs::copy_options::recursive);
    const std::string work = (root_ / "work").string();
    backend_ = std::make_unique<cli::SimStationBackend>(IdenticalBridges(bridges), clock, root_, work);
    engine_ = std::make_unique<profile::CLineEngine>(sink_, access_, work);
    engine_->SetDriveRoot(backend_->DriveRoot());
    presenter = std::make_unique<app::LineToolPresenter>(*engine_, sink_, dialogs_, dialogs_);
    run = std::make_unique<app::ProductionRun>(*presenter, backend_->Services());
    presenter->AttachRun(run.get());
    presenter->Initialise();
  }
  ~Station() {
    presenter->AttachRun(nullptr);
    run.reset();
    presenter.reset();
    engine_.reset();
    backend_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  platform::linux_host::QuiescentClock clock;
  std::unique_ptr<app::LineToolPresenter> presenter;
  std::unique_ptr<app::ProductionRun> run;

 private:
  fs::path root_;
  platform::RecordingSink sink_;
  platform::linux_host::HostPathAccess access_;
  app::NoWindowDialogs dialogs_;
  std::unique_ptr<cli::SimStationBackend> backend_;
  std::unique_ptr<profile::CLineEngine> engine_;
};

void BM_ProductionRun(benchmark::State& state) {
  const int bridges = static_cast<int>(state.range(0));
  double product_seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto station = std::make_unique<Station>(bridges);
    const auto start = station->clock.Now();
    state.ResumeTiming();
    station->presenter->Command(app::ids::kStart);
    station->run->WaitIdle();
    state.PauseTiming();
    product_seconds += static_cast<double>((station->clock.Now() - start).count()) / 1000.0;
    const app::Counters c = station->presenter->CounterValues();
    if (c.pass != bridges || c.total != bridges) state.SkipWithError("not every bridge passed");
    station.reset();
    state.ResumeTiming();
  }
  state.counters["product_s"] = benchmark::Counter(product_seconds, benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_ProductionRun)->Arg(1)->Arg(16)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
