#pragma once
// A production station on the simulated world: the sample profile and its
// files in a fresh working directory, the presenter and the production run,
// and a clock that moves only while every thread sleeps, so no machine is too
// slow for a time-out and none waits through one.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "linetool/app/cli/sim_station_backend.h"
#include "linetool/app/tests/presenter_fixture.h"
#include "linetool/run/production_run.h"
#include "platform/linux/quiescent_clock.h"
#include "sim/station/world_description.h"
#include "tools/testing/test_paths.h"

namespace linetool::app::testing {

namespace fs = std::filesystem;

class RunRig {
 public:
  // Hands the station's services through a test's decorators before the run gets them.
  using ServicesHook = std::function<StationServices(StationServices)>;

  explicit RunRig(int bridges, ServicesHook hook = {}) : RunRig(sim::station::DefaultWorld(bridges), std::move(hook)) {}
  explicit RunRig(const sim::station::WorldSpec& spec, ServicesHook hook = {}) {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("linetool_run_" + std::to_string(rd()));
    fs::create_directories(root_ / "work");
    work_ = (root_ / "work").string();
    const fs::path res(test_support::kResourceDir);
    for (const char* f : {"kl_line_Tool v0.3.ini", "121105_10_0000.bin", "wr_test.bin"})
      fs::copy_file(res / f, root_ / "work" / f);
    fs::copy(res / "preload", root_ / "work" / "preload", fs::copy_options::recursive);
    backend_ = std::make_unique<cli::SimStationBackend>(spec, clock_, root_, work_);
    engine_ = std::make_unique<profile::CLineEngine>(sink, access_, work_);
    engine_->SetDriveRoot(backend_->DriveRoot());
    presenter_ = std::make_unique<LineToolPresenter>(*engine_, sink, chooser, dialogs);
    run_ = std::make_unique<ProductionRun>(*presenter_, hook ? hook(backend_->Services()) : backend_->Services());
    presenter_->AttachRun(run_.get());
  }
  ~RunRig() {
    presenter_->AttachRun(nullptr);
    run_.reset();
    presenter_.reset();
    engine_.reset();
    backend_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Start-up: the sample profile and the port refresh.
  void Initialise() { presenter_->Initialise(); }
  // Presses Start and waits for the run to end.
  void StartAndWait() {
    presenter_->Command(1022);
    run_->WaitIdle();
  }

  // Waits in station time until `done` holds; false when `limit` passed first.
  bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::minutes(2)) {
    const auto end = clock_.Now() + limit;
    while (!done()) {
      if (clock_.Now() >= end) return false;
      clock_.WaitFor(std::chrono::milliseconds(100));
    }
    return true;
  }

  LineToolPresenter& Presenter() { return *presenter_; }
  ProductionRun& Run() { return *run_; }
  profile::CLineEngine& Engine() { return *engine_; }
  sim::station::StationWorld& World() { return backend_->World(); }
  sim::station::SimVolumeSet& Volumes() { return backend_->VolumeSet(); }
  const std::string& Workdir() const { return work_; }
  // The folder that holds everything of this station (working directory, drive root, disks).
  const fs::path& Root() const { return root_; }
  platform::Clock& Clock() { return clock_; }

  platform::RecordingSink sink;
  ScriptedChooser chooser;
  ScriptedDialogs dialogs;

 private:
  fs::path root_;
  std::string work_;
  platform::linux_host::QuiescentClock clock_{platform::LocalTime{2026, 12, 8, 9, 30, 0, 0, 2}};
  platform::linux_host::HostPathAccess access_;
  std::unique_ptr<cli::SimStationBackend> backend_;
  std::unique_ptr<profile::CLineEngine> engine_;
  std::unique_ptr<LineToolPresenter> presenter_;
  std::unique_ptr<ProductionRun> run_;
};

// The bridges of a world in walk order.
inline std::vector<sim::station::BridgeSpec*> Bridges(sim::station::WorldSpec& spec) {
  return sim::station::BridgesOf(spec);
}

}  // namespace linetool::app::testing
