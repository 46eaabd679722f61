#include "linetool/ui/station_session.h"

#include "linetool/ui/window_message_sink.h"

namespace linetool::ui {

StationSession::StationSession(WindowMessageSink& sink, const app::StationServices& services,
                               const std::string& host_workdir, const std::string& drive_root,
                               const app::RecordsSetting& records)
    : engine_(sink, access_, host_workdir),
      dialogs_([this](const std::string& path) { return engine_.HostPath(path); }),
      presenter_(engine_, sink, dialogs_, dialogs_) {
  engine_.SetDriveRoot(drive_root);
  run_ = std::make_unique<app::ProductionRun>(presenter_, services);
  presenter_.AttachRun(run_.get());
  run_->SetEventDispatch(dispatch_.Poster());
  if (records.store != nullptr) {
    run_->SetRecords(records);
    last_records_ = std::make_unique<app::LastRecords>(*records.store, records.station);
    presenter_.AttachLastRecords(last_records_.get());
  }
  window_ = std::make_unique<LineToolWindow>(presenter_, dialogs_, sink);
}

StationSession::~StationSession() {
  run_->SetEventDispatch({});
  run_->StopAllJobs();
  window_.reset();
  presenter_.AttachLastRecords(nullptr);
  last_records_.reset();
  presenter_.AttachRun(nullptr);
  run_.reset();
}

void StationSession::Start() {
  presenter_.Initialise();
  window_->Sync();
  window_->show();
}

}  // namespace linetool::ui
