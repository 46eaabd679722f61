#pragma once
// The pickers and dialogs the main window opens, as real windows: the file
// open and save pickers with the station's filters and default extensions,
// the folder picker of the preload folder, the login dialog, the device
// configuration dialog and the About box. Each runs modally on the window
// thread and hands the operator's answer to the presenter.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "linetool/app/line_tool_presenter.h"

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
  std::optional<std::string> AskPassword() override;
  bool EditMoreConfig(app::MoreConfigFlags& flags) override;

  void ShowAbout();

 private:
  std::optional<std::string> PickFile(bool save, const std::string& filter, const std::string& default_extension,
                                      const std::string& host_folder);

  std::function<std::string(const std::string&)> host_path_of_;
  QPointer<QWidget> parent_;
};

}  // namespace linetool::ui
