// linetool: the production station's window.

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "linetool/app/cli/cli_command.h"
#include "linetool/app/cli/host_station_backend.h"
#include "linetool/app/cli/sim_station_backend.h"
#include "linetool/app/cli/station_backend.h"
#include "linetool/app/scaled_clock.h"
#include "linetool/app/single_instance.h"
#include "linetool/ui/line_tool_window.h"
#include "linetool/ui/sim_station_control.h"
#include "linetool/ui/sim_station_panel.h"
#include "linetool/ui/station_session.h"
#include "linetool/ui/station_style.h"
#include "linetool/ui/window_message_sink.h"
#include "platform/linux/host_services.h"
#include "platform/linux/instance_lock_file.h"

namespace {

using namespace linetool;

constexpr int kExitUsage = 2;

void PrintUsage(std::ostream& out) {
  out << "Usage: linetool [--sim[=N|=FILE]] [--workdir DIR] [Qt options]\n"
         "\n"
         "The VX7700 production station's window: the settings panel, the stage\n"
         "switches, the 16-port status grid, Start, Safely Remove and the counters.\n"
         "\n"
         "Options:\n"
         "  --sim          run on the built-in simulated station (four bridges)\n"
         "  --sim=N        simulated station with N bridges (1-64), 50 times faster\n"
         "                 than real time; a \"Simulated station\" panel plugs and\n"
         "                 pulls bridges and gives them faults\n"
         "  --sim=FILE     simulated station described by a JSON world file\n"
         "  --workdir DIR  the station's working directory, where the profile\n"
         "                 \"kl_line_Tool v0.3.ini\" and its files are (default: the\n"
         "                 current directory)\n"
         "  --help         show this help\n"
         "\n"
         "Without --sim the station works on the bridges plugged into this machine,\n"
         "which needs root (see linetool-cli run --help).\n"
         "\n"
         "Exit status: 18 when the window was closed, 2 for bad options or when\n"
         "another station is running.\n";
}

// The window over a station's services until it is closed.
int RunWindow(QApplication& app, ui::WindowMessageSink& sink, const app::StationServices& services,
              const std::string& workdir, const std::string& drive_root, cli::SimStationBackend* sim,
              const std::function<void()>& before_teardown) {
  int exit_code = 0;
  {
    ui::StationSession session(sink, services, workdir, drive_root);
    QObject::connect(&session.Window(), &ui::LineToolWindow::Closed, &app, [&app](int code) { app.exit(code); });
    session.Start();
    std::unique_ptr<ui::SimStationControl> control;
    std::unique_ptr<ui::SimStationPanel> panel;
    if (sim != nullptr) {
      control = std::make_unique<ui::SimStationControl>(sim->World(), sim->VolumeSet());
      panel = std::make_unique<ui::SimStationPanel>(*control, &session.Window());
      panel->move(session.Window().geometry().topRight() + QPoint(12, 0));
      panel->show();
    }
    exit_code = app.exec();
    panel.reset();
    before_teardown();
  }
  return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace linetool;
  QApplication app(argc, argv);
  ui::ApplyStationStyle(app);
  const QStringList arguments = QApplication::arguments();
  cli::GlobalOptions options;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const std::string a = arguments[i].toStdString();
    if (a == "--help" || a == "-h") {
      PrintUsage(std::cout);
      return 0;
    }
    if (a == "--sim") {
      options.sim = true;
    } else if (a.rfind("--sim=", 0) == 0) {
      options.sim = true;
      options.sim_spec = a.substr(6);
    } else if (a == "--workdir" && i + 1 < arguments.size()) {
      options.workdir = arguments[++i].toStdString();
    } else if (a.rfind("--workdir=", 0) == 0) {
      options.workdir = a.substr(10);
    } else {
      std::cerr << "linetool: unknown argument " << a << "\n";
      PrintUsage(std::cerr);
      return kExitUsage;
    }
  }
  const std::string workdir = options.workdir.empty() ? platform::linux_host::CurrentDirectory()
                                                      : std::filesystem::absolute(options.workdir).string();
  if (!std::filesystem::is_directory(workdir)) {
    std::cerr << "linetool: no such working directory: " << workdir << "\n";
    return kExitUsage;
  }
  ui::WindowMessageSink sink;

  if (options.sim) {
    std::ostringstream ignored;
    cli::CliContext ctx{options, workdir, std::cout, ignored, sink};
    std::string error;
    const auto world = cli::SimWorldOf(ctx, error);
    if (!world) {
      std::cerr << "linetool: " << error << "\n";
      return kExitUsage;
    }
    // One simulated station per working directory.
    platform::linux_host::InstanceLockFile lock((std::filesystem::path(workdir) / "LineTool.lock").string());
    if (!app::ClaimSingleInstance(lock, sink)) return kExitUsage;
    std::random_device rd;
    const auto root = std::filesystem::temp_directory_path() / ("linetool-window-" + std::to_string(rd()));
    int exit_code = 0;
    {
      platform::SteadyClock calendar = platform::linux_host::MakeSystemClock();
      app::ScaledClock clock(calendar, app::kSimTimeFactor);
      cli::SimStationBackend backend(*world, clock, root, workdir);
      exit_code = RunWindow(app, sink, backend.Services(), workdir, backend.DriveRoot(), &backend, [] {});
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return exit_code;
  }

  // One station per machine.
  platform::linux_host::InstanceLockFile lock(platform::linux_host::MachineLockPath("linetool.lock"));
  if (!app::ClaimSingleInstance(lock, sink)) return kExitUsage;
  if (const auto missing = platform::linux_host::MissingRunCapabilities(); !missing.empty()) {
    std::string text = "A production run on this host needs root; this station lacks";
    for (const auto& cap : missing) text += " " + cap;
    text += ". Bridges can be looked at, not changed.";
    sink.Show(text, "LineTool", platform::MessageIcon::kWarning);
  }
  platform::SteadyClock clock = platform::linux_host::MakeSystemClock();
  cli::HostStationBackend backend(clock, workdir);
  if (!backend.EventsError().empty())
    sink.Show("Plugs and unplugs are not followed (" + backend.EventsError() + ").", "LineTool",
              platform::MessageIcon::kWarning);
  return RunWindow(app, sink, backend.Services(), workdir, backend.DriveRoot(), nullptr,
                   [&backend] { backend.StopEvents(); });
}
