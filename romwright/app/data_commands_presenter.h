#pragma once
// The main window's data commands without widgets: File Open and Save, a
// dropped file, the file named on the command line, and the Edit menu's
// Buffer Fill, Byte Swap and Address Location, with what each logs, shows and
// redraws. The window runs the file picker and the dialogs and hands their
// answers here.
//
// Every command that changes the buffer first asks whether the programmer is
// busy; then it shows and logs "Programmer is busy, please wait a moment!"
// and does nothing else.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_sink.h"
#include "romwright/app/chip_selection_presenter.h"

namespace romwright::app {

class DataBuffer;
class HexViewModel;
class LanguageTable;

struct DataCommandHooks {
  StatusHooks status;
  std::function<void(const std::string&)> show_error;  // the window's ShowError
  // True while a chip operation runs (the transfer engine's Poll is not 0).
  std::function<bool()> programmer_busy;
};

// The window title: the Caption setting, then "   " and the path, or for a
// path longer than 60 characters "   ..." and its last 50 characters.
std::string WindowTitle(std::string_view caption, std::string_view path);

class DataCommandsPresenter {
 public:
  DataCommandsPresenter(DataBuffer& buffer, HexViewModel& hex_view, const LanguageTable& texts,
                        platform::MessageSink& sink, DataCommandHooks hooks);

  // File Open: OpenStart logs "Load file!" and is false when the programmer
  // is busy (no picker then); OpenPicked takes the picker's answer (nothing
  // for Cancel, else a host path). True when a file was loaded.
  bool OpenStart();
  bool OpenPicked(const std::optional<std::string>& path);
  // Files dropped on the window: exactly one is loaded like Open.
  bool Drop(const std::vector<std::string>& paths);
  // The one file named on the command line at start-up, loaded like Open.
  bool LoadCommandLineFile(const std::string& path);

  // File Save: like Open; the view length's bytes go to the file.
  bool SaveStart();
  bool SavePicked(const std::optional<std::string>& path);

  // Edit commands. FillStart/SwapBytes check for a busy programmer first.
  bool FillStart();
  // The Buffer Fill dialog's OK with its three fields; false after an error
  // box (the dialog stays open).
  bool FillOk(std::string_view address, std::string_view length, std::string_view data);
  bool SwapBytes();
  // The Address Location dialog's OK; false after an error box.
  bool LocateOk(std::string_view address);

  // The Caption setting of the current language; the title keeps the path
  // of the last file loaded.
  void SetCaption(std::string caption);
  const std::string& Title() const { return title_; }
  // The checksum label: the sum of the view length of what the buffer holds,
  // updated by every redraw that asks for it and whenever the view length
  // changed since (another chip).
  const std::string& ChecksumText();
  // Counts redraws, so a view knows when to repaint.
  unsigned Redraws() const { return redraws_; }
  // Recomputes the checksum label and asks for a repaint (after a chip read
  // or typing in the hex view).
  void Redraw(bool with_checksum);

 private:
  bool Busy();
  bool Load(const std::string& path);
  void Log(const std::string& text);
  const std::string& T(std::uint32_t id) const;

  DataBuffer& buffer_;
  HexViewModel& hex_view_;
  const LanguageTable& texts_;
  platform::MessageSink& sink_;
  DataCommandHooks hooks_;
  std::string caption_;
  std::string title_;
  std::string loaded_path_;
  std::string checksum_text_;
  std::uint32_t checksum_length_ = 0;
  unsigned redraws_ = 0;
};

}  // namespace romwright::app
