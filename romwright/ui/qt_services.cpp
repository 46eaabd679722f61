#include "romwright/ui/qt_services.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include "romwright/ui/dialogs.h"

namespace romwright::ui {

platform::MessageAnswer QtMessageSink::Show(const platform::MessageBox& box) {
  using platform::MessageButtons;
  QMessageBox m(parent_);
  m.setWindowTitle(box.caption.empty() && parent_ ? parent_->windowTitle() : Q(box.caption));
  m.setText(Q(box.text));
  switch (box.icon) {
    case platform::MessageIcon::kInformation: m.setIcon(QMessageBox::Information); break;
    case platform::MessageIcon::kWarning: m.setIcon(QMessageBox::Warning); break;
    case platform::MessageIcon::kError: m.setIcon(QMessageBox::Critical); break;
    case platform::MessageIcon::kQuestion: m.setIcon(QMessageBox::Question); break;
    case platform::MessageIcon::kNone: break;
  }
  switch (box.buttons) {
    case MessageButtons::kOk: m.setStandardButtons(QMessageBox::Ok); break;
    case MessageButtons::kOkCancel: m.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MessageButtons::kYesNo: m.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MessageButtons::kYesNoCancel:
      m.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
    case MessageButtons::kRetryCancel: m.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel); break;
  }
  switch (m.exec()) {
    case QMessageBox::Cancel: return platform::MessageAnswer::kCancel;
    case QMessageBox::Yes: return platform::MessageAnswer::kYes;
    case QMessageBox::No: return platform::MessageAnswer::kNo;
    case QMessageBox::Retry: return platform::MessageAnswer::kRetry;
    case QMessageBox::Ok: return platform::MessageAnswer::kOk;
    default: return box.buttons == MessageButtons::kOk ? platform::MessageAnswer::kOk : platform::MessageAnswer::kCancel;
  }
}

bool QtDesktopOpener::Open(const std::string& host_path) {
  const QString path = QString::fromStdString(host_path);
  if (!QFileInfo(path).isFile()) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace romwright::ui
