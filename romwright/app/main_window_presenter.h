#pragma once
// The programmer application's main window without widgets. It joins the data
// side (settings, texts, chip database, data buffer, hex view, chip panel and
// data commands) and the link side (link, transfer engine, chip operations and
// maintenance) around one selected chip: the chip panel's choice is the chip
// every operation works on, and a chip found by Detect Chip is applied to the
// panel (and so to the view length and DefaultChipName).
//
// Start-up, after the window exists: the language is applied; the database is
// loaded and the buffer allocated (a failure shows its box and ends the
// start-up: no operation can run then); the default chip is selected; the link
// is opened ("No programmer linked to computer!" when no programmer answers,
// and the window goes on); the link is attached to the transfer engine; a file
// named as the only argument is loaded.
//
// Two timers run on the clock: the link timer (first tick at once, then every
// 500 ms) opens the link and changes the link-state text only when it differs
// from the shown one; the caret timer toggles the hex view's caret every
// 500 ms. The view calls PollTimers often; nothing here knows of a toolkit.
//
// Operations run on the caller's thread and keep the window responsive
// through StatusView::PumpMessage. While one runs, every other programmer
// command, and every command that changes or reads the buffer, is refused
// with "Programmer is busy, please wait a moment!" (shown and logged).

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/desktop_opener.h"
#include "platform/message_sink.h"
#include "platform/programmer_usb.h"
#include "romwright/app/chip_operations.h"
#include "romwright/app/chip_search_presenter.h"
#include "romwright/app/main_window_texts.h"
#include "romwright/app/maintenance.h"
#include "romwright/app/programmer_data.h"
#include "romwright/app/status_display.h"

namespace romwright::app {

struct MainWindowServices {
  platform::Clock& clock;
  platform::MessageSink& sink;
  platform::ProgrammerUsb& usb;
  platform::DesktopOpener& opener;
  // The config.ini written (beside the executable, or the user's own when
  // installed), and the folder relative setting paths (database, log,
  // manual, pictures) are taken against.
  std::string settings_host_path;
  std::string host_workdir;
  // The shipped config.ini read for what the written one lacks; empty: none.
  std::string settings_defaults_host_path = {};
  // Said under "No programmer linked to computer!" at start-up: where the
  // host's access to the programmer comes from.
  std::string no_programmer_hint = {};
  // The folder a relative log name is taken against, made when missing
  // (installed: the user's state folder, SettingsFile::StateFolder); empty:
  // host_workdir.
  std::string log_host_folder = {};
};

class MainWindowPresenter {
 public:
  static constexpr platform::Clock::Millis kLinkPeriod{500};
  static constexpr platform::Clock::Millis kCaretPeriod{500};

  // `view` hears of every change of the info line and the progress display
  // and handles window messages while an operation runs.
  explicit MainWindowPresenter(MainWindowServices services, StatusView* view = nullptr);
  ~MainWindowPresenter();
  MainWindowPresenter(const MainWindowPresenter&) = delete;
  MainWindowPresenter& operator=(const MainWindowPresenter&) = delete;

  // The start-up steps above; `arguments` are the command-line arguments
  // after the options (a file is loaded only when there is exactly one).
  void StartUp(const std::vector<std::string>& arguments);
  // True when the database and the buffer are there: the chip panel, the hex
  // view and the operations exist.
  bool Ready() const { return data_.Ready(); }

  // What the current language sets in the window (menus, toolbar, title,
  // panel labels, Chip Erase).
  const LanguageView& Language() const { return language_; }
  const LanguageTable& Texts() const { return data_.Texts(); }
  const std::string& T(std::uint32_t id) const { return data_.Texts().TextOf(id); }
  // Language menu: "English" or "SimpleChinese" becomes current, is written
  // as DefaultLanguage, is applied, and entry 89 is shown on the info line.
  void SwitchLanguage(std::string_view language);

  // Runs the timers that are due. True when the link-state text or the caret
  // changed.
  bool PollTimers();
  const std::string& LinkText() const { return link_text_; }
  // Counts the changes of the link-state text.
  unsigned LinkTextChanges() const { return link_text_changes_; }

  // A menu or toolbar command that needs no dialog: the chip operations, the
  // programmer reads and self test, Byte Swap, the language items, User
  // Manual. False for another identifier (the window runs its dialog).
  bool Command(std::uint32_t id);
  // Whether the window offers the command now.
  bool CommandEnabled(std::uint32_t id) const;
  // The busy check of every command: true (after the box and the log line)
  // when an operation runs or the engine is not idle.
  bool RefuseWhileBusy();
  bool OperationRunning() const { return running_; }

  // Update Firmware: Start checks that nothing runs (the window then shows
  // the file picker); Picked runs the update with the picker's answer.
  bool UpdateFirmwareStart();
  bool UpdateFirmwarePicked(const std::optional<std::string>& host_path);

  // The chip panel's lists and the chip search; each refused while busy.
  bool TypeChanged(std::string_view type_text);
  bool ManufacturerChanged(std::string_view manufacturer);
  bool ChipChanged(std::string_view chip_name);
  bool ChipSearched(const std::string& chip_name);

  // A character typed into the hex view: true when a byte changed (the view
  // is redrawn with the checksum). Ignored while an operation runs, as a
  // read or write is using the buffer then.
  bool HexType(char c);

  // Help menu.
  void UserManual();
  AboutBox About() const { return AboutBoxOf(data_.Texts()); }
  // The host paths of the pictures; empty when the setting is.
  std::string AboutPicturePath() const;
  std::string MainPicturePath() const;
  std::string Title();

  // The window is asked to close. True: close now. False: an operation runs;
  // it is stopped, and the window closes once it has returned
  // (ClosePending).
  bool RequestClose();
  bool ClosePending() const { return close_pending_; }

  // A chip search dialog's presenter, reporting through this window.
  ChipSearchPresenter NewChipSearch();
  platform::MessageSink& Sink() { return services_.sink; }

  ProgrammerData& Data() { return data_; }
  StatusDisplay& Status() { return *status_; }
  link::ProgrammerLink& Link() { return link_; }
  link::TransferEngine& Engine() { return engine_; }
  // Valid only when Ready().
  ChipOperations& Operations() { return *ops_; }
  Maintenance& Maintain() { return *maintenance_; }

 private:
  std::string HostPathOfSetting(std::uint32_t id) const;
  // The log file: the log setting taken against log_host_folder, else as
  // every other setting path.
  std::string LogPath() const;
  void ApplyLanguage();
  void SyncChip();
  bool RunOperation(std::uint32_t id);

  MainWindowServices services_;
  ProgrammerData data_;
  std::unique_ptr<StatusDisplay> status_;
  link::ProgrammerLink link_;
  link::TransferEngine engine_;
  std::stop_source stop_;
  std::unique_ptr<ChipOperations> ops_;
  std::unique_ptr<Maintenance> maintenance_;
  LanguageView language_;
  std::string link_text_;
  unsigned link_text_changes_ = 0;
  platform::Clock::Millis link_due_{0};
  platform::Clock::Millis caret_due_{0};
  bool timers_started_ = false;
  bool running_ = false;
  bool close_pending_ = false;
};

}  // namespace romwright::app
