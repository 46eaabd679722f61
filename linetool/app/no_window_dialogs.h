#pragma once
// The pickers and dialogs of a station without a window (the command line, the
// benchmarks): every picker is cancelled and every dialog closed at once.

#include <optional>
#include <string>

#include "linetool/app/window_dialogs.h"

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
};

}  // namespace linetool::app
