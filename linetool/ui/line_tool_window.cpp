#include "linetool/ui/line_tool_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>

#include "linetool/app/control_ids.h"
#include "linetool/ui/artwork.h"
#include "linetool/ui/control_binding.h"
#include "linetool/ui/main_window_layout.h"
#include "linetool/ui/port_grid_view.h"
#include "linetool/ui/station_dialogs.h"
#include "linetool/ui/texts.h"
#include "linetool/ui/window_message_sink.h"
#include "linetool/ui/window_thread_dispatch.h"

namespace linetool::ui {

namespace ids = app::ids;

namespace {

// A close asked for while a modal box or dialog is up waits for it.
constexpr int kCloseRetryMs = 50;

QString StyleSheet() {
  return QStringLiteral(R"(
    QLabel, QCheckBox { background: transparent; color: #10233a; }
    QGroupBox { background: rgba(255, 255, 255, 70); border: 1px solid #7f9bb8; border-radius: 5px;
                margin-top: 9px; font-weight: bold; color: #0e3a66; }
    QGroupBox::title { subcontrol-origin: margin; left: 9px; padding: 0 4px; }
    QCheckBox { font-weight: bold; spacing: 6px; }
    QCheckBox::indicator { width: 16px; height: 16px; }
    QCheckBox::indicator:unchecked { image: url(:/linetool/check_off.svg); }
    QCheckBox::indicator:checked { image: url(:/linetool/check_on.svg); }
    QCheckBox:disabled { color: #6d7f92; }
    QLineEdit, QComboBox { background: white; border: 1px solid #8aa0b8; border-radius: 3px; padding: 0 4px;
                           color: #0b1d30; selection-background-color: #2f6fb0; }
    QLineEdit:read-only { background: #e8eef5; }
    QLineEdit:disabled, QComboBox:disabled { background: #dfe5ec; color: #6d7f92; }
    QComboBox::drop-down { border: none; width: 16px; }
    QComboBox::down-arrow { image: url(:/linetool/drop_arrow.svg); width: 10px; height: 10px; }
    QToolButton { background: rgba(255, 255, 255, 110); border: 1px solid #8aa0b8; border-radius: 5px; }
    QToolButton:hover { background: rgba(255, 255, 255, 220); border-color: #2f6fb0; }
    QToolButton:pressed { background: #c9dcf0; }
    QToolButton:disabled { background: rgba(210, 218, 228, 120); border-color: #b3c0ce; }
    QToolButton#window_button { background: transparent; border: none; }
    QToolButton#window_button:hover { background: rgba(255, 255, 255, 90); }
    QProgressBar { border: 1px solid #8aa0b8; border-radius: 3px; background: white; }
    QProgressBar::chunk { background: #2f8f4e; }
    QTableView { background: white; gridline-color: #b9c4d0; selection-background-color: #cfe2f7;
                 selection-color: black; border: 1px solid #7f9bb8; }
    QHeaderView::section { background: #dfe8f2; border: none; border-right: 1px solid #b9c4d0;
                           border-bottom: 1px solid #9fb0c2; padding: 4px 4px 0 4px; font-weight: bold; color: #10233a; }
  )");
}

QFont VersionFont() {
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(14);
  f.setBold(true);
  return f;
}

}  // namespace

LineToolWindow::LineToolWindow(app::LineToolPresenter& presenter, StationDialogs& dialogs, WindowMessageSink& sink,
                               QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), presenter_(presenter), dialogs_(dialogs), sink_(sink) {
  setObjectName("LineToolWindow");
  setWindowIcon(ApplicationIcon());
  setFixedSize(UnitsToPixels(kDialogWidth), UnitsToPixels(kDialogHeight));
  setStyleSheet(StyleSheet());
  dialogs_.SetParentWidget(this);
  sink_.SetParentWidget(this);
  Build();
  presenter_.SetObserver([posted = sync_posted_, window = QPointer<LineToolWindow>(this)](const app::PresenterEvent&) {
    if (posted->exchange(true)) return;
    QMetaObject::invokeMethod(
        qApp,
        [posted, window] {
          posted->store(false);
          if (window) window->Sync();
        },
        Qt::QueuedConnection);
  });
  // A click the station's own threads send is carried out on this thread
  // once no box or dialog is up: the login dialog of the auto starter's Lock
  // comes after the box that says why its Start was refused, not over it.
  presenter_.SetClickPoster([window = QPointer<LineToolWindow>(this), presenter = &presenter_] {
    QMetaObject::invokeMethod(
        qApp,
        [window, presenter] {
          RunWhenNoModal([window, presenter] {
            if (!window.isNull()) presenter->RunPostedClicks();
          });
        },
        Qt::QueuedConnection);
  });
  Sync();
}

LineToolWindow::~LineToolWindow() {
  presenter_.SetClickPoster({});
  presenter_.SetObserver({});
}

void LineToolWindow::Build() {
  for (const Placement& p : MainWindowLayout()) {
    const PixelRect r = ToPixels(p);
    QWidget* w = nullptr;
    const QString caption = QString::fromLatin1(p.caption.data(), static_cast<qsizetype>(p.caption.size()));
    switch (p.kind) {
      case ControlKind::kIconButton: {
        auto* b = new QToolButton(this);
        const bool window_button = p.id == ids::kExit || p.id == ids::kMinimise;
        if (window_button) b->setObjectName("window_button");
        const int icon = TemplateIconOf(p.id);
        if (icon != 0) b->setIcon(ArtworkIcon(icon));
        const int side = std::min(r.width, r.height) - (window_button ? 4 : 6);
        b->setIconSize(QSize(side, side));
        b->setFocusPolicy(Qt::TabFocus);
        w = b;
        break;
      }
      case ControlKind::kLabel: {
        auto* l = new QLabel(caption, this);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        w = l;
        break;
      }
      case ControlKind::kGroup: w = new QGroupBox(caption, this); break;
      case ControlKind::kEdit: w = new QLineEdit(this); break;
      case ControlKind::kReadOnlyEdit: {
        auto* e = new QLineEdit(this);
        e->setReadOnly(true);
        e->setProperty(kAlwaysReadOnly, true);
        e->setAlignment(Qt::AlignCenter);
        e->setFocusPolicy(Qt::NoFocus);
        w = e;
        break;
      }
      case ControlKind::kDropList:
      case ControlKind::kDropDown: w = new QComboBox(this); break;
      case ControlKind::kCheck: w = new QCheckBox(caption, this); break;
      case ControlKind::kGrid: w = grid_ = new PortGridView(this); break;
      case ControlKind::kProgressBar: {
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 100);
        bar->setTextVisible(false);
        w = bar;
        break;
      }
      case ControlKind::kPicture: {
        auto* l = new QLabel(this);
        l->setPixmap(ArtworkPixmap(kBitmapLogo, QSize(r.width, r.height), devicePixelRatioF()));
        w = l;
        break;
      }
      case ControlKind::kVersionLine: {
        auto* l = new QLabel(caption, this);
        l->setFont(VersionFont());
        l->setStyleSheet(QStringLiteral("color: #ff0000; background: transparent;"));
        w = l;
        break;
      }
    }
    if (p.kind != ControlKind::kVersionLine && w->objectName().isEmpty())
      w->setObjectName(QStringLiteral("control_%1").arg(p.id));
    if (p.kind == ControlKind::kVersionLine) w->setObjectName(QStringLiteral("control_%1").arg(p.id));
    w->setGeometry(r.x, r.y, r.width, r.height);
    if (p.kind == ControlKind::kGroup) w->lower();
    controls_[p.id] = w;
    Connect(p.id, w);
  }
  grid_->OnHeaderClick([this](int column) {
    presenter_.SortGrid(column);
    Sync();
  });
}

void LineToolWindow::Connect(int id, QWidget* widget) {
  if (auto* b = qobject_cast<QToolButton*>(widget)) {
    connect(b, &QToolButton::clicked, this, [this, id] { Click(id); });
  } else if (auto* c = qobject_cast<QCheckBox*>(widget)) {
    connect(c, &QCheckBox::clicked, this, [this, id](bool checked) {
      presenter_.SetCheck(id, checked);
      Sync();
    });
  } else if (auto* e = qobject_cast<QLineEdit*>(widget)) {
    connect(e, &QLineEdit::textEdited, this, [this, id, e](const QString& text) {
      const app::FilteredText r =
          presenter_.EditText(id, StationText(text), static_cast<std::size_t>(e->cursorPosition()));
      const QString shown = QtText(r.text);
      if (e->text() != shown) e->setText(shown);
      e->setCursorPosition(static_cast<int>(r.caret));
      Sync();
    });
  } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
    connect(list, &QComboBox::activated, this, [this, id](int index) {
      presenter_.SelectItem(id, index);
      Sync();
    });
  }
}

bool LineToolWindow::Click(int id) {
  if (id == ids::kExit) {
    if (!presenter_.Control(ids::kExit).enabled) return false;
    close();
    return true;
  }
  const bool done = presenter_.Command(id);
  if (done && id == ids::kMinimise) showMinimized();
  Sync();
  return done;
}

QWidget* LineToolWindow::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void LineToolWindow::Sync() {
  ApplyPanel(controls_, presenter_.Controls());
  setWindowTitle(QtText(presenter_.WindowTitle()));
  if (auto* bar = qobject_cast<QProgressBar*>(Control(ids::kProgressBar))) bar->setValue(presenter_.ProgressBar());
  grid_->Show(presenter_.DisplayedGrid());
}

void LineToolWindow::paintEvent(QPaintEvent*) {
  if (background_.isNull() || background_.deviceIndependentSize().toSize() != size() ||
      !qFuzzyCompare(background_.devicePixelRatio(), devicePixelRatioF()))
    background_ = ArtworkPixmap(kBitmapBackground, size(), devicePixelRatioF());
  QPainter painter(this);
  painter.drawPixmap(0, 0, background_);
}

void LineToolWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    dragging_ = true;
    drag_offset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void LineToolWindow::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - drag_offset_);
    event->accept();
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void LineToolWindow::mouseReleaseEvent(QMouseEvent* event) {
  dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

void LineToolWindow::closeEvent(QCloseEvent* event) {
  // A box or dialog of the window is still up: the close follows when it is gone.
  if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != this) {
    event->ignore();
    QTimer::singleShot(kCloseRetryMs, this, [this] { close(); });
    return;
  }
  exit_code_ = presenter_.Close();
  Sync();
  event->accept();
  emit Closed(exit_code_);
}

void LineToolWindow::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(QStringLiteral("Minimize"), this, [this] { Click(ids::kMinimise); });
  menu.addSeparator();
  if (presenter_.HasLastRecords())
    menu.addAction(QStringLiteral("Last Records..."), this, [this] { Click(ids::kLastRecords); });
  menu.addAction(QStringLiteral("About LineTool..."), this, [this] { Click(ids::kAbout); });
  menu.exec(event->globalPos());
}

}  // namespace linetool::ui
