#include "linetool/ui/station_dialogs.h"

#include <QApplication>
#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <map>
#include <memory>

#include "linetool/app/about_dlg.h"
#include "linetool/app/debug_dlg.h"
#include "linetool/app/device_cfg_dlg.h"
#include "linetool/app/device_info_dlg.h"
#include "linetool/app/last_records.h"
#include "linetool/app/login_dlg.h"
#include "linetool/ui/artwork.h"
#include "linetool/ui/control_binding.h"
#include "linetool/ui/texts.h"
#include "tools/qt/file_dialogs.h"

namespace linetool::ui {

namespace {

// A file picker opens this large, so that names, sizes and dates show.
constexpr QSize kPickerSize(760, 480);

QString TextOf(const app::Panel& panel, int id) { return QtText(panel.At(id).text); }

QPushButton* Button(QWidget* parent, const app::Panel& panel, int id, const char* name) {
  auto* b = new QPushButton(TextOf(panel, id), parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

QFont FixedPitch() {
  QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setPixelSize(13);
  return f;
}

}  // namespace

StationDialogs::StationDialogs(std::function<std::string(const std::string&)> host_path_of)
    : host_path_of_(std::move(host_path_of)) {}

QWidget* StationDialogs::Parent() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return parent_;
}

std::optional<std::string> StationDialogs::PickFile(bool save, const std::string& filter,
                                                    const std::string& default_extension,
                                                    const std::string& host_folder) {
  QFileDialog dialog(Parent(), save ? QStringLiteral("Save As") : QStringLiteral("Open"), QtText(host_folder),
                     QtFileFilter(filter));
  dialog.setObjectName(save ? "saveFileDialog" : "openFileDialog");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!default_extension.empty()) dialog.setDefaultSuffix(QtText(default_extension));
  dialog.resize(kPickerSize);
  qt_views::FitDetailColumns(dialog);
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
  QFileDialog dialog(Parent(), QtText(title));
  dialog.setObjectName("folderDialog");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.resize(kPickerSize);
  qt_views::FitDetailColumns(dialog);
  if (!initial.empty()) {
    const QFileInfo folder(QString::fromStdString(host_path_of_ ? host_path_of_(initial) : initial));
    dialog.setDirectory(folder.absolutePath());
    dialog.selectFile(folder.fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

void StationDialogs::ShowLogin(app::CLoginDlg& login) {
  namespace l = app::ids::login;
  const app::Panel& panel = login.Controls();
  QDialog dialog(Parent());
  dialog.setObjectName("loginDialog");
  dialog.setWindowTitle(QtText(login.Title()));
  auto* layout = new QGridLayout(&dialog);
  auto* label = new QLabel(TextOf(panel, l::kPasswordLabel), &dialog);
  auto* edit = new QLineEdit(&dialog);
  edit->setObjectName("password");
  edit->setMaxLength(static_cast<int>(panel.At(l::kPassword).limit));
  edit->setEchoMode(QLineEdit::Password);
  edit->setMinimumWidth(180);
  label->setBuddy(edit);
  QObject::connect(edit, &QLineEdit::textEdited, [&login, edit](const QString& typed) {
    const QString kept = QtText(login.EditText(StationText(typed)));
    if (edit->text() != kept) edit->setText(kept);
  });
  auto* ok = Button(&dialog, panel, l::kOk, "ok");
  ok->setDefault(true);
  auto* cancel = Button(&dialog, panel, l::kCancel, "cancel");
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton(ok, QDialogButtonBox::AcceptRole);
  buttons->addButton(cancel, QDialogButtonBox::RejectRole);
  layout->addWidget(label, 0, 0);
  layout->addWidget(edit, 0, 1);
  layout->addWidget(buttons, 1, 0, 1, 2);
  if (dialog.exec() == QDialog::Accepted) {
    login.Ok();
  } else {
    login.Cancel();
  }
}

void StationDialogs::ShowMoreConfig(app::CDeviceCfgDlg& config) {
  namespace c = app::ids::cfg;
  const app::Panel& panel = config.Controls();
  QDialog dialog(Parent());
  dialog.setObjectName("deviceConfigDialog");
  dialog.setWindowTitle(QString());
  std::map<int, QWidget*> widgets;
  auto* layout = new QVBoxLayout(&dialog);
  auto add_group = [&](int id, const std::vector<int>& boxes) {
    auto* group = new QGroupBox(TextOf(panel, id), &dialog);
    widgets[id] = group;
    auto* grid = new QGridLayout(group);
    int n = 0;
    for (int box_id : boxes) {
      auto* box = new QCheckBox(TextOf(panel, box_id), group);
      box->setObjectName(QStringLiteral("box_%1").arg(box_id));
      widgets[box_id] = box;
      QObject::connect(box, &QCheckBox::clicked, [&config, &widgets, box_id](bool checked) {
        config.SetCheck(box_id, checked);
        ApplyPanel(widgets, config.Controls());
      });
      // Only the boxes shown take a place: the hidden ones leave no gap.
      if (!panel.At(box_id).visible) continue;
      grid->addWidget(box, n / 2, n % 2);
      ++n;
    }
    layout->addWidget(group);
  };
  add_group(c::kSpecifiedFlag, std::vector<int>(std::begin(c::kSpecifiedFlags), std::end(c::kSpecifiedFlags)));
  add_group(c::kDualImage, {c::kImage0, c::kImage1, c::kGenerateCrc32});
  // OK and Cancel only close: every click is written already.
  auto* buttons = new QDialogButtonBox(&dialog);
  auto* ok = Button(&dialog, panel, c::kOk, "ok");
  auto* cancel = Button(&dialog, panel, c::kCancel, "cancel");
  ok->setIcon(ArtworkIcon(kIconCheckOn));
  cancel->setIcon(ArtworkIcon(182));
  buttons->addButton(ok, QDialogButtonBox::AcceptRole);
  buttons->addButton(cancel, QDialogButtonBox::RejectRole);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  ApplyPanel(widgets, panel);
  dialog.exec();
}

void StationDialogs::ShowCheckConfig(app::CDebugDlg& debug) {
  namespace d = app::ids::debug;
  const app::Panel& panel = debug.Controls();
  QDialog dialog(Parent());
  dialog.setObjectName("checkConfigDialog");
  dialog.setWindowTitle(QtText(debug.Title()));
  std::map<int, QWidget*> widgets;
  auto refresh = [&] { ApplyPanel(widgets, debug.Controls()); };
  auto label = [&](int id) {
    auto* l = new QLabel(TextOf(panel, id), &dialog);
    widgets[id] = l;
    return l;
  };
  auto list = [&](int id, const char* name) {
    auto* c = new QComboBox(&dialog);
    c->setObjectName(name);
    c->setMinimumWidth(64);
    widgets[id] = c;
    QObject::connect(c, &QComboBox::activated, [&, id](int index) {
      debug.SelectItem(id, index);
      refresh();
    });
    return c;
  };
  auto edit = [&](int id, const char* name) {
    auto* e = new QLineEdit(&dialog);
    e->setObjectName(name);
    e->setFixedWidth(QFontMetrics(e->font()).horizontalAdvance(QStringLiteral("0x0000")) + 16);
    widgets[id] = e;
    QObject::connect(e, &QLineEdit::textEdited, [&, id](const QString& text) {
      debug.EditText(id, StationText(text));
    });
    return e;
  };
  auto button = [&](int id, const char* name) {
    auto* b = Button(&dialog, panel, id, name);
    widgets[id] = b;
    QObject::connect(b, &QPushButton::clicked, [&, id] {
      debug.Command(id);
      refresh();
    });
    return b;
  };

  auto* layout = new QGridLayout(&dialog);
  auto* selection = new QHBoxLayout;
  selection->addWidget(label(d::kPortLabel));
  selection->addWidget(list(d::kSelectPort, "port"));
  selection->addSpacing(16);
  selection->addWidget(label(d::kImageLabel));
  selection->addWidget(list(d::kImage, "image"));
  selection->addStretch();
  layout->addLayout(selection, 0, 0, 1, 2);

  auto* read = new QGroupBox(QStringLiteral("Read"), &dialog);
  auto* read_grid = new QGridLayout(read);
  read_grid->addWidget(label(d::kReadAddressLabel), 0, 0);
  read_grid->addWidget(edit(d::kReadAddress, "readAddress"), 0, 1);
  read_grid->addWidget(label(d::kReadAddressHint), 0, 2);
  read_grid->addWidget(label(d::kReadLengthLabel), 1, 0);
  read_grid->addWidget(edit(d::kReadLength, "readLength"), 1, 1);
  read_grid->addWidget(label(d::kReadLengthHint), 1, 2);
  read_grid->addWidget(button(d::kReadRegister, "readRegister"), 2, 0, 1, 3);
  auto* write = new QGroupBox(QStringLiteral("Write"), &dialog);
  auto* write_grid = new QGridLayout(write);
  write_grid->addWidget(label(d::kWriteAddressLabel), 0, 0);
  write_grid->addWidget(edit(d::kWriteAddress, "writeAddress"), 0, 1);
  write_grid->addWidget(label(d::kWriteAddressHint), 0, 2);
  write_grid->addWidget(label(d::kWriteValueLabel), 1, 0);
  write_grid->addWidget(edit(d::kWriteValue, "writeValue"), 1, 1);
  write_grid->addWidget(label(d::kWriteValueHint), 1, 2);
  write_grid->addWidget(button(d::kWriteRegister, "writeRegister"), 2, 0, 1, 3);
  auto* commands = new QVBoxLayout;
  commands->addWidget(read);
  commands->addWidget(write);
  commands->addWidget(button(d::kReadConfigTable, "readConfigTable"));
  commands->addWidget(button(d::kDeviceInfo, "deviceInfo"));
  commands->addStretch();
  layout->addLayout(commands, 1, 0);

  // The hex grid: captions above and beside, all in one fixed pitch.
  auto* hex = new QGridLayout;
  hex->setSpacing(4);
  QLabel* columns = label(d::kColumnCaption);
  auto* rows = new QLabel(TextOf(panel, d::kRowCaption).replace(QLatin1Char(' '), QLatin1Char('\n')), &dialog);
  QLabel* output = label(d::kOutput);
  output->setObjectName("output");
  for (QLabel* l : {columns, rows, output}) {
    l->setFont(FixedPitch());
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }
  // The captions take the grid's border and padding (unseen), so their
  // lines and columns start where the grid's do.
  rows->setObjectName("rowCaption");
  columns->setObjectName("columnCaption");
  columns->setStyleSheet(QStringLiteral("color: #1f5d9e; font-weight: bold; border: 1px solid transparent; padding: 2px;"));
  rows->setStyleSheet(QStringLiteral("color: #1f5d9e; font-weight: bold; border: 1px solid transparent; padding: 2px;"));
  output->setStyleSheet(QStringLiteral("background: white; border: 1px solid #8aa0b8; padding: 2px;"));
  output->setTextInteractionFlags(Qt::TextSelectableByMouse);
  const QFontMetrics metrics(FixedPitch());
  output->setMinimumSize(metrics.horizontalAdvance(QString(47, QLatin1Char('0'))) + 16, metrics.lineSpacing() * 16 + 8);
  hex->addWidget(columns, 0, 1);
  hex->addWidget(rows, 1, 0);
  hex->addWidget(output, 1, 1);
  layout->addLayout(hex, 1, 1);

  auto* cancel = button(d::kCancel, "cancel");
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  layout->addWidget(cancel, 2, 1, Qt::AlignRight);
  refresh();
  dialog.exec();
}

void StationDialogs::ShowDeviceInfo(app::CDeviceInfoDlg& info) {
  QDialog dialog(Parent());
  dialog.setObjectName("deviceInfoDialog");
  dialog.setWindowTitle(QtText(info.Title()));
  auto* layout = new QVBoxLayout(&dialog);
  auto* config = new QGroupBox(QStringLiteral("Config Info"), &dialog);
  auto* config_layout = new QVBoxLayout(config);
  const auto columns = app::CDeviceInfoDlg::Columns();
  const auto status = info.StatusRow();
  auto* table = new QTableWidget(1, static_cast<int>(columns.size()), config);
  table->setObjectName("list");
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();
  for (std::size_t c = 0; c < columns.size(); ++c) {
    table->setHorizontalHeaderItem(static_cast<int>(c), new QTableWidgetItem(QtText(columns[c])));
    auto* cell = new QTableWidgetItem(c < status.size() ? QtText(status[c]) : QString());
    cell->setTextAlignment(Qt::AlignCenter);
    table->setItem(0, static_cast<int>(c), cell);
    table->setColumnWidth(static_cast<int>(c), c == 0 || c + 1 == columns.size() ? 74 : 44);
  }
  table->setFixedHeight(table->horizontalHeader()->sizeHint().height() + table->rowHeight(0) + 4);
  table->setMinimumWidth(8 * 44 + 2 * 74 + 4);
  config_layout->addWidget(table);
  auto* uasp = new QGroupBox(QStringLiteral("UASP"), &dialog);
  auto* uasp_layout = new QVBoxLayout(uasp);
  auto* report = new QLabel(QtText(info.Report()), uasp);
  report->setObjectName("report");
  report->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  report->setMinimumHeight(90);
  uasp_layout->addWidget(report);
  layout->addWidget(config);
  layout->addWidget(uasp);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.exec();
}

void StationDialogs::ShowAbout(const app::CAboutDlg& box) {
  QDialog dialog(Parent());
  dialog.setObjectName("aboutDialog");
  dialog.setWindowTitle(QtText(box.title));
  auto* layout = new QGridLayout(&dialog);
  auto* icon = new QLabel(&dialog);
  icon->setPixmap(ApplicationIcon().pixmap(56, 56));
  auto* version = new QLabel(QtText(box.version), &dialog);
  version->setObjectName("version");
  QFont bold = version->font();
  bold.setBold(true);
  version->setFont(bold);
  auto* ok = new QPushButton(QtText(box.ok), &dialog);
  ok->setObjectName("ok");
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  layout->addWidget(icon, 0, 0, 2, 1);
  layout->addWidget(version, 0, 1);
  layout->addWidget(ok, 1, 1, Qt::AlignRight);
  layout->setHorizontalSpacing(16);
  dialog.exec();
}

void StationDialogs::ShowLastRecords(app::LastRecords& records) {
  QDialog dialog(Parent());
  dialog.setObjectName("lastRecordsDialog");
  dialog.setWindowTitle(QtText(records.Title()));
  auto* layout = new QVBoxLayout(&dialog);
  const auto& columns = app::LastRecords::Columns();
  auto* table = new QTableWidget(0, static_cast<int>(columns.size()), &dialog);
  table->setObjectName("records");
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
  for (std::size_t c = 0; c < columns.size(); ++c)
    table->setHorizontalHeaderItem(static_cast<int>(c), new QTableWidgetItem(QtText(columns[c])));
  auto* message = new QLabel(&dialog);
  message->setObjectName("message");
  message->setWordWrap(true);
  auto* lost = new QLabel(&dialog);
  lost->setObjectName("lost");
  lost->setWordWrap(true);
  lost->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
  auto* buttons = new QDialogButtonBox(&dialog);
  auto* refresh = buttons->addButton(QStringLiteral("Refresh"), QDialogButtonBox::ActionRole);
  refresh->setObjectName("refresh");
  auto* close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
  close->setObjectName("close");
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(table);
  layout->addWidget(message);
  layout->addWidget(lost);
  layout->addWidget(buttons);

  QDialog* const view = &dialog;
  const auto show = std::make_shared<std::function<void()>>([&records, view, table, message, lost, refresh] {
    const app::LastRecords::State state = records.Current();
    table->setRowCount(static_cast<int>(state.rows.size()));
    for (std::size_t r = 0; r < state.rows.size(); ++r) {
      const app::LastRecordsRow& row = state.rows[r];
      for (std::size_t c = 0; c < row.texts.size(); ++c) {
        auto* cell = new QTableWidgetItem(QtText(row.texts[c]));
        cell->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
        if (static_cast<int>(c) == app::LastRecords::kResultColumn && !row.passed) {
          cell->setBackground(QBrush(Qt::red));
          cell->setForeground(QBrush(Qt::white));
        }
        table->setItem(static_cast<int>(r), static_cast<int>(c), cell);
      }
    }
    table->setCurrentItem(nullptr);
    // Every column at its contents' width (with room to spare), the dialog as wide as they need.
    table->resizeColumnsToContents();
    int width = 0;
    for (int c = 0; c < table->columnCount(); ++c) {
      table->setColumnWidth(c, table->columnWidth(c) + 12);
      width += table->columnWidth(c);
    }
    table->setMinimumWidth(width + table->verticalScrollBar()->sizeHint().width() + 2 * table->frameWidth());
    if (view->width() < view->minimumSizeHint().width()) view->resize(view->minimumSizeHint().width(), view->height());
    message->setText(QtText(state.reading ? "Reading the records ..." : state.message));
    message->setStyleSheet(state.unreadable ? QStringLiteral("color: #c00000; font-weight: bold;") : QString());
    refresh->setEnabled(!state.reading);
    const std::string notes = state.lost + (state.lost.empty() || state.waiting.empty() ? "" : "\n") + state.waiting;
    lost->setText(QtText(notes));
    lost->setVisible(!notes.empty());
  });
  // Reads are answered on the records' own thread: the view updates on this one.
  const QPointer<QDialog> open(&dialog);
  records.SetObserver([open, show] {
    QMetaObject::invokeMethod(
        qApp,
        [open, show] {
          if (open) (*show)();
        },
        Qt::QueuedConnection);
  });
  QObject::connect(refresh, &QPushButton::clicked, [&records, show] {
    records.Refresh();
    (*show)();
  });
  (*show)();
  dialog.resize(dialog.sizeHint().width(), 460);
  dialog.exec();
  records.SetObserver({});
}

}  // namespace linetool::ui
