// linetool_rig_window OUTDIR ROWS...: the station's window as `linetool`
// puts it together on this machine's bridges (no --sim), watched from a
// script. For each count in ROWS it waits until the grid shows that many
// ports, saves the window as OUTDIR/window_<n>.png (n from 1), prints the
// grid's rows and makes the file step-<n> in the working folder, so that the
// script can plug or pull a bridge before the next count is awaited. Run on
// the offscreen platform, as root, in the station's working folder. A message
// box the station shows is printed on stderr and closed. Exit 0 when every
// count was seen, 1 when one was not within 60 s.

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

#include "linetool/app/cli/host_station_backend.h"
#include "linetool/ui/station_session.h"
#include "linetool/ui/tools/pump.h"
#include "linetool/ui/station_style.h"
#include "linetool/ui/window_message_sink.h"
#include "platform/linux/host_services.h"

namespace {

namespace fs = std::filesystem;
using linetool::ui::tools::Pump;
using namespace linetool;


// The rows of the grid that show a bridge (its Status column, 1, is filled).
std::vector<std::vector<std::string>> ShownPorts(app::LineToolPresenter& presenter) {
  std::vector<std::vector<std::string>> shown;
  for (const auto& row : presenter.GridTexts())
    if (row.size() > 1 && !row[1].empty()) shown.push_back(row);
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ui::ApplyStationStyle(app);
  if (argc < 3) {
    std::cerr << "usage: linetool_rig_window OUTDIR ROWS...\n";
    return 2;
  }
  const fs::path out = argv[1];
  fs::create_directories(out);
  const std::string workdir = fs::current_path().string();
  ui::WindowMessageSink sink;
  platform::SteadyClock clock = platform::linux_host::MakeSystemClock();
  cli::HostStationBackend backend(clock, workdir);
  if (!backend.EventsError().empty()) {
    std::cerr << "rig_window: plug events are not followed: " << backend.EventsError() << "\n";
    return 1;
  }
  QTimer boxes;
  QObject::connect(&boxes, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      std::cerr << "rig_window: message: " << box->text().toStdString() << "\n";
      box->accept();
    }
  });
  boxes.start(100);
  int status = 0;
  {
    ui::StationSession session(sink, backend.Services(), workdir, backend.DriveRoot());
    session.Start();
    for (int step = 1; step < argc - 1; ++step) {
      const std::size_t want = std::stoul(argv[step + 1]);
      const bool seen = Pump([&] { return ShownPorts(session.Presenter()).size() == want; }, 60000);
      Pump([] { return false; }, 200);
      const auto shown = ShownPorts(session.Presenter());
      std::cout << "step " << step << ": " << shown.size() << " ports\n";
      for (const auto& row : shown) {
        for (std::size_t c = 0; c < row.size() && c < 7; ++c) std::cout << (c ? "\t" : "") << row[c];
        std::cout << "\n";
      }
      std::cout.flush();
      const fs::path picture = out / ("window_" + std::to_string(step) + ".png");
      if (!session.Window().grab().save(QString::fromStdString(picture.string()))) {
        std::cerr << "rig_window: cannot write " << picture << "\n";
        status = 1;
      }
      if (!seen) {
        std::cerr << "rig_window: step " << step << ": the grid shows " << shown.size() << " ports, not " << want
                  << ", after 60 s\n";
        status = 1;
        break;
      }
      std::ofstream(fs::path(workdir) / ("step-" + std::to_string(step)));
    }
    session.Window().close();
    backend.StopEvents();
  }
  return status;
}
