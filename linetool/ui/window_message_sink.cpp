#include "linetool/ui/window_message_sink.h"

#include <QMessageBox>

#include "linetool/ui/texts.h"

namespace linetool::ui {

namespace {

QMessageBox::Icon IconOf(platform::MessageIcon icon) {
  switch (icon) {
    case platform::MessageIcon::kInformation: return QMessageBox::Information;
    case platform::MessageIcon::kWarning: return QMessageBox::Warning;
    case platform::MessageIcon::kError: return QMessageBox::Critical;
    case platform::MessageIcon::kQuestion: return QMessageBox::Question;
    case platform::MessageIcon::kNone: break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ButtonsOf(platform::MessageButtons buttons) {
  switch (buttons) {
    case platform::MessageButtons::kOkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case platform::MessageButtons::kYesNo: return QMessageBox::Yes | QMessageBox::No;
    case platform::MessageButtons::kYesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case platform::MessageButtons::kRetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    case platform::MessageButtons::kOk: break;
  }
  return QMessageBox::Ok;
}

platform::MessageAnswer AnswerOf(int button) {
  switch (button) {
    case QMessageBox::Cancel: return platform::MessageAnswer::kCancel;
    case QMessageBox::Yes: return platform::MessageAnswer::kYes;
    case QMessageBox::No: return platform::MessageAnswer::kNo;
    case QMessageBox::Retry: return platform::MessageAnswer::kRetry;
    default: return platform::MessageAnswer::kOk;
  }
}

}  // namespace

WindowMessageSink::WindowMessageSink(QObject* parent)
    : QObject(parent), window_thread_(std::this_thread::get_id()) {}

platform::MessageAnswer WindowMessageSink::Show(const platform::MessageBox& box) {
  if (std::this_thread::get_id() == window_thread_) return ShowNow(box);
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(box);
  }
  QMetaObject::invokeMethod(this, &WindowMessageSink::ShowQueued, Qt::QueuedConnection);
  return platform::DefaultAnswer(box.buttons);
}

void WindowMessageSink::ShowQueued() {
  for (;;) {
    platform::MessageBox box;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      box = std::move(queue_.front());
      queue_.pop_front();
    }
    ShowNow(box);
  }
}

platform::MessageAnswer WindowMessageSink::ShowNow(const platform::MessageBox& box) {
  {
    std::lock_guard lock(mutex_);
    shown_.push_back(box);
  }
  QMessageBox m(IconOf(box.icon), box.caption.empty() ? kApplicationCaption : QtText(box.caption),
                QtText(box.text), ButtonsOf(box.buttons), parent_);
  m.setObjectName("stationMessageBox");
  return AnswerOf(m.exec());
}

std::vector<platform::MessageBox> WindowMessageSink::Shown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

std::size_t WindowMessageSink::Queued() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

}  // namespace linetool::ui
