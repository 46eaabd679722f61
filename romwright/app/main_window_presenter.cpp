#include "romwright/app/main_window_presenter.h"

#include <filesystem>

#include "platform/path_access.h"

namespace romwright::app {

namespace {
constexpr std::uint32_t kTextBusy = 0;
constexpr std::uint32_t kTextNoProgrammer = 1;
constexpr std::uint32_t kTextNoManual = 20;
constexpr std::uint32_t kTextCaption = 90;
constexpr std::uint32_t kTextVersion = 91;
constexpr std::uint32_t kTextLogFile = 95;
constexpr std::uint32_t kTextManualFile = 97;
constexpr std::uint32_t kTextAboutPicture = 98;
constexpr std::uint32_t kTextMainPicture = 99;

bool IsChipOperation(std::uint32_t id) {
  switch (id) {
    case command::kAuto: case command::kChipErase: case command::kWriteChip:
    case command::kReadChip: case command::kVerifyChip: case command::kDetectChip:
      return true;
    default:
      return false;
  }
}

bool IsMaintenance(std::uint32_t id) {
  return id == command::kReadFirmwareVersion || id == command::kSelfTest ||
         id == command::kReadSerialNumber || id == command::kUpdateFirmware;
}
}  // namespace

MainWindowPresenter::MainWindowPresenter(MainWindowServices services, StatusView* view)
    : services_(std::move(services)),
      data_(SettingsFile(services_.settings_host_path, services_.settings_defaults_host_path), services_.host_workdir,
            services_.sink,
            DataCommandHooks{
                StatusHooks{[this](const std::string& t) { status_->ShowInfo(t); },
                            [this](const std::string& t) { status_->LogLine(t); }},
                [this](const std::string& t) { status_->ShowError(t); },
                [this] { return running_ || engine_.State() != link::kIdle; }}),
      link_(services_.usb, services_.sink),
      engine_(services_.clock) {
  status_ = std::make_unique<StatusDisplay>(services_.clock, LogPath(), view);
}

std::string MainWindowPresenter::LogPath() const {
  const std::string& setting = T(kTextLogFile);
  if (setting.empty() || services_.log_host_folder.empty()) return HostPathOfSetting(kTextLogFile);
  std::error_code ec;
  std::filesystem::create_directories(services_.log_host_folder, ec);  // a folder not made leaves the log unwritten
  return platform::ToHostPath(setting, services_.log_host_folder);
}

MainWindowPresenter::~MainWindowPresenter() {
  stop_.request_stop();
  engine_.AbortTransfer();
}

std::string MainWindowPresenter::HostPathOfSetting(std::uint32_t id) const {
  const std::string& setting = T(id);
  return setting.empty() ? std::string() : platform::ToHostPath(setting, services_.host_workdir);
}

std::string MainWindowPresenter::AboutPicturePath() const { return HostPathOfSetting(kTextAboutPicture); }
std::string MainWindowPresenter::MainPicturePath() const { return HostPathOfSetting(kTextMainPicture); }

std::string MainWindowPresenter::Title() {
  return Ready() ? data_.DataCommands().Title() : T(kTextCaption);
}

void MainWindowPresenter::ApplyLanguage() {
  const bool spi = Ready() && data_.ChipPanel().EraseEnabled();
  language_ = app::ApplyLanguage(data_.Texts(), {}, spi);
  if (Ready()) data_.DataCommands().SetCaption(T(kTextCaption));
  language_.title = Title();
  // The link timer starts again with its first tick at once.
  link_due_ = services_.clock.Now();
  timers_started_ = true;
}

void MainWindowPresenter::StartUp(const std::vector<std::string>& arguments) {
  ApplyLanguage();
  if (data_.StartUp() != ProgrammerData::StartResult::kReady) return;
  ProgrammerContext ctx{services_.clock, services_.sink, *status_, data_.Texts(), link_, engine_,
                        stop_.get_token()};
  ops_ = std::make_unique<ChipOperations>(ctx, data_.Buffer(), data_.Database());
  maintenance_ = std::make_unique<Maintenance>(ctx, T(kTextVersion));
  ops_->on_chip_detected = [this](const ChipRecord& chip) { data_.ChipPanel().SelectRecord(chip); };
  ops_->on_buffer_read = [this] { data_.DataCommands().Redraw(true); };
  SyncChip();
  ApplyLanguage();

  if (!link_.OpenLink()) {
    status_->ShowError(T(kTextNoProgrammer));
    services_.sink.Show(services_.no_programmer_hint.empty() ? T(kTextNoProgrammer)
                                                             : T(kTextNoProgrammer) + "\n" + services_.no_programmer_hint);
  }
  engine_.SetLink(&link_);
  if (arguments.size() == 1) data_.DataCommands().LoadCommandLineFile(arguments.front());
}

void MainWindowPresenter::SyncChip() {
  if (!Ready()) return;
  ops_->SetSelectedChip(data_.SelectedChip());
  language_.erase_enabled = data_.ChipPanel().EraseEnabled();
}

void MainWindowPresenter::SwitchLanguage(std::string_view language) {
  const std::string info = app::SwitchLanguage(data_.Texts(), data_.Settings(), language);
  ApplyLanguage();
  status_->ShowInfo(info);
}

bool MainWindowPresenter::PollTimers() {
  if (!timers_started_) return false;
  bool changed = false;
  const auto now = services_.clock.Now();
  if (now >= link_due_) {
    link_due_ = now + kLinkPeriod;
    const std::string& text = LinkStateText(data_.Texts(), link_.OpenLink() != 0);
    if (text != link_text_) {
      link_text_ = text;
      ++link_text_changes_;
      changed = true;
    }
  }
  if (Ready() && now >= caret_due_) {
    caret_due_ = now + kCaretPeriod;
    data_.HexView().ToggleCaret();
    changed = true;
  }
  return changed;
}

bool MainWindowPresenter::RefuseWhileBusy() {
  if (!running_ && engine_.State() == link::kIdle) return false;
  services_.sink.Show(T(kTextBusy));
  status_->LogLine(T(kTextBusy));
  return true;
}

bool MainWindowPresenter::CommandEnabled(std::uint32_t id) const {
  switch (id) {
    case command::kExit: case command::kEnglish: case command::kSimpleChinese:
    case command::kUserManual: case command::kAbout: case command::kSystemAbout:
      return true;
    case command::kChipErase:
      return Ready() && language_.erase_enabled;
    default:
      return Ready();
  }
}

bool MainWindowPresenter::RunOperation(std::uint32_t id) {
  if (!Ready()) return true;
  if (RefuseWhileBusy()) return true;
  SyncChip();
  running_ = true;
  if (IsChipOperation(id)) {
    ops_->Dispatch(static_cast<int>(id));
  } else if (id == command::kReadFirmwareVersion) {
    maintenance_->ReadFirmwareVersion();
  } else if (id == command::kSelfTest) {
    maintenance_->SelfTest();
  } else if (id == command::kReadSerialNumber) {
    maintenance_->ReadSerialNumber();
  }
  running_ = false;
  // Detect may have chosen another chip; a read, also one that failed half
  // way, has changed the buffer.
  SyncChip();
  if (IsChipOperation(id)) data_.DataCommands().Redraw(true);
  // A failed Verify (alone or in Auto) shows the byte that differs.
  if ((id == command::kVerifyChip || id == command::kAuto) && ops_->VerifyMismatch()) {
    data_.HexView().GoToAddress(*ops_->VerifyMismatch());
  }
  return true;
}

bool MainWindowPresenter::Command(std::uint32_t id) {
  if (IsChipOperation(id) || (IsMaintenance(id) && id != command::kUpdateFirmware)) return RunOperation(id);
  switch (id) {
    case command::kByteSwap:
      if (Ready()) data_.DataCommands().SwapBytes();
      return true;
    case command::kEnglish:
      SwitchLanguage(kLanguageEnglish);
      return true;
    case command::kSimpleChinese:
      SwitchLanguage(kLanguageChinese);
      return true;
    case command::kUserManual:
      UserManual();
      return true;
    default:
      return false;
  }
}

bool MainWindowPresenter::UpdateFirmwareStart() {
  if (!Ready()) return false;
  if (running_ || maintenance_->UpdateRunning()) {
    RefuseWhileBusy();
    return false;
  }
  return !RefuseWhileBusy();
}

bool MainWindowPresenter::UpdateFirmwarePicked(const std::optional<std::string>& host_path) {
  if (!Ready() || RefuseWhileBusy()) return false;
  running_ = true;
  const bool ok = maintenance_->UpdateFirmware(host_path);
  running_ = false;
  return ok;
}

bool MainWindowPresenter::TypeChanged(std::string_view type_text) {
  if (!Ready() || RefuseWhileBusy()) return false;
  data_.ChipPanel().TypeChanged(type_text);
  SyncChip();
  return true;
}

bool MainWindowPresenter::ManufacturerChanged(std::string_view manufacturer) {
  if (!Ready() || RefuseWhileBusy()) return false;
  data_.ChipPanel().ManufacturerChanged(manufacturer);
  SyncChip();
  return true;
}

bool MainWindowPresenter::ChipChanged(std::string_view chip_name) {
  if (!Ready() || RefuseWhileBusy()) return false;
  data_.ChipPanel().ChipChanged(chip_name);
  SyncChip();
  return true;
}

bool MainWindowPresenter::ChipSearched(const std::string& chip_name) {
  if (!Ready() || RefuseWhileBusy()) return false;
  const bool ok = data_.ChipPanel().SelectByName(chip_name);
  SyncChip();
  return ok;
}

bool MainWindowPresenter::HexType(char c) {
  if (!Ready() || running_ || engine_.State() != link::kIdle) return false;
  if (!data_.HexView().Type(c)) return false;
  data_.DataCommands().Redraw(true);
  return true;
}

ChipSearchPresenter MainWindowPresenter::NewChipSearch() {
  return ChipSearchPresenter(data_.Database(), data_.Texts(), services_.sink,
                             StatusHooks{[this](const std::string& t) { status_->ShowInfo(t); },
                                         [this](const std::string& t) { status_->LogLine(t); }});
}

void MainWindowPresenter::UserManual() {
  const std::string path = HostPathOfSetting(kTextManualFile);
  if (!path.empty() && services_.opener.Open(path)) return;
  services_.opener.RegisterHelpViewer();
  if (!path.empty() && services_.opener.Open(path)) return;
  services_.sink.Show(T(kTextNoManual));
}

bool MainWindowPresenter::RequestClose() {
  if (!running_) return true;
  close_pending_ = true;
  stop_.request_stop();
  return false;
}

}  // namespace romwright::app
