#pragma once
// The main window of the production station without widgets: the settings
// panel and its commands, the stage switches, the lock, the counters and the
// progress display, the port grid, and the production run behind Start.
//
// Every control is addressed by its identifier (control_ids.h). A view
// forwards clicks (Command), check boxes (SetCheck), typed text (EditText) and
// list selections (SelectItem) and paints what Controls() and Grid() hold. The
// presenter may be changed from worker threads (grid cells, progress,
// counters): all state is guarded by one mutex, and every change is reported
// to the observer after that mutex has been released, so an observer may block
// on its view's thread or read the presenter again.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "linetool/app/device_cfg_dlg.h"
#include "linetool/app/login_dlg.h"
#include "linetool/app/panel_state.h"
#include "linetool/app/port_grid.h"
#include "linetool/app/text_filters.h"
#include "linetool/app/window_dialogs.h"
#include "linetool/profile/line_engine.h"
#include "platform/clock.h"
#include "platform/message_sink.h"

namespace linetool::app {

class StationRun;  // station_run.h
class CDebugDlg;   // debug_dlg.h
class LastRecords;  // last_records.h

// The MRU rule of the firmware and preload drop-downs: the entry goes to the
// top (an older copy of it is removed), at most five entries are kept.
void PushRecent(std::vector<std::string>& list, const std::string& entry);
inline constexpr std::size_t kRecentEntries = 5;

struct PresenterEvent {
  enum class Kind {
    kCell,      // a grid cell changed (row, column, text)
    kPanel,     // control states changed
    kCounters,  // Pass/Fail/Total changed
    kProgress,  // progress text or bar moved (text: the progress text)
    kRunEnded,  // a run has finished (counters, serial and log are done)
    kGridOrder,  // the grid's rows were sorted
    kNote,       // why a port's stage failed (row: the port, column: the stage's, text: the reason)
    kRecordLost,  // a port's unit record could not be written (row: the port, text: why)
  };
  Kind kind = Kind::kPanel;
  int row = -1;
  int column = -1;
  std::string text;
};

// The grid as a view shows it: rows in their sorted order, each cell's text
// and resolved colours, and the header's sort arrow.
struct GridSnapshot {
  struct Row {
    int port = 0;
    std::vector<std::string> texts;
    std::vector<widgets::CListCtrlEx::Colours> colours;
    std::vector<std::string> notes;  // why a "FAIL" cell's stage failed (empty: no reason known)
  };
  std::vector<Row> rows;
  int sort_column = -1;
  widgets::SortArrow arrow = widgets::SortArrow::kNone;
};

struct Counters {
  std::int32_t pass = 0;
  std::int32_t fail = 0;
  std::int32_t total = 0;
};

class LineToolPresenter {
 public:
  using Observer = std::function<void(const PresenterEvent&)>;

  LineToolPresenter(profile::CLineEngine& engine, platform::MessageSink& sink, FileChooser& files,
                    WindowDialogs& dialogs);
  ~LineToolPresenter();
  LineToolPresenter(const LineToolPresenter&) = delete;
  LineToolPresenter& operator=(const LineToolPresenter&) = delete;

  // Connects the production run (ports, jobs, auto mode, the bridges of the
  // engineering dialogs). Without it Start, Safely Remove and the refresh do
  // nothing. Call it before the window shows any dialog.
  void AttachRun(StationRun* run);

  void SetObserver(Observer observer);

  // The station's last unit records (none: the station keeps no records and
  // the Last Records entry is absent). They are read again at once and after
  // each run. Detach (nullptr) before they go.
  void AttachLastRecords(LastRecords* records);
  // True when the window's menu has "Last Records..." (command ids::kLastRecords).
  bool HasLastRecords() const;

  // Start-up of the window: the default profile into the panel, the grid,
  // counters "0", progress "0%", then the port refresh and the panel state.
  void Initialise();

  // --- Commands by control identifier ------------------------------------------
  // A click of a button. False when the control is unknown or disabled.
  bool Command(int id);
  // A click sent by one of the station's own threads (the auto starter's Lock):
  // carried out whatever state the button is drawn in. False for an unknown
  // control. With a click poster set (a window), the click is queued and the
  // poster asked to have RunPostedClicks called on the view's thread, since
  // the click may open a dialog and stop the very thread that sent it; a click
  // of the same button by the operator before then, or one that is still
  // being carried out, takes its place.
  bool SendCommand(int id);
  using ClickPoster = std::function<void()>;
  void SetClickPoster(ClickPoster poster);
  // On the view's thread: carries out the clicks the station's threads sent.
  void RunPostedClicks();
  // A check box set to `checked` by the operator. False when disabled.
  bool SetCheck(int id, bool checked);
  // Text typed into an edit; answers what the edit holds afterwards.
  FilteredText EditText(int id, const std::string& typed, std::size_t caret);
  // A list's selection changed.
  bool SelectItem(int id, int index);
  // The window is being closed: stops all job threads; the exit code.
  int Close();

