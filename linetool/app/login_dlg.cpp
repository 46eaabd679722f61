#include "linetool/app/login_dlg.h"

#include <algorithm>
#include <cctype>

#include "linetool/app/text_filters.h"
#include "linetool/app/window_dialogs.h"

namespace linetool::app {

namespace {

constexpr std::string_view kEngineeringPassword = "MORVELA";

}  // namespace

bool PasswordAccepted(std::string_view typed) {
  const std::string_view t = TrimBlanks(typed);
  return !t.empty() && t.size() == kEngineeringPassword.size() &&
         std::equal(t.begin(), t.end(), kEngineeringPassword.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

void WindowDialogs::ShowLogin(CLoginDlg& dialog) { dialog.Cancel(); }

CLoginDlg::CLoginDlg(std::function<void()> refresh_captions) : refresh_captions_(std::move(refresh_captions)) {
  panel_[ids::login::kPasswordLabel].text = "Password";
  panel_[ids::login::kPassword].limit = kPasswordLimit;
  panel_[ids::login::kOk].text = "OK";
  panel_[ids::login::kCancel].text = "Cancel";
}

void CLoginDlg::Open() {
  password_.clear();
  panel_[ids::login::kPassword].text.clear();
  accepted_ = false;
  closed_ = false;
  if (refresh_captions_) refresh_captions_();
}

std::string CLoginDlg::EditText(const std::string& typed) {
  std::string& text = panel_[ids::login::kPassword].text;
  text = typed.substr(0, kPasswordLimit);
  return text;
}

bool CLoginDlg::Ok() {
  password_ = std::string(TrimBlanks(panel_.At(ids::login::kPassword).text));
  accepted_ = PasswordAccepted(password_);
  closed_ = true;
  return accepted_;
}

void CLoginDlg::Cancel() {
  accepted_ = false;
  closed_ = true;
}

}  // namespace linetool::app
