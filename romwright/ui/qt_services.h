#pragma once
// The desktop's side of the window's seams: message boxes shown modally and
// documents opened with the desktop's handler.

#include <QPointer>
#include <QWidget>

#include "platform/desktop_opener.h"
#include "platform/message_sink.h"

namespace romwright::ui {

// Shows each box modally over `parent` (its caption, or the parent's title).
class QtMessageSink final : public platform::MessageSink {
 public:
  using platform::MessageSink::Show;
  platform::MessageAnswer Show(const platform::MessageBox& box) override;
  void SetParent(QWidget* parent) { parent_ = parent; }

 private:
  QPointer<QWidget> parent_;
};

// Opens a file that is there with the desktop's handler for its kind.
class QtDesktopOpener final : public platform::DesktopOpener {
 public:
  bool Open(const std::string& host_path) override;
};

}  // namespace romwright::ui