  // --- State for views -------------------------------------------------------------
  ControlState Control(int id) const;
  Panel Controls() const;
  // Cells by port and column, wherever a sort has moved the port's row.
  std::string CellText(int row, int column) const;
  widgets::CListCtrlEx::Colours CellColours(int row, int column) const;
  // Why the stage of a "FAIL" cell failed, as the run noted it (empty: not known).
  std::string CellNote(int row, int column) const;
  // A copy of the grid's texts, ports by columns.
  std::vector<std::vector<std::string>> GridTexts() const;
  // A click on a column header: sorts the rows by that column.
  bool SortGrid(int column);
  GridSnapshot DisplayedGrid() const;
  Counters CounterValues() const;
  std::string ProgressText() const;
  int ProgressBar() const;
  bool Unlocked() const;
  bool Closed() const;
  // "Kelvora VX7700 Line Tool Kelv 770 LineTool Ver 2.0.2"
  std::string WindowTitle() const;
  // The text of the system menu's entry for command 0x10 ("About").
  std::string AboutMenuText() const;
  // The register dialog of command 1068 (made on first use; it keeps the
  // device information dialog and its last successful read).
  CDebugDlg& CheckConfigDialog();

  // --- Used by the production run (any thread) ---------------------------------
  void SetResultCell(int row, int column, const std::string& text);
  void SetCellText(int row, int column, const std::string& text);
  // Says why the stage of a column failed on a port, for the operator's log.
  void NoteFailure(int row, int column, const std::string& reason);
  void ClearGridColumns(int first, int last);
  // The rows back in port order with no sort arrow (the devices have moved).
  void UnsortGrid();
  void ShowDevice(int row, const DeviceRowTexts& texts);
  void SetProgress(const std::string& text, int bar);
  void AddCounts(bool passed);
  // The serial number field advanced by `count` (serial mode INCREASE).
  void AdvanceSerial(int count);
  // The serial number field set to `serial` (the next one of the line).
  void ShowSerial(const std::string& serial);
  // The same, only while the field still shows `shown`; false otherwise.
  bool ReplaceSerial(const std::string& shown, const std::string& serial);
  // The panel state between runs: busy (auto mode, locked) or idle.
  void ApplyRestState();
  // The idle state, also in auto mode (Start enabled): where Safely Remove
  // leaves the panel.
  void ApplyIdleStateOnly();
  void DisableForRun();
  // The Idle Timer list and the standby timer setting made one: "Never" (0)
  // while HDD Standby is off, else the setting.
  void ShowIdleTimer();
  // The length checks of vendor ID, product ID and revision (and with
  // `with_serial` the serial number), collected into one message box.
  bool CheckFormats(bool with_serial);
  void Notify(PresenterEvent event);
  void Notify(PresenterEvent::Kind kind) { Notify(PresenterEvent{kind, -1, -1, {}}); }

  profile::CLineEngine& Engine() { return engine_; }
  platform::MessageSink& Sink() { return sink_; }
  std::recursive_mutex& Mutex() { return mutex_; }

  // The profile into the panel, as at start-up and by Load INI.
  void FillPanelFromSettings();
  // Load INI with a chosen station path (what the picker's answer leads to).
  bool LoadIni(const std::string& station_path);

 private:
  class Update;

  void DefineControls();
  void ApplyStateLocked();
  IdleInputs IdleInputsLocked() const;
  void ShowIdleTimerLocked();
  void SetStageSwitch(int id, bool on);
  void ClearCounters();
  void ToggleLock();
  bool Dispatch(int id);
  void SaveIni();
  void BrowseFirmware();
  void BrowsePreload();
  void MoreConfig();
  void WriteMoreConfig(const MoreConfigFlags& flags, int id, bool checked);
  void ShowCheckConfig();
  // The captions the login and register tool dialogs refresh: the four
  // group boxes.
  void RefreshCaptions();
  void StopAllJobs();
  std::size_t EditLimit(int id) const;

  profile::CLineEngine& engine_;
  platform::MessageSink& sink_;
  FileChooser& files_;
  WindowDialogs& dialogs_;
  StationRun* run_ = nullptr;
  LastRecords* last_records_ = nullptr;

  mutable std::recursive_mutex mutex_;
  mutable int update_depth_ = 0;
  mutable std::vector<PresenterEvent> pending_;
  Observer observer_;
  ClickPoster click_poster_;
  std::vector<int> posted_clicks_;
  int operator_click_ = 0;  // the button whose operator click is being carried out

  Panel panel_;
  PortGrid grid_;
  Counters counters_;
  std::string progress_text_ = "0%";
  int progress_bar_ = 0;
  std::uint8_t production_lock_ = 0;  // 1 unlocked (engineering), 0 locked
  std::string password_text_;         // what the login dialog last took
  bool closed_ = false;
  std::unique_ptr<CDebugDlg> check_config_;
};

}  // namespace linetool::app
