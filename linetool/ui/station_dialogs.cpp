#include "linetool/ui/station_dialogs.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "linetool/ui/artwork.h"
#include "linetool/ui/texts.h"

namespace linetool::ui {

namespace {

// OK and Cancel as the station's dialogs show them.
QDialogButtonBox* OkCancel(QDialog& dialog, const QString& ok = QStringLiteral("OK")) {
  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton(ok, QDialogButtonBox::AcceptRole)->setObjectName("ok");
  buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole)->setObjectName("cancel");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  return buttons;
}

}  // namespace

StationDialogs::StationDialogs(std::function<std::string(const std::string&)> host_path_of)
    : host_path_of_(std::move(host_path_of)) {}

std::optional<std::string> StationDialogs::PickFile(bool save, const std::string& filter,
                                                    const std::string& default_extension,
                                                    const std::string& host_folder) {
  QFileDialog dialog(parent_, save ? QStringLiteral("Save As") : QStringLiteral("Open"), QtText(host_folder),
                     QtFileFilter(filter));
  dialog.setObjectName(save ? "saveFileDialog" : "openFileDialog");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!default_extension.empty()) dialog.setDefaultSuffix(QtText(default_extension));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> StationDialogs::OpenFile(const std::string& filter, const std::string& default_extension,
                                                    const std::string& host_folder) {
  return PickFile(false, filter, default_extension, host_folder);
}

std::optional<std::string> StationDialogs::SaveFile(const std::string& filter, const std::string& default_extension,
                                                    const std::string& host_folder) {
  return PickFile(true, filter, default_extension, host_folder);
}

std::optional<std::string> StationDialogs::ChooseFolder(const std::string& title, const std::string& initial) {
  QFileDialog dialog(parent_, QtText(title));
  dialog.setObjectName("folderDialog");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setLabelText(QFileDialog::LookIn, QtText(title));
  if (!initial.empty()) {
    const QString host = QString::fromStdString(host_path_of_ ? host_path_of_(initial) : initial);
    dialog.setDirectory(host);
    dialog.selectFile(host);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> StationDialogs::AskPassword() {
  QDialog dialog(parent_);
  dialog.setObjectName("loginDialog");
  dialog.setWindowTitle(QStringLiteral("Login"));
  auto* layout = new QGridLayout(&dialog);
  auto* label = new QLabel(QStringLiteral("Password"), &dialog);
  auto* edit = new QLineEdit(&dialog);
  edit->setObjectName("password");
  edit->setMaxLength(7);
  edit->setEchoMode(QLineEdit::Password);
  edit->setMinimumWidth(160);
  label->setBuddy(edit);
  layout->addWidget(label, 0, 0);
  layout->addWidget(edit, 0, 1);
  layout->addWidget(OkCancel(dialog), 1, 0, 1, 2);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return StationText(edit->text());
}

bool StationDialogs::EditMoreConfig(app::MoreConfigFlags& flags) {
  QDialog dialog(parent_);
  dialog.setObjectName("deviceConfigDialog");
  dialog.setWindowTitle(QString());
  auto* layout = new QVBoxLayout(&dialog);
  auto* group = new QGroupBox(QStringLiteral("Specified Flag"), &dialog);
  auto* grid = new QGridLayout(group);
  struct Box {
    const char* caption;
    std::uint8_t* flag;
  };
  const Box boxes[] = {{"Customized String", &flags.customized_string},
                       {"Eup Enabled", &flags.eup_enable},
                       {"Two LEDS", &flags.two_leds},
                       {"HDD Standby", &flags.hdd_standby},
                       {"WHCK", &flags.U1U2},
                       {"2TB", &flags.two_tb},
                       {"HDDSN", &flags.slow_enumeration},
                       {"HDD Power Control", &flags.HDDPC}};
  int n = 0;
  for (const Box& b : boxes) {
    auto* check = new QCheckBox(QString::fromLatin1(b.caption), group);
    check->setObjectName(QString::fromLatin1(b.caption));
    check->setChecked(*b.flag != 0);
    QObject::connect(check, &QCheckBox::toggled, [flag = b.flag](bool on) { *flag = on ? 1 : 0; });
    grid->addWidget(check, n / 2, n % 2);
    ++n;
  }
  layout->addWidget(group);
  layout->addWidget(OkCancel(dialog));
  return dialog.exec() == QDialog::Accepted;
}

void StationDialogs::ShowAbout() {
  QDialog dialog(parent_);
  dialog.setObjectName("aboutDialog");
  dialog.setWindowTitle(QStringLiteral("About LineTool"));
  auto* layout = new QGridLayout(&dialog);
  auto* icon = new QLabel(&dialog);
  icon->setPixmap(ApplicationIcon().pixmap(48, 48));
  auto* version = new QLabel(QStringLiteral("Kelv 770 LineTool Ver 2.0.2"), &dialog);
  version->setObjectName("version");
  auto* ok = new QPushButton(QStringLiteral("Ok"), &dialog);
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  layout->addWidget(icon, 0, 0, 2, 1);
  layout->addWidget(version, 0, 1);
  layout->addWidget(ok, 1, 1, Qt::AlignRight);
  dialog.exec();
}

}  // namespace linetool::ui
