#pragma once
// The station behind the window, put together as the program starts it: the
// engine over the working directory, the dialogs, the presenter, the
// production run with its plug events handed to the window thread, the
// station's last records when it keeps them, and the main window. Used by
// `linetool`, the screenshot tool and the widget tests.

#include <memory>
#include <string>

#include "linetool/app/last_records.h"
#include "linetool/app/line_tool_presenter.h"
#include "linetool/profile/line_engine.h"
#include "linetool/run/production_run.h"
#include "linetool/run/station_services.h"
#include "linetool/ui/line_tool_window.h"
#include "linetool/ui/station_dialogs.h"
#include "linetool/ui/window_thread_dispatch.h"
#include "platform/linux/host_services.h"

namespace linetool::ui {

class WindowMessageSink;

class StationSession {
 public:
  // With a store in `records` (which outlives the session) every run writes
  // its records there, and the window's Last Records shows them.
  StationSession(WindowMessageSink& sink, const app::StationServices& services, const std::string& host_workdir,
                 const std::string& drive_root, const app::RecordsSetting& records = {});
  // Stops every job before the window and the run go.
  ~StationSession();
  StationSession(const StationSession&) = delete;
  StationSession& operator=(const StationSession&) = delete;

  // Start-up of the window: the default profile, the port refresh, then shown.
  void Start();

  profile::CLineEngine& Engine() { return engine_; }
  app::LineToolPresenter& Presenter() { return presenter_; }
  app::ProductionRun& Run() { return *run_; }
  LineToolWindow& Window() { return *window_; }
  StationDialogs& Dialogs() { return dialogs_; }
  // Null when the station keeps no records.
  app::LastRecords* Records() { return last_records_.get(); }

 private:
  platform::linux_host::HostPathAccess access_;
  profile::CLineEngine engine_;
  StationDialogs dialogs_;
  app::LineToolPresenter presenter_;
  std::unique_ptr<app::ProductionRun> run_;
  std::unique_ptr<app::LastRecords> last_records_;
  WindowThreadDispatch dispatch_;
  std::unique_ptr<LineToolWindow> window_;
};

}  // namespace linetool::ui
