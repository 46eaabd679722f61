#pragma once
// The station's real window on a simulated station, for widget tests on the
// offscreen platform: the sample profile and its files in a fresh working
// directory, the clock that moves only while every thread sleeps (so no test
// waits through a product time-out), the session as `linetool` builds it and
// the simulated station's panel logic.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "linetool/app/cli/sim_station_backend.h"
#include "linetool/app/control_ids.h"
#include "linetool/ui/port_grid_view.h"
#include "linetool/ui/sim_station_control.h"
#include "linetool/ui/station_session.h"
#include "linetool/ui/window_message_sink.h"
#include "platform/linux/quiescent_clock.h"
#include "sim/station/world_description.h"
#include "tools/testing/test_paths.h"

namespace linetool::ui::testing {

namespace fs = std::filesystem;

// Real time a test waits at most for the window to get somewhere.
inline constexpr int kPatienceMs = 60000;

class WindowRig {
 public:
  // With a store in `records` (which outlives the rig) the runs write unit
  // records and the window shows the last of them.
  explicit WindowRig(int bridges, const app::RecordsSetting& records = {}) {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("linetool_window_" + std::to_string(rd()));
    work_ = root_ / "work";
    fs::create_directories(work_);
    const fs::path res(test_support::kResourceDir);
    for (const char* f : {"kl_line_Tool v0.3.ini", "121105_10_0000.bin", "wr_test.bin"})
      fs::copy_file(res / f, work_ / f);
    fs::copy(res / "preload", work_ / "preload", fs::copy_options::recursive);
    backend_ = std::make_unique<cli::SimStationBackend>(sim::station::DefaultWorld(bridges), clock_, root_,
                                                        work_.string());
    session_ = std::make_unique<StationSession>(sink, backend_->Services(), work_.string(), backend_->DriveRoot(),
                                                records);
    control_ = std::make_unique<SimStationControl>(backend_->World(), backend_->VolumeSet());
  }
  ~WindowRig() {
    session_.reset();
    control_.reset();
    backend_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void Start() {
    session_->Start();
    QApplication::processEvents();
  }
  // Lets the window thread work (sleeping in between, so the clock can move)
  // until `done` holds.
  static bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, kPatienceMs); }
  // Presses Start and waits until the run's end has reached the window: the
  // progress at 100 % and the counters the run left, which it shows only
  // after the daily log's records are on the disk.
  bool RunToEnd() {
    const int before = session_->Run().RunsFinished();
    if (!Window().Click(1022)) return false;
    return WaitFor([&] { return session_->Run().RunsFinished() > before && !session_->Run().RunActive(); }) &&
           WaitFor([&] { return Window().Control(1028)->property("text").toString() == "100 %"; }) &&
           WaitFor([&] {
             const auto total = std::to_string(session_->Presenter().CounterValues().total);
             return Window().Control(1026)->property("text").toString().toStdString() == total;
           });
  }
  // Does `act` on the next modal window (dialog or box) once it is up; with
  // `name`, on the next one of that object name.
  static void OnNextModal(std::function<void(QWidget&)> act, const QString& name = {}) {
    // The poll holds itself only weakly; each pending timer holds it, so it
    // is freed once it has acted.
    auto poll = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weak = poll;
    *poll = [weak, act, name] {
      auto self = weak.lock();
      if (!self) return;
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || !modal->isVisible() || (!name.isEmpty() && modal->objectName() != name)) {
        QTimer::singleShot(10, [self] { (*self)(); });
        return;
      }
      act(*modal);
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
  }

  // The colour painted in the middle of a cell's left margin (away from its text).
  QColor PaintedCellColour(int row, int column) {
    PortGridView& grid = Window().Grid();
    const QRect cell = grid.visualRect(grid.Model().index(row, column));
    const QImage image = grid.viewport()->grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(static_cast<int>((cell.left() + 3) * ratio), static_cast<int>(cell.center().y() * ratio));
  }

  LineToolWindow& Window() { return session_->Window(); }
  StationSession& Session() { return *session_; }
  SimStationControl& Sim() { return *control_; }
  sim::station::StationWorld& World() { return backend_->World(); }
  const fs::path& Workdir() const { return work_; }

  WindowMessageSink sink;

 private:
  fs::path root_;
  fs::path work_;
  platform::linux_host::QuiescentClock clock_{platform::LocalTime{2026, 12, 8, 9, 30, 0, 0, 2}};
  std::unique_ptr<cli::SimStationBackend> backend_;
  std::unique_ptr<StationSession> session_;
  std::unique_ptr<SimStationControl> control_;
};

// A cell's text as the grid shows it (row as shown, after any sort).
inline QString GridText(WindowRig& rig, int row, int column) {
  PortGridView& grid = rig.Window().Grid();
  return grid.Model().data(grid.Model().index(row, column), Qt::DisplayRole).toString();
}

inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Logs in through the login dialog: typed into its edit, then OK.
inline void LogIn(WindowRig& rig, const QString& password) {
  WindowRig::OnNextModal([password](QWidget& dialog) {
    auto* edit = dialog.findChild<QLineEdit*>("password");
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, password);
    QTest::mouseClick(dialog.findChild<QPushButton*>("ok"), Qt::LeftButton);
  });
  rig.Window().Click(app::ids::kLock);
}

}  // namespace linetool::ui::testing
