#pragma once
// A station engine over a fresh working directory, with scripted pickers and
// dialogs, for presenter tests.

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "linetool/app/about_dlg.h"
#include "linetool/app/debug_dlg.h"
#include "linetool/app/device_cfg_dlg.h"
#include "linetool/app/last_records.h"
#include "linetool/app/line_tool_presenter.h"
#include "linetool/app/login_dlg.h"
#include "linetool/profile/line_engine.h"
#include "linetool/profile/station_files.h"
#include "platform/message_sink.h"
#include "platform/path_access.h"
#include "tools/testing/scratch_dir.h"
#include "tools/testing/test_paths.h"

namespace linetool::app::testing {

// Checks paths on the host file system.
class HostPathAccess final : public platform::PathAccess {
 public:
  platform::PathState Check(const std::string& host_path) const override {
    std::error_code ec;
    if (!std::filesystem::exists(host_path, ec)) return platform::PathState::kMissing;
    return platform::PathState::kReadWrite;
  }
};

class ScriptedChooser final : public FileChooser {
 public:
  std::deque<std::optional<std::string>> answers;
  std::vector<std::string> filters;
  std::optional<std::string> Next(const std::string& filter) {
    filters.push_back(filter);
    if (answers.empty()) return std::nullopt;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  std::optional<std::string> OpenFile(const std::string& filter, const std::string&, const std::string&) override {
    return Next(filter);
  }
  std::optional<std::string> SaveFile(const std::string& filter, const std::string&, const std::string&) override {
    return Next(filter);
  }
  std::optional<std::string> ChooseFolder(const std::string& title, const std::string& initial) override {
    folder_initial = initial;
    return Next(title);
  }
  std::string folder_initial;
};

class ScriptedDialogs final : public WindowDialogs {
 public:
  // Login: the text typed, then OK; nothing: Cancel.
  std::optional<std::string> password;
  std::atomic<int> password_asks{0};  // the auto starter asks from its thread
  std::atomic<std::thread::id> login_thread{};
  std::function<void()> on_login;  // while the login dialog is up
  // More Config: the boxes clicked in order; the panel as it was after each
  // click; what the dialog showed when it opened.
  std::vector<std::pair<int, bool>> more_config_clicks;
  std::function<void()> after_each_click;
  std::optional<Panel> more_config_opened;
  int device_info_shown = 0;
  int check_config_shown = 0;
  std::optional<CAboutDlg> about;

  void ShowLogin(CLoginDlg& dialog) override {
    login_thread = std::this_thread::get_id();
    ++password_asks;
    if (on_login) on_login();
    if (!password) return dialog.Cancel();
    dialog.EditText(*password);
    dialog.Ok();
  }
  void ShowMoreConfig(CDeviceCfgDlg& dialog) override {
    more_config_opened = dialog.Controls();
    for (const auto& [id, checked] : more_config_clicks) {
      dialog.SetCheck(id, checked);
      if (after_each_click) after_each_click();
    }
  }
  void ShowCheckConfig(CDebugDlg&) override { ++check_config_shown; }
  void ShowDeviceInfo(CDeviceInfoDlg&) override { ++device_info_shown; }
  void ShowAbout(const CAboutDlg& box) override { about = box; }
  // Last Records: what the dialog showed when it opened.
  int last_records_shown = 0;
  std::function<void(LastRecords&)> on_last_records;
  void ShowLastRecords(LastRecords& records) override {
    ++last_records_shown;
    if (on_last_records) on_last_records(records);
  }
};

inline std::string FreshDir(const std::string& name) {
  return test_support::ScratchDir("linetool_app_" + name + "_" +
                                  std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                                  ::testing::UnitTest::GetInstance()->current_test_info()->name())
      .string();
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// The sample profile of the station, with auto mode set as asked.
inline std::string SampleProfile(bool auto_mode = false) {
  const auto bytes = profile::ReadFileBytes(std::string(test_support::kResourceDir) + "/kl_line_Tool v0.3.ini");
  std::string t = bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
  if (auto_mode) {
    const auto at = t.find("auto_mp=0");
    if (at != std::string::npos) t[at + 8] = '1';
  }
  return t;
}

struct PresenterRig {
  explicit PresenterRig(const std::string& name)
      : dir(FreshDir(name)), engine(sink, access, dir), presenter(engine, sink, chooser, dialogs) {}
  std::string dir;
  platform::RecordingSink sink;
  HostPathAccess access;
  ScriptedChooser chooser;
  ScriptedDialogs dialogs;
  profile::CLineEngine engine;
  LineToolPresenter presenter;
};

}  // namespace linetool::app::testing
