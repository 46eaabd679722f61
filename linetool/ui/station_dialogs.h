#pragma once
// The pickers and dialogs of the station as real windows: the file open and
// save pickers with the station's filters and default extensions, the folder
// picker of the preload folder, and a view over each dialog presenter (login,
// device configuration, register R/W, device information, About, Last Records). Each runs
// modally on the window thread; clicks and typing go to the presenter, which
// holds every rule, and the view shows its controls again after each.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "linetool/app/window_dialogs.h"

namespace linetool::ui {

class StationDialogs final : public app::FileChooser, public app::WindowDialogs {
 public:
  // `host_path_of` turns a station path into a host path (the preload folder
  // the folder picker starts in).
  explicit StationDialogs(std::function<std::string(const std::string&)> host_path_of);

  void SetParentWidget(QWidget* parent) { parent_ = parent; }

  // app::FileChooser
  std::optional<std::string> OpenFile(const std::string& filter, const std::string& default_extension,
                                      const std::string& host_folder) override;
  std::optional<std::string> SaveFile(const std::string& filter, const std::string& default_extension,
                                      const std::string& host_folder) override;
  std::optional<std::string> ChooseFolder(const std::string& title, const std::string& initial) override;

  // app::WindowDialogs
  void ShowLogin(app::CLoginDlg& dialog) override;
  void ShowMoreConfig(app::CDeviceCfgDlg& dialog) override;
  void ShowCheckConfig(app::CDebugDlg& dialog) override;
  void ShowDeviceInfo(app::CDeviceInfoDlg& dialog) override;
  void ShowAbout(const app::CAboutDlg& box) override;
  void ShowLastRecords(app::LastRecords& records) override;

 private:
  std::optional<std::string> PickFile(bool save, const std::string& filter, const std::string& default_extension,
                                      const std::string& host_folder);
  // The window modal dialogs are centred on: the open dialog, else the main window.
  QWidget* Parent() const;

  std::function<std::string(const std::string&)> host_path_of_;
  QPointer<QWidget> parent_;
};

}  // namespace linetool::ui
