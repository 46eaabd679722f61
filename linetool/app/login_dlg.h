#pragma once
// The login dialog ("Login") that unlocks the settings panel for an engineer,
// and the register tool dialog ("Register Tool"), which holds only OK and
// Cancel. Both refresh the main window's group captions from the station's
// texts when they open.
//
// CLoginDlg: one password edit (label "Password", at most 7 characters), OK
// and Cancel. OK takes the text, trims it and accepts it when it is the
// engineering password regardless of case; either way the dialog closes.

#include <functional>
#include <string>
#include <string_view>

#include "linetool/app/panel_state.h"

namespace linetool::app {

namespace ids::login {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kPasswordLabel = 1500;
inline constexpr int kPassword = 1501;
}  // namespace ids::login

inline constexpr std::size_t kPasswordLimit = 7;

// The engineering password check: trimmed, compared without regard to case.
bool PasswordAccepted(std::string_view typed);

class CLoginDlg {
 public:
  // `refresh_captions` is called when the dialog opens.
  explicit CLoginDlg(std::function<void()> refresh_captions = {});

  // Opening: the password text is cleared, the captions refreshed.
  void Open();
  // Text typed into the password edit; what it holds afterwards (cut to 7).
  std::string EditText(const std::string& typed);
  // OK: true when the password was accepted. Cancel leaves it refused.
  bool Ok();
  void Cancel();

  const Panel& Controls() const { return panel_; }
  std::string Title() const { return "Login"; }
  // The trimmed text OK took (the station's password text).
  const std::string& PasswordText() const { return password_; }
  bool Accepted() const { return accepted_; }
  bool Closed() const { return closed_; }

 private:
  std::function<void()> refresh_captions_;
  Panel panel_;
  std::string password_;
  bool accepted_ = false;
  bool closed_ = false;
};

class CRegisterToolDlg {
 public:
  explicit CRegisterToolDlg(std::function<void()> refresh_captions = {})
      : refresh_captions_(std::move(refresh_captions)) {}
  void Open() {
    if (refresh_captions_) refresh_captions_();
  }
  std::string Title() const { return "Register Tool"; }

 private:
  std::function<void()> refresh_captions_;
};

}  // namespace linetool::app
