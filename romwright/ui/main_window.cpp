#include "romwright/ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QLocale>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QToolBar>

#include "romwright/app/chip_search_presenter.h"
#include "romwright/ui/app_font.h"
#include "romwright/ui/dialogs.h"
#include "romwright/ui/hex_view_widget.h"
#include "tools/qt/file_dialogs.h"

namespace romwright::ui {

namespace {
namespace cmd = app::command;

// A dialog unit is a quarter of the window font's average character width
// and an eighth of its height.
struct Units {
  double x, y;
};
const Units& DialogUnits() {
  static const Units units = [] {
    const QFontMetrics fm(WindowFont());
    const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const int average = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    return Units{average / 4.0, fm.height() / 8.0};
  }();
  return units;
}
// The toolbar takes the top 38 units of the dialog; the controls below it
// keep their places.
constexpr int kToolbarUnits = 38;

QColor ColourOf(app::Rgb c) { return QColor(c.r, c.g, c.b); }

QStyle::StandardPixmap IconOf(std::uint32_t id) {
  switch (id) {
    case cmd::kOpen: return QStyle::SP_DialogOpenButton;
    case cmd::kSave: return QStyle::SP_DialogSaveButton;
    case cmd::kBufferFill: return QStyle::SP_FileDialogDetailedView;
    case cmd::kByteSwap: return QStyle::SP_BrowserReload;
    case cmd::kAuto: return QStyle::SP_MediaPlay;
    case cmd::kChipErase: return QStyle::SP_TrashIcon;
    case cmd::kWriteChip: return QStyle::SP_ArrowUp;
    case cmd::kVerifyChip: return QStyle::SP_DialogApplyButton;
    case cmd::kReadChip: return QStyle::SP_ArrowDown;
    case cmd::kDetectChip: return QStyle::SP_FileDialogContentsView;
    case cmd::kReadFirmwareVersion: return QStyle::SP_ComputerIcon;
    case cmd::kUpdateFirmware: return QStyle::SP_DriveHDIcon;
    case cmd::kUserManual: return QStyle::SP_FileIcon;
    default: return QStyle::SP_MessageBoxInformation;
  }
}

// A toolbar icon whose disabled look is plainly faded: the style's own
// greying leaves grey icons (the bin of Erase) looking as they do enabled.
QIcon ToolbarIcon(const QIcon& icon, const QSize& size) {
  QIcon out;
  for (const qreal scale : {1.0, 2.0}) {
    const QPixmap normal = icon.pixmap(size, scale);
    QPixmap faded(normal.size());
    faded.setDevicePixelRatio(normal.devicePixelRatio());
    faded.fill(Qt::transparent);
    QPainter p(&faded);
    p.setOpacity(0.25);
    p.drawPixmap(0, 0, normal);
    p.end();
    out.addPixmap(normal, QIcon::Normal);
    out.addPixmap(faded, QIcon::Disabled);
  }
  return out;
}

bool IsOperation(std::uint32_t id) {
  switch (id) {
    case cmd::kAuto: case cmd::kChipErase: case cmd::kWriteChip: case cmd::kReadChip:
    case cmd::kVerifyChip: case cmd::kDetectChip: case cmd::kReadFirmwareVersion:
    case cmd::kSelfTest: case cmd::kReadSerialNumber: case cmd::kUpdateFirmware:
      return true;
    default:
      return false;
  }
}
}  // namespace

QRect MainWindow::DialogRect(int x, int y, int w, int h) {
  const Units& u = DialogUnits();
  const auto px = [](double v) { return static_cast<int>(v + 0.5); };
  return QRect(px(x * u.x), px((y - kToolbarUnits) * u.y), px(w * u.x), px(h * u.y));
}

namespace {
app::MainWindowServices WithSink(app::MainWindowServices s, platform::MessageSink& sink) {
  return app::MainWindowServices{.clock = s.clock,
                                 .sink = sink,
                                 .usb = s.usb,
                                 .opener = s.opener,
                                 .settings_host_path = std::move(s.settings_host_path),
                                 .host_workdir = std::move(s.host_workdir),
                                 .settings_defaults_host_path = std::move(s.settings_defaults_host_path),
                                 .no_programmer_hint = std::move(s.no_programmer_hint),
                                 .log_host_folder = std::move(s.log_host_folder)};
}
}  // namespace

MainWindow::MainWindow(app::MainWindowServices services, QWidget* parent)
    : QMainWindow(parent), startup_sink_(services.sink), presenter_(WithSink(std::move(services), startup_sink_), this) {
  setAcceptDrops(true);
  BuildControls();
  connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
}

MainWindow::~MainWindow() { timer_.stop(); }

void MainWindow::BuildControls() {
  auto* central = new QWidget(this);
  setCentralWidget(central);
  const QRect whole = DialogRect(0, kToolbarUnits, 531, 345 - kToolbarUnits);
  central->setFixedSize(whole.size());

  chip_group = new QGroupBox(central);
  // Eight units taller than the panel's rows need, down to the picture: room
  // for the two lines of the byte-order note of 16-bit chips.
  chip_group->setGeometry(DialogRect(7, 38, 122, 121));
  // The panel's controls are placed in the window's units, relative to the group.
  const QPoint group_at = chip_group->geometry().topLeft();
  auto in_group = [&](QWidget* w, QRect r) { w->setGeometry(r.translated(-group_at)); };
  search_button = new QPushButton(chip_group);
  in_group(search_button, DialogRect(66, 47, 58, 18));
  // The chip rows: a label and its list, in the window's units.
  const struct {
    QLabel** label;
    int label_y;
    QComboBox** list;
    int list_y;
  } rows[] = {{&type_label, 69, &type_list, 67},
              {&manufacturer_label, 90, &manufacturer_list, 88},
              {&chip_label, 109, &chip_list, 107}};
  for (const auto& row : rows) {
    *row.label = new QLabel(chip_group);
    in_group(*row.label, DialogRect(12, row.label_y, 20, 12));
    *row.list = new QComboBox(chip_group);
    in_group(*row.list, DialogRect(32, row.list_y, 92, 14));
    (*row.list)->setMaxVisibleItems(20);
  }
  capacity_label = new QLabel(chip_group);
  in_group(capacity_label, DialogRect(12, 129, 38, 12));
  capacity_text = new QLabel(chip_group);
  capacity_text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  in_group(capacity_text, DialogRect(51, 129, 76, 12));
  // The byte-order note of a 16-bit chip, under the capacity, across the panel.
  byte_order_note = new QLabel(chip_group);
  byte_order_note->setWordWrap(true);
  byte_order_note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  in_group(byte_order_note, DialogRect(12, 140, 115, 18));

  picture = new QLabel(central);
  picture->setGeometry(DialogRect(7, 161, 118, 99));
  picture->setFrameShape(QFrame::StyledPanel);
  picture->setAlignment(Qt::AlignCenter);

  hex_view = new HexViewWidget(central);
  const QRect hex_rect = DialogRect(131, 38, 386, 275);
  hex_view->setGeometry(hex_rect);
  scroll_bar = new QScrollBar(Qt::Vertical, central);
  scroll_bar->setGeometry(hex_rect.right() + 1, hex_rect.top(), DialogRect(0, 0, 12, 0).width(), hex_rect.height());

  progress = new QProgressBar(central);
  progress->setGeometry(DialogRect(7, 297, 99, 16));
  progress->setRange(0, 100);
  progress->setTextVisible(false);
  percent = new QLabel(QStringLiteral("0%"), central);
  percent->setGeometry(DialogRect(108, 299, 22, 12));

  info_line = new QLabel(central);
  info_line->setGeometry(DialogRect(10, 324, 297, 12));
  checksum = new QLabel(central);
  checksum->setGeometry(DialogRect(317, 324, 95, 12));
  link_state = new QLabel(central);
  link_state->setGeometry(DialogRect(423, 323, 97, 12));
  link_state->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  toolbar_ = addToolBar(QStringLiteral("Toolbar"));
  toolbar_->setMovable(false);
  toolbar_->setFloatable(false);
  toolbar_->setIconSize(QSize(24, 24));

  connect(search_button, &QPushButton::clicked, this, [this] { SearchChip(); });
  connect(type_list, &QComboBox::activated, this, [this] {
    presenter_.TypeChanged(S(type_list->currentText()));
    SyncChipPanel();
  });
  connect(manufacturer_list, &QComboBox::activated, this, [this] {
    presenter_.ManufacturerChanged(S(manufacturer_list->currentText()));
    SyncChipPanel();
  });
  connect(chip_list, &QComboBox::activated, this, [this] {
    presenter_.ChipChanged(S(chip_list->currentText()));
    SyncChipPanel();
  });
  hex_view->on_type = [this](char c) {
    if (!presenter_.HexType(c)) return false;
    checksum->setText(Q(presenter_.Data().DataCommands().ChecksumText()));
    return true;
  };
  hex_view->on_scrolled = [this] { SyncHexView(); };
  connect(scroll_bar, &QScrollBar::actionTriggered, this, [this](int action) {
    if (!presenter_.Ready()) return;
    auto& model = presenter_.Data().HexView();
    switch (action) {
      case QAbstractSlider::SliderSingleStepAdd: model.LineDown(); break;
      case QAbstractSlider::SliderSingleStepSub: model.LineUp(); break;
      case QAbstractSlider::SliderPageStepAdd: model.PageDown(); break;
      case QAbstractSlider::SliderPageStepSub: model.PageUp(); break;
      case QAbstractSlider::SliderToMinimum: model.Thumb(0); break;
      case QAbstractSlider::SliderToMaximum: model.Thumb(model.ScrollRange()); break;
      case QAbstractSlider::SliderMove:
        model.Thumb(static_cast<std::uint32_t>(scroll_bar->sliderPosition()));
        break;
      default: return;
    }
    scroll_bar->setSliderPosition(static_cast<int>(model.ScrollPosition()));
    hex_view->update();
  });
}

void MainWindow::StartUp(const std::vector<std::string>& arguments) {
  startup_sink_.Hold();
  presenter_.StartUp(arguments);
  if (presenter_.Ready()) hex_view->SetModel(&presenter_.Data().HexView());
  Sync();
  timer_.start(20);
  OnTimer();
  startup_sink_.Release();
}

void MainWindow::ApplyLanguage() {
  const app::LanguageView& lang = presenter_.Language();
  UseQtTexts(presenter_.Texts().Language() == app::kLanguageChinese);
  if (menus_english_ != lang.english_menu) BuildMenus(lang.english_menu);
  actions_[cmd::kEnglish]->setChecked(lang.english_checked);
  actions_[cmd::kSimpleChinese]->setChecked(lang.chinese_checked);
  setWindowTitle(Q(presenter_.Title()));
  chip_group->setTitle(Q(lang.panel_labels[0]));
  type_label->setText(Q(lang.panel_labels[1]));
  manufacturer_label->setText(Q(lang.panel_labels[2]));
  chip_label->setText(Q(lang.panel_labels[3]));
  capacity_label->setText(Q(lang.panel_labels[4]));
  search_button->setText(Q(lang.panel_labels[5]));
  const QString pic_path = QString::fromStdString(presenter_.MainPicturePath());
  QPixmap pic;
  if (pic_path != picture_path_ && !pic_path.isEmpty() && pic.load(pic_path)) {
    picture_path_ = pic_path;
    picture->setPixmap(pic.scaled(picture->contentsRect().size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  }
}

// Qt's own texts (the buttons of message boxes and file pickers) in the
// window's language: its simplified Chinese translation, or its English.
void MainWindow::UseQtTexts(bool chinese) {
  if (chinese == qt_texts_chinese_) return;
  qt_texts_chinese_ = chinese;
  QCoreApplication::removeTranslator(&qt_translator_);
  if (chinese && qt_translator_.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(&qt_translator_);
  }
}

// The menus and toolbar of one language. Built again only when the language
// changes; the old ones go once the click that changed it has been delivered.
void MainWindow::BuildMenus(bool english) {
  menus_english_ = english;
  for (QMenu* m : menuBar()->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) m->deleteLater();
  menuBar()->clear();
  for (QAction* b : toolbar_->actions()) {
    if (b->parent() == toolbar_) b->deleteLater();
  }
  toolbar_->clear();
  actions_.clear();
  for (const auto& menu : app::MainMenu(english)) {
    QMenu* m = menuBar()->addMenu(QString::fromUtf8(menu.caption.data(), static_cast<qsizetype>(menu.caption.size())));
    for (const auto& item : menu.items) {
      if (item.id == 0) {
        m->addSeparator();
        continue;
      }
      QAction* a = m->addAction(QString::fromUtf8(item.caption.data(), static_cast<qsizetype>(item.caption.size())));
      a->setData(static_cast<uint>(item.id));
      const std::uint32_t id = item.id;
      connect(a, &QAction::triggered, this, [this, id] { RunCommand(id); });
      actions_[id] = a;
    }
  }
  actions_[cmd::kEnglish]->setCheckable(true);
  actions_[cmd::kSimpleChinese]->setCheckable(true);
  actions_[cmd::kOpen]->setShortcut(QKeySequence::Open);
  actions_[cmd::kSave]->setShortcut(QKeySequence::Save);
  // The toolbar of this language: its buttons are the menu's actions, with
  // the table's texts as tooltips.
  for (const auto& [id, tip] : app::kToolbarTooltips) {
    QAction* a = actions_[id];
    auto* b = new QAction(ToolbarIcon(style()->standardIcon(IconOf(id)), toolbar_->iconSize()), Q(presenter_.T(tip)),
                          toolbar_);
    b->setToolTip(Q(presenter_.T(tip)));
    b->setData(static_cast<uint>(id));
    connect(b, &QAction::triggered, a, &QAction::trigger);
    connect(a, &QAction::enabledChanged, b, &QAction::setEnabled);
    toolbar_->addAction(b);
    if (id == cmd::kSave || id == cmd::kByteSwap || id == cmd::kDetectChip || id == cmd::kUpdateFirmware) {
      toolbar_->addSeparator();
    }
  }
}

QAction* MainWindow::Action(std::uint32_t id) const {
  const auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::Sync() {
  ApplyLanguage();
  SyncChipPanel();
  const bool busy = presenter_.OperationRunning();
  for (auto& [id, a] : actions_) a->setEnabled(presenter_.CommandEnabled(id));
  search_button->setEnabled(presenter_.Ready() && !busy);
  link_state->setText(Q(presenter_.LinkText()));
  info_line->setText(Q(presenter_.Status().InfoText()));
  InfoChanged(presenter_.Status().InfoText(), presenter_.Status().InfoColour());
  ProgressChanged(presenter_.Status().ProgressPosition(), presenter_.Status().ProgressText(),
                  presenter_.Status().BarColour(), presenter_.Status().ProgressTextColour());
}

void MainWindow::SyncChipPanel() {
  if (!presenter_.Ready()) {
    for (QComboBox* c : {type_list, manufacturer_list, chip_list}) c->setEnabled(false);
    return;
  }
  const auto& panel = presenter_.Data().ChipPanel();
  auto fill = [](QComboBox* box, const std::vector<std::string>& items, const std::string& current) {
    const QSignalBlocker block(box);
    box->clear();
    for (const auto& i : items) box->addItem(Q(i));
    box->setCurrentIndex(box->findText(Q(current)));
  };
  fill(type_list, panel.TypeItems(), panel.TypeText());
  fill(manufacturer_list, panel.ManufacturerItems(), panel.ManufacturerText());
  fill(chip_list, panel.ChipItems(), panel.ChipText());
  capacity_text->setText(Q(panel.CapacityLine()));
  byte_order_note->setText(Q(panel.ByteOrderNote()));
  if (QAction* erase = Action(cmd::kChipErase)) erase->setEnabled(presenter_.CommandEnabled(cmd::kChipErase));
  setWindowTitle(Q(presenter_.Title()));
  SyncHexView();
}

void MainWindow::SyncHexView() {
  if (!presenter_.Ready()) return;
  auto& model = presenter_.Data().HexView();
  {
    const QSignalBlocker block(scroll_bar);
    scroll_bar->setRange(0, static_cast<int>(model.ScrollRange()));
    scroll_bar->setPageStep(static_cast<int>(
        std::max<std::uint32_t>(1, app::HexViewModel::kDataRows / model.ScrollStep())));
    scroll_bar->setValue(static_cast<int>(model.ScrollPosition()));
  }
  checksum->setText(Q(presenter_.Data().DataCommands().ChecksumText()));
  hex_view->update();
}

void MainWindow::OnTimer() {
  if (presenter_.PollTimers()) {
    link_state->setText(Q(presenter_.LinkText()));
    hex_view->update();
  }
}

void MainWindow::InfoChanged(const std::string& text, app::Rgb colour) {
  info_line->setText(Q(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
  QPalette p = info_line->palette();
  p.setColor(QPalette::WindowText, ColourOf(colour));
  info_line->setPalette(p);
}

void MainWindow::ProgressChanged(int position, const std::string& text, app::Rgb bar, app::Rgb text_colour) {
  progress->setValue(position);
  QPalette p = progress->palette();
  p.setColor(QPalette::Highlight, ColourOf(bar));
  progress->setPalette(p);
  percent->setText(Q(text));
  QPalette tp = percent->palette();
  tp.setColor(QPalette::WindowText, ColourOf(text_colour));
  percent->setPalette(tp);
}

void MainWindow::PumpMessage() {
  QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void MainWindow::RunCommand(std::uint32_t id) {
  ++depth_;
  const bool operation = IsOperation(id);
  if (operation && !presenter_.OperationRunning()) hex_view->frozen = true;
  switch (id) {
    case cmd::kOpen: OpenFile(); break;
    case cmd::kSave: SaveFile(); break;
    case cmd::kExit: close(); break;
    case cmd::kBufferFill: BufferFill(); break;
    case cmd::kAddressLocation: AddressLocation(); break;
    case cmd::kUpdateFirmware: UpdateFirmware(); break;
    case cmd::kAbout: case cmd::kSystemAbout: About(); break;
    default:
      if (presenter_.Command(id)) break;
      break;
  }
  if (!presenter_.OperationRunning()) hex_view->frozen = false;
  --depth_;
  AfterCommand();
}

void MainWindow::AfterCommand() {
  Sync();
  if (presenter_.Data().Ready() && presenter_.Data().ChipPanel().HexViewWantsFocus()) hex_view->setFocus();
  if (depth_ == 0 && presenter_.ClosePending()) QTimer::singleShot(0, this, [this] { close(); });
}

std::optional<std::string> MainWindow::PickOpen(const QString& title, const QString& filter) {
  if (pickers_.open) return pickers_.open(title, filter);
  QFileDialog d(this, title, {}, filter);
  d.setFileMode(QFileDialog::ExistingFile);
  qt_views::FitDetailColumns(d);
  if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return std::nullopt;
  return S(d.selectedFiles().front());
}

std::optional<std::string> MainWindow::PickSave(const QString& title, const QString& filter) {
  if (pickers_.save) return pickers_.save(title, filter);
  QFileDialog d(this, title, {}, filter);
  d.setAcceptMode(QFileDialog::AcceptSave);
  d.setDefaultSuffix(QString::fromLatin1(app::kSaveFileExtension));
  // A name typed without an ending takes the ending of the kind chosen.
  connect(&d, &QFileDialog::filterSelected, &d, [&d](const QString& chosen) {
    d.setDefaultSuffix(chosen.contains(QStringLiteral("*.hex")) ? QStringLiteral("hex")
                                                                : QString::fromLatin1(app::kSaveFileExtension));
  });
  d.setOption(QFileDialog::ReadOnly, false);  // the dialog asks before replacing a file
  qt_views::FitDetailColumns(d);
  if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return std::nullopt;
  return S(d.selectedFiles().front());
}

void MainWindow::OpenFile() {
  if (!presenter_.Ready()) return;
  auto& commands = presenter_.Data().DataCommands();
  if (!commands.OpenStart()) return;
  commands.OpenPicked(PickOpen(Q(presenter_.T(4)), QtFilter(app::kOpenFileFilter)));
}

void MainWindow::SaveFile() {
  if (!presenter_.Ready()) return;
  auto& commands = presenter_.Data().DataCommands();
  if (!commands.SaveStart()) return;
  commands.SavePicked(PickSave(Q(presenter_.T(5)), QtFilter(app::kSaveFileFilter)));
}

void MainWindow::BufferFill() {
  if (!presenter_.Ready() || !presenter_.Data().DataCommands().FillStart()) return;
  BufferFillDialog d(presenter_.Texts(), presenter_.Data().DataCommands(), this);
  d.exec();
}

void MainWindow::AddressLocation() {
  if (!presenter_.Ready()) return;
  AddressLocationDialog d(presenter_.Texts(), presenter_.Data().DataCommands(), this);
  d.exec();
}

void MainWindow::SearchChip() {
  if (!presenter_.Ready() || presenter_.RefuseWhileBusy()) return;
  app::ChipSearchPresenter search = presenter_.NewChipSearch();
  ChipSearchDialog d(search, presenter_.Texts(), this);
  if (d.exec() == QDialog::Accepted && d.Chosen()) presenter_.ChipSearched(*d.Chosen());
  AfterCommand();
}

void MainWindow::UpdateFirmware() {
  if (!presenter_.UpdateFirmwareStart()) return;
  const std::string filter = presenter_.T(70) + app::kUpdateFileFilter;
  presenter_.UpdateFirmwarePicked(PickOpen(Q(presenter_.T(15)), QtFilter(filter)));
}

void MainWindow::About() {
  AboutDialog d(presenter_.About(), QString::fromStdString(presenter_.AboutPicturePath()),
                Q(presenter_.T(17)), this);
  d.exec();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (presenter_.RequestClose()) {
    timer_.stop();
    event->accept();
  } else {
    event->ignore();  // the operation stops; the window closes when it has returned
  }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  if (!presenter_.Ready()) return;
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls()) paths.push_back(S(url.toLocalFile()));
  presenter_.Data().DataCommands().Drop(paths);
  event->acceptProposedAction();
  AfterCommand();
}

}  // namespace romwright::ui
