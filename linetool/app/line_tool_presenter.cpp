#include "linetool/app/line_tool_presenter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "linetool/app/about_dlg.h"
#include "linetool/app/control_ids.h"
#include "linetool/app/debug_dlg.h"
#include "linetool/app/last_records.h"
#include "linetool/app/station_run.h"
#include "linetool/profile/serial_number.h"
#include "platform/path_access.h"

namespace linetool::app {

namespace {

using profile::MessageId;
using profile::ProfileSettings;
using profile::SetText;
using profile::TextOf;

constexpr std::string_view kDefaultProfile = "kl_line_Tool v0.3.ini";
constexpr const char* kIniFilter = "Config .ini File (*.ini)|*.ini||";
constexpr const char* kIniExtension = "INI";
constexpr const char* kBinFilter = "Firmware .bin File (*.bin)|*.bin||";
constexpr const char* kFolderTitle = "Select A Directory:";
constexpr int kWindowCloseExitCode = 18;

// Lock button icons.
constexpr int kIconUnlocked = 164;
constexpr int kIconLocked = 165;

const std::vector<std::string> kIdleTimerItems = {"Never", "3 Min", "5 Min", "10 Min", "15 Min", "20 Min",
                                                  "30 Min", "1 Hr", "2 Hr", "3 Hr", "4 Hr", "5 Hr"};

// Controls whose caption or tooltip comes from the station's texts.
struct Caption {
  int id;
  MessageId text;
};
constexpr Caption kCaptions[] = {
    {ids::kVersion, MessageId::kVersionLine},
    {ids::kWarning, MessageId::kWarningMessage},
    {ids::kGroupDeviceConfiguration, MessageId::kGroupDeviceConfiguration},
    {ids::kGroupDeviceFunction, MessageId::kGroupDeviceFunction},
    {ids::kGroupFwBrowser, MessageId::kGroupFwBrowser},
    {ids::kGroupPreloadBrowser, MessageId::kGroupPreloadBrowser},
    {ids::kLabelFormat, MessageId::kLabelFormat},
    {ids::kLabelVendorId, MessageId::kLabelVendorId},
    {ids::kLabelProductId, MessageId::kLabelProductId},
    {ids::kLabelRevision, MessageId::kLabelDeviceRevision},
    {ids::kLabelSerialNumber, MessageId::kLabelSerialNumber},
    {ids::kLabelSerialMode, MessageId::kLabelSnIncrease},
    {ids::kLabelManufacturer, MessageId::kLabelManufacturerString},
    {ids::kLabelProduct, MessageId::kLabelProductString},
    {ids::kLabelIdleTimer, MessageId::kLabelIdleTimer},
    {ids::kLabelFileSystem, MessageId::kLabelType},
    {ids::kLabelDriveLabel, MessageId::kLabelDriveLabel},
    {ids::kLabelPass, MessageId::kLabelPass},
    {ids::kLabelFail, MessageId::kLabelFail},
    {ids::kLabelTotal, MessageId::kLabelTotal},
    {ids::kLabelProgressBar, MessageId::kLabelProgressBar},
    {ids::kLabelProgress, MessageId::kLabelProgress},
    {ids::kAutoMode, MessageId::kCheckAutoMode},
    {ids::kUpdateConfig, MessageId::kCheckUpdateConfig},
    {ids::kUpdateFw, MessageId::kCheckUpdateFw},
    {ids::kReloadFw, MessageId::kCheckReloadFw},
    {ids::kPartitionFormat, MessageId::kCheckPartitionFormat},
    {ids::kWrTest, MessageId::kCheckWrTest},
    {ids::kPreload, MessageId::kCheckPreloadFiles},
};
constexpr Caption kTooltips[] = {
    {ids::kLoadIni, MessageId::kTipLoadIni},
    {ids::kSaveIni, MessageId::kTipSaveIni},
    {ids::kCheckConfig, MessageId::kTipCheckConfig},
    {ids::kExit, MessageId::kTipClose},
    {ids::kMinimise, MessageId::kTipMinimise},
    {ids::kMoreConfig, MessageId::kTipMoreConfig},
    {ids::kBrowseFw, MessageId::kTipBrowseFw},
    {ids::kBrowsePreload, MessageId::kTipBrowsePreload},
    {ids::kStart, MessageId::kTipStart},
    {ids::kSafelyRemove, MessageId::kTipSafelyRemove},
    {ids::kClear, MessageId::kTipClearCount},
};

// The settings field an edit mirrors.
profile::ProfileText* FieldOf(ProfileSettings& s, int id) {
  switch (id) {
    case ids::kVendorId: return &s.vendor_id;
    case ids::kProductId: return &s.product_id;
    case ids::kRevision: return &s.device_revision;
    case ids::kSerialNumber: return &s.serial_number;
    case ids::kManufacturer: return &s.manufacturer_string;
    case ids::kProduct: return &s.product_string;
    case ids::kDriveLabel: return &s.drive_label_name;
    default: return nullptr;
  }
}

bool IsSwitch(int id) {
  for (int s : ids::kStageSwitches)
    if (s == id) return true;
  return id == ids::kAutoMode;
}

// The flag of a stage switch or of MP Auto Mode (IsSwitch).
std::uint8_t& SwitchOf(ProfileSettings& s, int id) {
  switch (id) {
    case ids::kUpdateConfig: return s.config_enable;
    case ids::kUpdateFw: return s.fw_enable;
    case ids::kReloadFw: return s.fw_reload;
    case ids::kPartitionFormat: return s.format_enable;
    case ids::kWrTest: return s.wr_test_enable;
    case ids::kPreload: return s.preload_enable;
    default: return s.auto_mp;
  }
}

// The text field of one of the seven edits (FieldOf is not null for them).
profile::ProfileText& EditField(ProfileSettings& s, int id) {
  profile::ProfileText* f = FieldOf(s, id);
  return f != nullptr ? *f : s.drive_label_name;
}

bool IsButton(int id) {
  switch (id) {
    case ids::kExit:
    case ids::kMinimise:
    case ids::kLoadIni:
    case ids::kSaveIni:
    case ids::kLock:
    case ids::kCheckConfig:
    case ids::kBrowseFw:
    case ids::kBrowsePreload:
    case ids::kMoreConfig:
    case ids::kStart:
    case ids::kSafelyRemove:
    case ids::kClear:
    case ids::kAbout:
    case ids::kLastRecords: return true;
    default: return false;
  }
}

std::string WithoutTrailingBackslash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

// Holds the presenter's mutex; the outermost Update hands the events collected
// meanwhile to the observer after the mutex is released.
class LineToolPresenter::Update {
 public:
  explicit Update(const LineToolPresenter& p) : p_(p) {
    p_.mutex_.lock();
    ++p_.update_depth_;
  }
  ~Update() {
    std::vector<PresenterEvent> events;
    Observer observer;
    if (--p_.update_depth_ == 0 && !p_.pending_.empty()) {
      events.swap(p_.pending_);
      observer = p_.observer_;
    }
    p_.mutex_.unlock();
    if (observer)
      for (const auto& e : events) observer(e);
  }
  Update(const Update&) = delete;
  Update& operator=(const Update&) = delete;

