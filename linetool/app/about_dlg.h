#pragma once
// The About box the system menu's "About" entry (command 0x10) opens: title
// "About LineTool", the version line and an "Ok" button.

#include <string>

#include "linetool/profile/line_engine.h"

namespace linetool::app {

struct CAboutDlg {
  std::string title;
  std::string version;
  std::string ok;

  static CAboutDlg Of(const profile::CLineEngine& engine) {
    using profile::MessageId;
    return {std::string(engine.Text(MessageId::kAboutTitle)), std::string(engine.Text(MessageId::kVersionLine)),
            std::string(engine.Text(MessageId::kAboutOk))};
  }
};

}  // namespace linetool::app
