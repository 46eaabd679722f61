#pragma once
// The pickers and dialogs of a station without a window (the command line, the
// benchmarks): every picker is cancelled and every dialog declined.

#include <optional>
#include <string>

#include "linetool/app/line_tool_presenter.h"

namespace linetool::app {

class NoWindowDialogs final : public FileChooser, public WindowDialogs {
 public:
  std::optional<std::string> OpenFile(const std::string&, const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> SaveFile(const std::string&, const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> ChooseFolder(const std::string&, const std::string&) override { return std::nullopt; }
  std::optional<std::string> AskPassword() override { return std::nullopt; }
  bool EditMoreConfig(MoreConfigFlags&) override { return false; }
};

}  // namespace linetool::app
