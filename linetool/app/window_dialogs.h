#pragma once
// The pickers and modal dialogs the station's windows open. A view implements
// them; each dialog is handed over as its presenter, already opened, and the
// view forwards the operator's clicks and typing to it until the dialog
// closes. The presenter holds the result: nothing is returned here.
//
// Every call comes from the window thread, with no presenter lock held.

#include <optional>
#include <string>

namespace linetool::app {

class CLoginDlg;        // login_dlg.h
class CDeviceCfgDlg;    // device_cfg_dlg.h
class CDebugDlg;        // debug_dlg.h
class CDeviceInfoDlg;   // device_info_dlg.h
struct CAboutDlg;       // about_dlg.h
class LastRecords;      // last_records.h

// The file and folder pickers of the window. Answers are host paths; nothing
// for Cancel.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // `filter` in the picker's notation ("Config .ini File (*.ini)|*.ini||").
  virtual std::optional<std::string> OpenFile(const std::string& filter, const std::string& default_extension,
                                              const std::string& host_folder) = 0;
  virtual std::optional<std::string> SaveFile(const std::string& filter, const std::string& default_extension,
                                              const std::string& host_folder) = 0;
  virtual std::optional<std::string> ChooseFolder(const std::string& title, const std::string& initial) = 0;
};

// The dialogs the main window and its dialogs open. The defaults close the
// dialog at once as with Cancel.
class WindowDialogs {
 public:
  virtual ~WindowDialogs() = default;
  // The login dialog: the view types into the password edit
  // (CLoginDlg::EditText) and ends with CLoginDlg::Ok or Cancel.
  virtual void ShowLogin(CLoginDlg& dialog);
  // "More Config": every click (CDeviceCfgDlg::SetCheck) is written into the
  // panel at once; OK and Cancel both just close.
  virtual void ShowMoreConfig(CDeviceCfgDlg&) {}
  // Command 1068, the register dialog titled "Check Configuration Dialog".
  virtual void ShowCheckConfig(CDebugDlg&) {}
  // The register dialog's "Device Info": everything is read before the call.
  virtual void ShowDeviceInfo(CDeviceInfoDlg&) {}
  // The system menu's "About" entry.
  virtual void ShowAbout(const CAboutDlg&) {}
  // The window menu's "Last Records...": the station's newest records, read
  // again while the dialog is up (LastRecords' observer says when).
  virtual void ShowLastRecords(LastRecords&) {}
};

}  // namespace linetool::app