 private:
  const LineToolPresenter& p_;
};

void PushRecent(std::vector<std::string>& list, const std::string& entry) {
  std::erase(list, entry);
  list.insert(list.begin(), entry);
  if (list.size() > kRecentEntries) list.resize(kRecentEntries);
}

LineToolPresenter::LineToolPresenter(profile::CLineEngine& engine, platform::MessageSink& sink, FileChooser& files,
                                     WindowDialogs& dialogs)
    : engine_(engine), sink_(sink), files_(files), dialogs_(dialogs) {
  DefineControls();
}

LineToolPresenter::~LineToolPresenter() = default;

void LineToolPresenter::AttachRun(StationRun* run) {
  Update u(*this);
  run_ = run;
  check_config_.reset();  // it reached the bridges through the run attached before
}

void LineToolPresenter::AttachLastRecords(LastRecords* records) {
  {
    Update u(*this);
    last_records_ = records;
    Notify(PresenterEvent::Kind::kPanel);
  }
  if (records != nullptr) records->Refresh();
}

bool LineToolPresenter::HasLastRecords() const {
  Update u(*this);
  return last_records_ != nullptr;
}

void LineToolPresenter::SetObserver(Observer observer) {
  Update u(*this);
  observer_ = std::move(observer);
}

void LineToolPresenter::DefineControls() {
  panel_[ids::kFormatList].items = {"TYPE1"};
  panel_.Select(ids::kFormatList, 0);
  panel_[ids::kSerialMode].items = {"DISABLE", "INCREASE"};
  panel_.Select(ids::kSerialMode, 0);
  panel_[ids::kIdleTimer].items = kIdleTimerItems;
  panel_.Select(ids::kIdleTimer, 0);
  panel_[ids::kFileSystem].items = {"NTFS", "FAT32"};
  panel_.Select(ids::kFileSystem, 0);
  for (const Caption& c : kCaptions) panel_[c.id].text = std::string(engine_.Text(c.text));
  for (const Caption& c : kTooltips) panel_[c.id].tooltip = std::string(engine_.Text(c.text));
  panel_[ids::kWarning].visible = false;
  panel_[ids::kLock].tooltip = std::string(engine_.Text(MessageId::kTipUnlock));
  panel_[ids::kLock].icon = kIconLocked;
  for (int id : {ids::kPassCount, ids::kFailCount, ids::kTotalCount}) panel_[id].text = "0";
  panel_[ids::kProgressText].text = "0%";
  for (int id : {ids::kVendorId, ids::kProductId, ids::kRevision}) panel_[id].limit = 4;
}

std::size_t LineToolPresenter::EditLimit(int id) const {
  const profile::ConfigLimits& l = engine_.Limits();
  auto capped = [](std::size_t cap, std::size_t type_limit) { return std::min(cap, type_limit); };
  switch (id) {
    case ids::kVendorId:
    case ids::kProductId:
    case ids::kRevision: return 4;
    case ids::kSerialNumber: return capped(20, l.serial_length);
    case ids::kManufacturer: return capped(44, l.manufacturer_length);
    case ids::kProduct: return capped(48, l.product_length);
    case ids::kDriveLabel: return engine_.Settings().format_drive_type != 0 ? 11 : 32;
    default: return 0;
  }
}

void LineToolPresenter::FillPanelFromSettings() {
  Update u(*this);
  ProfileSettings& s = engine_.Settings();
  panel_.Select(ids::kFormatList, 0);
  for (int id : {ids::kVendorId, ids::kProductId, ids::kRevision, ids::kSerialNumber, ids::kManufacturer,
                 ids::kProduct, ids::kDriveLabel}) {
    panel_[id].limit = EditLimit(id);
    panel_[id].text = std::string(TextOf(EditField(s, id)));
  }
  panel_.Select(ids::kSerialMode, s.serial_number_increase);
  ShowIdleTimerLocked();
  for (int id : ids::kStageSwitches) panel_[id].checked = SwitchOf(s, id) != 0;
  panel_[ids::kAutoMode].checked = s.auto_mp != 0;
  panel_.Select(ids::kFileSystem, s.format_drive_type != 0 ? 1 : 0);
  const std::string fw(TextOf(s.fw_binary_name));
  if (!fw.empty()) PushRecent(panel_[ids::kFwList].items, fw);
  panel_.Select(ids::kFwList, fw.empty() ? -1 : 0);
  const std::string preload(TextOf(s.preload_folder_path));
  if (!preload.empty()) PushRecent(panel_[ids::kPreloadList].items, preload);
  panel_.Select(ids::kPreloadList, preload.empty() ? -1 : 0);
  Notify(PresenterEvent::Kind::kPanel);
}

void LineToolPresenter::Initialise() {
  {
    Update u(*this);
    // By its full path, so a message about it says where it was looked for.
    engine_.LoadProfile(platform::JoinStationPath(platform::ToStationPath(engine_.WorkDir()), kDefaultProfile));
    FillPanelFromSettings();
    if (run_ != nullptr) run_->ProfileLoaded();
    counters_ = {};
    for (int id : {ids::kPassCount, ids::kFailCount, ids::kTotalCount}) panel_[id].text = "0";
    progress_text_ = "0%";
    progress_bar_ = 0;
    panel_[ids::kProgressText].text = progress_text_;
  }
  // The panel's state between runs first: the refresh's auto-start check may
  // start a run, which must not find the panel enabled after it.
  ApplyRestState();
  if (run_ != nullptr) run_->RefreshPorts();
}

// --- Panel states --------------------------------------------------------------------

IdleInputs LineToolPresenter::IdleInputsLocked() const {
  const ProfileSettings& s = engine_.Settings();
  return IdleInputs{production_lock_ != 0, s.config_enable != 0, s.fw_enable != 0, s.format_enable != 0,
                    s.preload_enable != 0, s.hdd_standby != 0};
}

void LineToolPresenter::ApplyStateLocked() {
  if (production_lock_ == 0 && engine_.Settings().auto_mp != 0) {
    ApplyBusyState(panel_, production_lock_ != 0);
  } else {
    ApplyIdleState(panel_, IdleInputsLocked());
  }
  // Start stays disabled while auto mode is on.
  if (engine_.Settings().auto_mp != 0) panel_[ids::kStart].enabled = false;
  // With HDDSN the bridge takes the disk's serial number: the edit stays off.
  if (engine_.Settings().slow_enumeration != 0) panel_[ids::kSerialNumber].enabled = false;
  ShowIdleTimerLocked();
  Notify(PresenterEvent::Kind::kPanel);
}

void LineToolPresenter::ShowIdleTimerLocked() {
  ProfileSettings& s = engine_.Settings();
  // Without HDD Standby the bridge gets no standby time, and the list says so.
  if (s.hdd_standby == 0) s.standby_timer = 0;
  panel_.Select(ids::kIdleTimer, s.standby_timer);
}

void LineToolPresenter::ShowIdleTimer() {
  Update u(*this);
  ShowIdleTimerLocked();
  Notify(PresenterEvent::Kind::kPanel);
}

void LineToolPresenter::ApplyRestState() {
  Update u(*this);
  ApplyStateLocked();
}

void LineToolPresenter::ApplyIdleStateOnly() {
  Update u(*this);
  ApplyIdleState(panel_, IdleInputsLocked());
  ShowIdleTimerLocked();
  Notify(PresenterEvent::Kind::kPanel);
}

void LineToolPresenter::DisableForRun() {
  Update u(*this);
  ApplyRunDisabledState(panel_);
  Notify(PresenterEvent::Kind::kPanel);
}

// --- Dispatch ---------------------------------------------------------------------------

bool LineToolPresenter::Command(int id) {
  {
    Update u(*this);
    if (!IsButton(id) || !panel_.At(id).enabled) return false;
    std::erase(posted_clicks_, id);  // the operator's click takes the station's place
    operator_click_ = id;
  }
  const bool done = Dispatch(id);
  Update u(*this);
  operator_click_ = 0;
  return done;
}

bool LineToolPresenter::SendCommand(int id) {
  if (!IsButton(id)) return false;
  ClickPoster poster;
  {
    Update u(*this);
    poster = click_poster_;
    // The operator's click of the same button, under way (its Lock stops the
    // auto starter, which may send its own Lock on the way out), stands for it.
    if (poster && operator_click_ == id) return true;
    if (poster) posted_clicks_.push_back(id);
  }
  if (!poster) return Dispatch(id);
  poster();
  return true;
}

void LineToolPresenter::SetClickPoster(ClickPoster poster) {
  Update u(*this);
  click_poster_ = std::move(poster);
}

void LineToolPresenter::RunPostedClicks() {
  std::vector<int> clicks;
  {
    Update u(*this);
    clicks.swap(posted_clicks_);
    if (closed_) clicks.clear();
  }
  for (int id : clicks) Dispatch(id);
}

bool LineToolPresenter::Dispatch(int id) {
  switch (id) {
    case ids::kExit: Close(); return true;
    case ids::kMinimise: return true;
    case ids::kLoadIni: {
      const auto chosen = files_.OpenFile(kIniFilter, kIniExtension, engine_.WorkDir());
      if (chosen) LoadIni(platform::ToStationPath(*chosen));
      return true;
    }
    case ids::kSaveIni: SaveIni(); return true;
    case ids::kLock: ToggleLock(); return true;
    case ids::kCheckConfig: ShowCheckConfig(); return true;
    case ids::kAbout: dialogs_.ShowAbout(CAboutDlg::Of(engine_)); return true;
    case ids::kLastRecords: {
      LastRecords* records = nullptr;
      {
        Update u(*this);
        records = last_records_;
      }
      if (records == nullptr) return false;
      records->Refresh();
      dialogs_.ShowLastRecords(*records);
      return true;
    }
    case ids::kBrowseFw: BrowseFirmware(); return true;
    case ids::kBrowsePreload: BrowsePreload(); return true;
    case ids::kMoreConfig: MoreConfig(); return true;
    case ids::kStart:
      if (run_ != nullptr) run_->StartRun();
      return true;
    case ids::kSafelyRemove:
      if (run_ != nullptr) run_->SafelyRemove();
      return true;
    case ids::kClear: ClearCounters(); return true;
    default: return false;
  }
}

bool LineToolPresenter::SetCheck(int id, bool checked) {
  if (id == ids::kAutoMode) {
    {
      Update u(*this);
      if (!panel_.At(id).enabled) return false;
    }
    StopAllJobs();
    Update u(*this);
    panel_[id].checked = checked;
    engine_.Settings().auto_mp = checked ? 1 : 0;
    panel_[ids::kStart].enabled = !checked;
    Notify(PresenterEvent::Kind::kPanel);
    return true;
  }
  Update u(*this);
  if (!IsSwitch(id) || !panel_.At(id).enabled) return false;
  SetStageSwitch(id, checked);
  return true;
}

void LineToolPresenter::SetStageSwitch(int id, bool on) {
  panel_[id].checked = on;
  SwitchOf(engine_.Settings(), id) = on ? 1 : 0;
  ApplyStateLocked();
}

FilteredText LineToolPresenter::EditText(int id, const std::string& typed, std::size_t caret) {
  Update u(*this);
  ControlState& edit = panel_[id];
  profile::ProfileText* field = FieldOf(engine_.Settings(), id);
  if (field == nullptr || !edit.enabled || edit.read_only) return {edit.text, edit.text.size()};
  const std::size_t limit = EditLimit(id);
  FilteredText r;
  if (id == ids::kDriveLabel) {
    const std::string kept = PrintableOnly(typed.substr(0, kEditReadMax));
    if (kept.size() > limit) {
      sink_.Show(std::string(engine_.Text(MessageId::kInvalidDiskLabelSize)) + "\r\n");
      r = {};
    } else {
      r = FilterPrintable(typed, caret, 0);
    }
  } else if (id == ids::kManufacturer || id == ids::kProduct) {
    r = FilterPrintable(typed, caret, limit);
  } else {
    r = FilterHex(typed, caret, limit);
  }
  edit.text = r.text;
  SetText(*field, r.text);
  Notify(PresenterEvent::Kind::kPanel);
  return r;
}

bool LineToolPresenter::SelectItem(int id, int index) {
  Update u(*this);
  ControlState& list = panel_[id];
  if (!list.enabled || index < 0 || index >= static_cast<int>(list.items.size())) return false;
  panel_.Select(id, index);
  ProfileSettings& s = engine_.Settings();
  const auto value = static_cast<std::uint8_t>(index);
  switch (id) {
    case ids::kSerialMode: s.serial_number_increase = value; break;
    case ids::kIdleTimer: s.standby_timer = value; break;
    case ids::kFileSystem:
      s.format_drive_type = value;
      engine_.SetConfigType(engine_.ConfigType());  // the label limit follows the file system
      panel_[ids::kDriveLabel].text.clear();
      panel_[ids::kDriveLabel].limit = EditLimit(ids::kDriveLabel);
      SetText(s.drive_label_name, "");
      break;
    case ids::kFwList: SetText(s.fw_binary_name, list.text); break;
    case ids::kPreloadList: SetText(s.preload_folder_path, list.text); break;
    case ids::kFormatList: break;  // one entry only: "TYPE1"
    default: return false;
  }
  Notify(PresenterEvent::Kind::kPanel);
  return true;
}

int LineToolPresenter::Close() {
  StopAllJobs();
  Update u(*this);
  closed_ = true;
  posted_clicks_.clear();
  return kWindowCloseExitCode;
}

void LineToolPresenter::StopAllJobs() {
  if (run_ != nullptr) run_->StopAllJobs();
}

// --- Counters and progress --------------------------------------------------------------

void LineToolPresenter::ClearCounters() {
  Update u(*this);
  counters_ = {};
  for (int id : {ids::kPassCount, ids::kFailCount, ids::kTotalCount}) panel_[id].text = "0";
  Notify(PresenterEvent::Kind::kCounters);
}

void LineToolPresenter::AddCounts(bool passed) {
  Update u(*this);
  (passed ? counters_.pass : counters_.fail) += 1;
  counters_.total += 1;
  panel_[ids::kPassCount].text = std::to_string(counters_.pass);
  panel_[ids::kFailCount].text = std::to_string(counters_.fail);
  panel_[ids::kTotalCount].text = std::to_string(counters_.total);
  Notify(PresenterEvent::Kind::kCounters);
}

void LineToolPresenter::SetProgress(const std::string& text, int bar) {
  Update u(*this);
  progress_text_ = text;
  progress_bar_ = bar;
  panel_[ids::kProgressText].text = text;
  Notify({PresenterEvent::Kind::kProgress, -1, -1, text});
}

void LineToolPresenter::AdvanceSerial(int count) {
  Update u(*this);
  ShowSerial(profile::IncreaseSerialNumber(panel_[ids::kSerialNumber].text, count));
}

bool LineToolPresenter::ReplaceSerial(const std::string& shown, const std::string& serial) {
  // Looked at and changed under one hold of the panel, so an edit in between
  // is never overwritten.
  Update u(*this);
  if (panel_[ids::kSerialNumber].text != shown) return false;
  ShowSerial(serial);
  return true;
}

void LineToolPresenter::ShowSerial(const std::string& serial) {
  Update u(*this);
  panel_[ids::kSerialNumber].text = serial;
  SetText(engine_.Settings().serial_number, serial);
  Notify(PresenterEvent::Kind::kPanel);
}

// --- Grid -------------------------------------------------------------------------------------

void LineToolPresenter::SetResultCell(int row, int column, const std::string& text) {
  Update u(*this);
  grid_.SetResultCell(row, column, text);
  Notify({PresenterEvent::Kind::kCell, row, column, text});
}

void LineToolPresenter::SetCellText(int row, int column, const std::string& text) {
  Update u(*this);
  grid_.SetText(row, column, text);
  Notify({PresenterEvent::Kind::kCell, row, column, text});
}

void LineToolPresenter::NoteFailure(int row, int column, const std::string& reason) {
  Update u(*this);
  grid_.SetNote(row, column, reason);
  Notify({PresenterEvent::Kind::kNote, row, column, reason});
}

void LineToolPresenter::ClearGridColumns(int first, int last) {
  Update u(*this);
  for (int row = 0; row < kGridRows; ++row)
    for (int column = first; column <= last; ++column)
      if (grid_.ClearCell(row, column)) Notify({PresenterEvent::Kind::kCell, row, column, {}});
}

void LineToolPresenter::UnsortGrid() {
  Update u(*this);
  if (grid_.Model().SortColumn() < 0) return;
  grid_.Unsort();
  Notify(PresenterEvent::Kind::kGridOrder);
}

std::string LineToolPresenter::CellNote(int row, int column) const {
  Update u(*this);
  return grid_.Note(row, column);
}

void LineToolPresenter::ShowDevice(int row, const DeviceRowTexts& texts) {
  Update u(*this);
  grid_.ShowDevice(row, texts);
  for (int column = 1; column <= 6; ++column)
    Notify({PresenterEvent::Kind::kCell, row, column, grid_.Text(row, column)});
}

void LineToolPresenter::Notify(PresenterEvent event) {
  Update u(*this);
  // The run's records are written (or noted lost) before its end is announced.
  if (last_records_ != nullptr && event.kind == PresenterEvent::Kind::kRecordLost)
    last_records_->NoteLost(event.row, event.text);
  if (last_records_ != nullptr && event.kind == PresenterEvent::Kind::kRunEnded) last_records_->RunEnded();
  pending_.push_back(std::move(event));
}

// --- Lock ---------------------------------------------------------------------------------------

void LineToolPresenter::ToggleLock() {
  bool stop = false;
  bool ask = false;
  {
    Update u(*this);
    stop = engine_.Settings().auto_mp != 0 && production_lock_ == 0;
    ask = production_lock_ == 0;
  }
  if (stop) StopAllJobs();
  if (ask) {
    // The dialog runs without the presenter's lock: workers may still paint.
    CLoginDlg login([this] { RefreshCaptions(); });
    login.Open();
    dialogs_.ShowLogin(login);
    Update u(*this);
    password_text_ = login.PasswordText();
    if (login.Accepted()) production_lock_ = 1;
  } else {
    Update u(*this);
    production_lock_ = 0;
  }
  Update u(*this);
  panel_[ids::kLock].icon = production_lock_ != 0 ? kIconUnlocked : kIconLocked;
  panel_[ids::kLock].tooltip =
      std::string(engine_.Text(production_lock_ != 0 ? MessageId::kTipLock : MessageId::kTipUnlock));
  ApplyStateLocked();
}

void LineToolPresenter::RefreshCaptions() {
  Update u(*this);
  for (const Caption& c : kCaptions) {
    if (c.id == ids::kGroupDeviceConfiguration || c.id == ids::kGroupDeviceFunction ||
        c.id == ids::kGroupFwBrowser || c.id == ids::kGroupPreloadBrowser) {
      panel_[c.id].text = std::string(engine_.Text(c.text));
    }
  }
  Notify(PresenterEvent::Kind::kPanel);
}

// --- Engineering dialogs --------------------------------------------------------------------

CDebugDlg& LineToolPresenter::CheckConfigDialog() {
  Update u(*this);
  if (!check_config_) {
    const EngineeringAccess access = run_ != nullptr ? run_->Engineering() : EngineeringAccess{};
    check_config_ = std::make_unique<CDebugDlg>(access, sink_, dialogs_);
  }
  return *check_config_;
}

void LineToolPresenter::ShowCheckConfig() {
  CDebugDlg& dialog = CheckConfigDialog();
  dialog.Open();
  dialogs_.ShowCheckConfig(dialog);
}

// --- Profiles -----------------------------------------------------------------------------------

bool LineToolPresenter::CheckFormats(bool with_serial) {
  Update u(*this);
  std::string text;
  const ProfileSettings& s = engine_.Settings();
  auto check4 = [&](const profile::ProfileText& field, MessageId id) {
    if (TextOf(field).size() != 4) text += std::string(engine_.Text(id)) + " \r\n";
  };
  check4(s.vendor_id, MessageId::kVidFormatNotValid);
  check4(s.product_id, MessageId::kPidFormatNotValid);
  check4(s.device_revision, MessageId::kRevisionFormatNotValid);
  if (with_serial) {
    const std::size_t n = TextOf(s.serial_number).size();
    if (n >= 1 && n <= 11) text += std::string(engine_.Text(MessageId::kSerialNumberTooShort)) + "\r\n";
  }
  if (text.empty()) return true;
  sink_.Show(text);
  return false;
}

bool LineToolPresenter::LoadIni(const std::string& station_path) {
  Update u(*this);
  if (!engine_.CheckPathAccess(station_path, true)) return false;
  ProfileSettings& s = engine_.Settings();
  for (int id : {ids::kVendorId, ids::kProductId, ids::kRevision, ids::kSerialNumber, ids::kManufacturer,
                 ids::kProduct}) {
    panel_[id].text.clear();
    SetText(EditField(s, id), "");
  }
  panel_.Select(ids::kFormatList, 1);
  panel_.Select(ids::kSerialMode, 0);
  panel_.Select(ids::kIdleTimer, 0);
  for (int id : ids::kStageSwitches) panel_[id].checked = false;
  panel_[ids::kAutoMode].checked = false;
  panel_.Select(ids::kFileSystem, 0);
  panel_[ids::kDriveLabel].text.clear();
  panel_[ids::kFwList].items.clear();
  panel_.Select(ids::kFwList, -1);
  Notify(PresenterEvent::Kind::kPanel);
  if (!engine_.LoadProfile(station_path)) return false;
  FillPanelFromSettings();
  if (run_ != nullptr) run_->ProfileLoaded();
  ApplyStateLocked();
  return true;
}

void LineToolPresenter::SaveIni() {
  Update u(*this);
  if (!CheckFormats(false)) return;
  const auto chosen = files_.SaveFile(kIniFilter, kIniExtension, engine_.WorkDir());
  if (!chosen) return;
  ProfileSettings& s = engine_.Settings();
  const ProfileSettings before = s;
  const int type_before = engine_.ConfigType();
  // The settings as the panel shows them.
  for (int id : ids::kStageSwitches) SwitchOf(s, id) = panel_.At(id).checked ? 1 : 0;
  s.auto_mp = panel_.At(ids::kAutoMode).checked ? 1 : 0;
  s.format_drive_type = panel_.SelectedText(ids::kFileSystem) == "FAT32" ? 1 : 0;
  for (int id : {ids::kVendorId, ids::kProductId, ids::kRevision, ids::kSerialNumber, ids::kManufacturer,
                 ids::kProduct, ids::kDriveLabel})
    SetText(EditField(s, id), panel_.At(id).text);
  SetText(s.fw_binary_name, panel_.SelectedText(ids::kFwList));
  SetText(s.preload_folder_path, panel_.SelectedText(ids::kPreloadList));
  const std::string format = panel_.SelectedText(ids::kFormatList);
  if (format.rfind("TYPE", 0) == 0) {
    int type = 0;
    if (std::sscanf(format.c_str() + 4, "%d", &type) == 1) {
      s.config_format = static_cast<std::uint8_t>(type);
      engine_.SetConfigType(type);
    }
  }
  s.serial_number_increase = static_cast<std::uint8_t>(std::max(0, panel_.At(ids::kSerialMode).selection));
  // The timer the list shows is the one a run writes, greyed or not.
  s.standby_timer = static_cast<std::uint8_t>(std::max(0, panel_.At(ids::kIdleTimer).selection));
  engine_.SaveProfile(platform::ToStationPath(*chosen));
  s = before;
  engine_.SetConfigType(type_before);
}

void LineToolPresenter::BrowseFirmware() {
  Update u(*this);
  const auto chosen = files_.OpenFile(kBinFilter, {}, engine_.WorkDir());
  if (!chosen) return;
  const std::string path = platform::ToStationPath(*chosen);
  if (!engine_.CheckPathAccess(path, true)) return;
  ControlState& list = panel_[ids::kFwList];
  PushRecent(list.items, path);
  panel_.Select(ids::kFwList, 0);
  std::string text;
  for (const auto& entry : list.items) text += entry + "\r\n";
  engine_.RememberFirmwarePaths(text);
  SetText(engine_.Settings().fw_binary_name, path);
  Notify(PresenterEvent::Kind::kPanel);
}

void LineToolPresenter::BrowsePreload() {
  Update u(*this);
  const std::string current = WithoutTrailingBackslash(std::string(TextOf(engine_.Settings().preload_folder_path)));
  const auto chosen = files_.ChooseFolder(kFolderTitle, current);
  if (!chosen) return;
  const std::string path = platform::ToStationPath(*chosen);
  PushRecent(panel_[ids::kPreloadList].items, path);
  panel_.Select(ids::kPreloadList, 0);
  SetText(engine_.Settings().preload_folder_path, path);
  Notify(PresenterEvent::Kind::kPanel);
}

void LineToolPresenter::MoreConfig() {
  MoreConfigFlags flags;
  bool update_config = false;
  bool update_fw = false;
  {
    Update u(*this);
    const ProfileSettings& s = engine_.Settings();
    flags = MoreConfigFlags::From(s);
    update_config = s.config_enable != 0;
    update_fw = s.fw_enable != 0;
  }
  CDeviceCfgDlg dialog(flags, update_config, update_fw,
                       [this](const MoreConfigFlags& f, int id, bool checked) { WriteMoreConfig(f, id, checked); });
  dialogs_.ShowMoreConfig(dialog);
  // OK and Cancel alike: the clicks are already in the settings; the idle
  // timer follows the fourth flag.
  ApplyRestState();
}

void LineToolPresenter::WriteMoreConfig(const MoreConfigFlags& flags, int id, bool checked) {
  Update u(*this);
  ProfileSettings& s = engine_.Settings();
  flags.To(s);
  if (id == ids::cfg::kHddsn) {
    // The bridge takes its serial number from the disk: the panel's number
    // goes at once and does not come back when the box is cleared.
    ControlState& serial = panel_[ids::kSerialNumber];
    if (checked) {
      serial.text.clear();
      SetText(s.serial_number, "");
    }
    serial.enabled = !checked;
  }
  Notify(PresenterEvent::Kind::kPanel);
}

// --- Views ---------------------------------------------------------------------------------------

ControlState LineToolPresenter::Control(int id) const {
  Update u(*this);
  return panel_.At(id);
}

Panel LineToolPresenter::Controls() const {
  Update u(*this);
  return panel_;
}

std::string LineToolPresenter::CellText(int row, int column) const {
  Update u(*this);
  return grid_.Text(row, column);
}

widgets::CListCtrlEx::Colours LineToolPresenter::CellColours(int row, int column) const {
  Update u(*this);
  return grid_.Colours(row, column);
}

bool LineToolPresenter::SortGrid(int column) {
  Update u(*this);
  if (!grid_.SortByHeader(column)) return false;
  Notify(PresenterEvent::Kind::kGridOrder);
  return true;
}

GridSnapshot LineToolPresenter::DisplayedGrid() const {
  Update u(*this);
  const widgets::CListCtrlEx& model = grid_.Model();
  GridSnapshot g;
  g.sort_column = model.SortColumn();
  g.arrow = g.sort_column >= 0 ? model.Arrow(g.sort_column) : widgets::SortArrow::kNone;
  for (int row = 0; row < model.RowCount(); ++row) {
    GridSnapshot::Row r;
    const auto* data = model.RowData(row);
    r.port = data != nullptr ? static_cast<int>(data->value) : row;
    for (int column = 0; column < kGridColumns; ++column) {
      r.texts.push_back(model.Text(row, column));
      r.colours.push_back(model.CellColours(row, column));
      r.notes.push_back(grid_.Note(r.port, column));
    }
    g.rows.push_back(std::move(r));
  }
  return g;
}

std::vector<std::vector<std::string>> LineToolPresenter::GridTexts() const {
  Update u(*this);
  std::vector<std::vector<std::string>> rows(kGridRows, std::vector<std::string>(kGridColumns));
  for (int r = 0; r < kGridRows; ++r)
    for (int c = 0; c < kGridColumns; ++c)
      rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = grid_.Text(r, c);
  return rows;
}

Counters LineToolPresenter::CounterValues() const {
  Update u(*this);
  return counters_;
}

std::string LineToolPresenter::ProgressText() const {
  Update u(*this);
  return progress_text_;
}

int LineToolPresenter::ProgressBar() const {
  Update u(*this);
  return progress_bar_;
}

bool LineToolPresenter::Unlocked() const {
  Update u(*this);
  return production_lock_ != 0;
}

std::string LineToolPresenter::WindowTitle() const {
  return std::string(engine_.Text(MessageId::kWindowTitle)) + " " + std::string(engine_.Text(MessageId::kVersionLine));
}

std::string LineToolPresenter::AboutMenuText() const { return std::string(engine_.Text(MessageId::kMenuAbout)); }

bool LineToolPresenter::Closed() const {
  Update u(*this);
  return closed_;
}

}  // namespace linetool::app
