// linetool: the production station's window.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "linetool/app/cli/cli_command.h"
#include "linetool/app/cli/host_station_backend.h"
#include "linetool/app/cli/loop_station_backend.h"
#include "linetool/app/cli/records_option.h"
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
#include "tools/cli/interruption.h"
#include "tools/qt/window_start.h"

namespace {

using namespace linetool;

constexpr int kExitUsage = command_line::kExitUsage;

// After SIGTERM or Ctrl-C: the boxes and dialogs still up are dismissed as by
// Escape, then the window is closed as by its Exit once it is shown; again
// until it has closed, since a box the station had queued may come up
// meanwhile.
void CloseOnSignal(const QPointer<ui::LineToolWindow>& guarded, const std::shared_ptr<bool>& closed) {
  ui::LineToolWindow* window = guarded.data();
  if (window == nullptr || *closed) return;
  for (int i = 0; i < 16; ++i) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == window) break;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
  }
  if (window->isVisible()) window->close();
  QTimer::singleShot(50, window, [guarded, closed] { CloseOnSignal(guarded, closed); });
}

// The window over a station's services until it is closed.
int RunWindow(QApplication& app, command_line::Interruption& interruption, ui::WindowMessageSink& sink,
              const app::StationServices& services, const std::string& workdir, const std::string& drive_root,
              const app::RecordsSetting& records, cli::SimStationBackend* sim,
              const std::function<void()>& before_teardown) {
  int exit_code = 0;
  {
    ui::StationSession session(sink, services, workdir, drive_root, records);
    const auto closed = std::make_shared<bool>(false);
    QObject::connect(&session.Window(), &ui::LineToolWindow::Closed, &app, [&app, closed](int code) {
      *closed = true;
      app.exit(code);
    });
    // SIGTERM or Ctrl-C closes the window as its Exit does: the jobs stop at
    // their next safe point and the station's folders and mounts go. A second
    // signal ends the program at once.
    QPointer<ui::LineToolWindow> window = &session.Window();
    interruption.OnStop([window, closed] {
      QMetaObject::invokeMethod(window, [window, closed] { CloseOnSignal(window, closed); }, Qt::QueuedConnection);
    });
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
    interruption.OnStop({});
    panel.reset();
    before_teardown();
  }
  return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace linetool;
  // Before any thread: the signals are taken on a thread of their own.
  command_line::Interruption interruption;
  CLI::App command_line_app(
      "The VX7700 production station's window: the settings panel, the stage\n"
      "switches, the 16-port status grid, Start, Safely Remove and the counters.",
      "linetool");
  command_line::SetUp(command_line_app);
  cli::GlobalOptions options;
  cli::AddStationOptions(command_line_app, options);
  command_line_app.footer(
      "With --sim a \"Simulated station\" panel beside the window plugs and pulls\n"
      "bridges and gives them faults; a world FILE whose bridges have\n"
      "\"disk_backing\": \"loop\" runs, as root and in real time, on loop devices over\n"
      "disk images in its \"disk_folder\" (in the working directory), without the\n"
      "panel. Without --sim the station works on the\n"
      "bridges plugged into this machine, which needs root (see linetool-cli run\n"
      "--help). Qt's own options (-platform, -style, ...) are taken as well.\n"
      "\n"
      "--records STORE keeps one record per unit and run beside the daily log, as\n"
      "linetool-cli does: a SQLite file (relative to --workdir, made on first use) or\n"
      "a postgresql:// URL. The window's menu (right click) then has \"Last\n"
      "Records...\": the station's newest 50 records. --line-serials and\n"
      "--station-name work as in linetool-cli.\n"
      "\n"
      "SIGTERM or Ctrl-C closes the window as its Exit does, dismissing the boxes\n"
      "still up as Escape would; a second one ends it at once.\n"
      "\n"
      "Exit status: 18 when the window was closed, 2 for bad options or when\n"
      "another station is running.\n");
  std::optional<QApplication> application;
  if (const auto done = qt_views::StartApplication(command_line_app, argc, argv, application)) return *done;
  QApplication& app = *application;
  ui::ApplyStationStyle(app);
  std::string error = cli::RecordsOptionsError(options);
  const std::string workdir = error.empty() ? cli::WorkdirOf(options, error) : std::string();
  if (workdir.empty()) {
    std::cerr << "linetool: " << error << "\n";
    return kExitUsage;
  }
  ui::WindowMessageSink sink;
  std::ostringstream ignored;
  cli::CliContext ctx{options, workdir, std::cout, ignored, sink};
  // The records store goes after the window that writes to it.
  std::unique_ptr<records::RecordsStore> store;
  if (!options.records.empty()) {
    store = cli::OpenRecordsOption(ctx, error);
    if (!store) {
      std::cerr << "linetool: " << error << "\n";
      return kExitUsage;
    }
  }
  const app::RecordsSetting records = cli::RecordsSettingOf(ctx, store.get());

  if (options.sim) {
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
    if (sim::station::HasLoopDisks(*world)) {
      // Simulated bridges over real loop devices, in real time, as
      // linetool-cli run has them; the images stay in the world's disk folder.
      if (const auto missing = platform::linux_host::MissingRunCapabilities(); !missing.empty()) {
        std::cerr << "linetool: loop-backed disks need root: it lacks";
        for (const auto& cap : missing) std::cerr << " " << cap;
        std::cerr << "\n";
        return kExitUsage;
      }
      platform::SteadyClock clock = platform::linux_host::MakeSystemClock();
      {
        cli::LoopStationBackend backend(*world, clock, world->disk_folder, root / "drives", workdir);
        if (!backend.Error().empty()) {
          std::cerr << "linetool: no loop device for the world's disks: " << backend.Error() << "\n";
          exit_code = kExitUsage;
        } else {
          exit_code = RunWindow(app, interruption, sink, backend.Services(), workdir, backend.DriveRoot(), records,
                                nullptr, [] {});
        }
      }
      std::error_code ec;
      std::filesystem::remove_all(root, ec);
      return exit_code;
    }
    {
      platform::SteadyClock calendar = platform::linux_host::MakeSystemClock();
      app::ScaledClock clock(calendar, app::kSimTimeFactor);
      cli::SimStationBackend backend(*world, clock, root, workdir);
      exit_code =
          RunWindow(app, interruption, sink, backend.Services(), workdir, backend.DriveRoot(), records, &backend, [] {});
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return exit_code;
  }

  // One station per machine.
  platform::linux_host::InstanceLockFile lock(platform::linux_host::MachineLockPath("linetool.lock"));
  if (!app::ClaimSingleInstance(lock, sink)) return kExitUsage;
  if (const auto missing = platform::linux_host::MissingRunCapabilities(); !missing.empty()) {
    std::string text =
        "A production run on this host needs root, or the capabilities of README.capabilities; this station lacks";
    for (const auto& cap : missing) text += " " + cap;
    text += ". Bridges can be looked at, not changed.";
    sink.Show(text, "LineTool", platform::MessageIcon::kWarning);
  }
  platform::SteadyClock clock = platform::linux_host::MakeSystemClock();
  cli::HostStationBackend backend(clock, workdir);
  if (!backend.EventsError().empty())
    sink.Show("Plugs and unplugs are not followed (" + backend.EventsError() + ").", "LineTool",
              platform::MessageIcon::kWarning);
  return RunWindow(app, interruption, sink, backend.Services(), workdir, backend.DriveRoot(), records, nullptr,
                   [&backend] { backend.StopEvents(); });
}
