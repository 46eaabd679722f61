// The window as the operator and the engineer see it: the Idle Timer list
// against what a run writes, result colours that go with their cells, the
// sort arrow, typed characters outside the single-byte set, the order of a
// refused auto start's box and the login, and a FAIL cell's tooltip.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>

#include "linetool/app/control_ids.h"
#include "linetool/app/device_cfg_dlg.h"
#include "linetool/ui/sim_station_panel.h"
#include "window_rig.h"

namespace linetool::ui {
namespace {

namespace ids = app::ids;
using testing::GridText;
using testing::Slurp;
using testing::WindowRig;

void LogIn(WindowRig& rig) {
  testing::LogIn(rig, "morvela");
  ASSERT_TRUE(rig.Session().Presenter().Unlocked());
}

// Opens More Config, clicks one box and leaves by Cancel.
void ClickInMoreConfig(WindowRig& rig, int box) {
  WindowRig::OnNextModal(
      [box](QWidget& dialog) {
        auto* check = dialog.findChild<QCheckBox*>(QStringLiteral("box_%1").arg(box));
        ASSERT_NE(check, nullptr);
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, check->height() / 2));
        QTest::mouseClick(dialog.findChild<QPushButton*>("cancel"), Qt::LeftButton);
      },
      "deviceConfigDialog");
  ASSERT_TRUE(rig.Window().Click(ids::kMoreConfig));
}

void Uncheck(WindowRig& rig, int id) {
  auto* box = qobject_cast<QCheckBox*>(rig.Window().Control(id));
  ASSERT_NE(box, nullptr);
  ASSERT_TRUE(box->isChecked());
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
  ASSERT_FALSE(box->isChecked());
}

TEST(LineToolWindowAudit, IdleTimerShownIsTheOneTheRunWrites) {
  WindowRig rig(1);
  rig.Start();
  LogIn(rig);
  auto* idle = qobject_cast<QComboBox*>(rig.Window().Control(ids::kIdleTimer));
  ASSERT_NE(idle, nullptr);
  ASSERT_EQ(idle->currentText(), "20 Min");
  ClickInMoreConfig(rig, ids::cfg::kHddStandby);
  EXPECT_EQ(idle->currentText(), "Never");
  EXPECT_FALSE(idle->isEnabled());
  ClickInMoreConfig(rig, ids::cfg::kHddStandby);
  EXPECT_TRUE(idle->isEnabled());
  EXPECT_EQ(idle->currentText(), "Never");
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.World().WithDevice(0, [](auto& m) { return m.ConfigSlot(0)[0x7A]; }), 0xFF);
  EXPECT_EQ(idle->currentText(), "Never");
}

TEST(LineToolWindowAudit, ResultColoursGoWithTheirCellsThroughRunsUnplugsAndSafelyRemove) {
  WindowRig rig(3);
  rig.Start();
  ASSERT_TRUE(rig.Sim().Inject(1, SimFault::kConfigWriteFails).empty());
  ASSERT_TRUE(rig.RunToEnd());
  ASSERT_EQ(GridText(rig, 1, 12), "FAIL");
  ASSERT_EQ(rig.PaintedCellColour(1, 12), QColor(Qt::red));
  const QColor white(Qt::white);

  // A run without W/R Test and Preload: those cells are emptied and stay so.
  rig.Sim().ClearFaults(1);
  LogIn(rig);
  Uncheck(rig, ids::kWrTest);
  Uncheck(rig, ids::kPreload);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(GridText(rig, 1, 7), "PASS");
  for (int column : {12, 13}) {
    EXPECT_EQ(GridText(rig, 1, column), "");
    EXPECT_EQ(rig.PaintedCellColour(1, column), white) << column;
  }

  // Bridge 0 pulled: the others move up a row and keep no colour of the row
  // they came to.
  ASSERT_TRUE(rig.Sim().Inject(1, SimFault::kConfigWriteFails).empty());
  ASSERT_TRUE(rig.RunToEnd());
  ASSERT_EQ(rig.PaintedCellColour(1, 10), QColor(Qt::red));
  rig.Sim().Unplug(0);
  ASSERT_TRUE(WindowRig::WaitFor([&] { return rig.Session().Run().Table().device_count == 2; }));
  ASSERT_TRUE(WindowRig::WaitFor([&] { return GridText(rig, 2, 1).isEmpty(); }));
  for (int row = 0; row < 3; ++row)
    for (int column = 7; column <= 13; ++column)
      EXPECT_EQ(rig.PaintedCellColour(row, column), white) << row << "," << column;

  // A failed run, then Safely Remove: the rows left without device are plain.
  ASSERT_TRUE(rig.RunToEnd());
  ASSERT_EQ(rig.PaintedCellColour(0, 7), QColor(Qt::red));
  ASSERT_TRUE(rig.Window().Click(ids::kSafelyRemove));
  ASSERT_TRUE(WindowRig::WaitFor([&] { return rig.Session().Run().Table().device_count == 0; }));
  ASSERT_TRUE(WindowRig::WaitFor([&] { return GridText(rig, 0, 1).isEmpty(); }));
  for (int row = 0; row < 3; ++row)
    for (int column = 1; column <= 13; ++column)
      EXPECT_EQ(rig.PaintedCellColour(row, column), white) << row << "," << column;
}

// The header section of a column as drawn now.
QImage HeaderSection(PortGridView& grid, int column) {
  QHeaderView* header = grid.horizontalHeader();
  const QImage all = header->viewport()->grab().toImage();
  const qreal ratio = all.devicePixelRatio();
  const QRect section(static_cast<int>(header->sectionViewportPosition(column) * ratio), 0,
                      static_cast<int>(header->sectionSize(column) * ratio), all.height());
  return all.copy(section);
}

// Per row of the arrow band: how many pixels differ from the unsorted header.
std::vector<int> ArrowWidths(const QImage& plain, const QImage& sorted, int band) {
  std::vector<int> widths;
  for (int y = 0; y < band; ++y) {
    int n = 0;
    for (int x = 0; x < plain.width(); ++x) n += plain.pixel(x, y) != sorted.pixel(x, y);
    widths.push_back(n);
  }
  return widths;
}

TEST(LineToolWindowAudit, SortArrowPointsTheWayOfTheSortAboveAnIntactCaption) {
  WindowRig rig(4);
  rig.Start();
  PortGridView& grid = rig.Window().Grid();
  QHeaderView* header = grid.horizontalHeader();
  constexpr int kCapacity = 6;
  const QImage plain = HeaderSection(grid, kCapacity);
  const QPoint at(header->sectionViewportPosition(kCapacity) + 5, header->height() / 2);
  const int band = static_cast<int>(PortGridHeader::kArrowBand * plain.devicePixelRatio());

  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(grid.Header().ArrowColumn(), kCapacity);
  EXPECT_EQ(grid.Header().Arrow(), widgets::SortArrow::kUp);
  const QImage up = HeaderSection(grid, kCapacity);
  // Below the band the caption is drawn exactly as without the arrow.
  EXPECT_EQ(plain.copy(0, band, plain.width(), plain.height() - band), up.copy(0, band, up.width(), up.height() - band));
  // Ascending: the arrow is narrow at the top and wide at the bottom.
  std::vector<int> w = ArrowWidths(plain, up, band);
  std::erase(w, 0);
  ASSERT_GE(w.size(), 2u);
  EXPECT_LT(w.front(), w.back());

  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(grid.Header().Arrow(), widgets::SortArrow::kDown);
  w = ArrowWidths(plain, HeaderSection(grid, kCapacity), band);
  std::erase(w, 0);
  ASSERT_GE(w.size(), 2u);
  EXPECT_GT(w.front(), w.back());

  // A refresh puts the ports back in order; the arrow goes with the sort.
  rig.Sim().Unplug(3);
  ASSERT_TRUE(WindowRig::WaitFor([&] { return rig.Session().Run().Table().device_count == 3; }));
  ASSERT_TRUE(WindowRig::WaitFor([&] { return grid.Header().Arrow() == widgets::SortArrow::kNone; }));
  EXPECT_EQ(GridText(rig, 0, 0), "0");
  EXPECT_EQ(GridText(rig, 15, 0), "15");
  EXPECT_EQ(HeaderSection(grid, kCapacity), plain);
}

TEST(LineToolWindowAudit, TypedCharactersOutsideTheSingleByteSetAreDroppedNotKeptAsQuestionMarks) {
  WindowRig rig(1);
  rig.Start();
  LogIn(rig);
  auto* manufacturer = qobject_cast<QLineEdit*>(rig.Window().Control(ids::kManufacturer));
  ASSERT_NE(manufacturer, nullptr);
  manufacturer->setFocus();
  manufacturer->selectAll();
  // "VX Storage " with U+00DC, U+00EF, U+00F6, U+00E9 (Latin-1), U+20AC and U+4E2D (beyond it).
  const QString typed = QStringLiteral("VX Storage ") + QChar(0xDC) + QLatin1Char('n') + QChar(0xEF) +
                        QLatin1Char('c') + QChar(0xF6) + QLatin1Char('d') + QChar(0xE9) + QChar(0x20AC) +
                        QChar(0x4E2D) + QLatin1Char('!');
  // Key by key, as a keyboard layout or an input method delivers them.
  for (const QChar c : typed) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(manufacturer, &press);
  }
  EXPECT_EQ(manufacturer->text(), "VX Storage ncd!");
  EXPECT_EQ(std::string(profile::TextOf(rig.Session().Engine().Settings().manufacturer_string)), "VX Storage ncd!");
}

TEST(LineToolWindowAudit, ARefusedAutoStartShowsItsBoxBeforeTheLogin) {
  WindowRig rig(1);
  rig.Start();
  std::string text = Slurp(rig.Workdir() / "kl_line_Tool v0.3.ini");
  text.replace(text.find("auto_mp=0"), 9, "auto_mp=1");
  text.replace(text.find("vendor_id=0F3C"), 14, "vendor_id=0F");
  std::ofstream(rig.Workdir() / "auto.ini", std::ios::binary) << text;
  ASSERT_TRUE(rig.Session().Presenter().LoadIni("auto.ini"));

  // Every modal window as it comes up, and whether a login was up beside the box.
  std::vector<QString> order;
  bool login_over_box = false;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    const QString name = modal->objectName();
    if (order.empty() || order.back() != name) order.push_back(name);
    if (name == "stationMessageBox") {
      // Held up a while: a login posted meanwhile would open over it.
      if (modal->property("seen").toInt() < 20) {
        modal->setProperty("seen", modal->property("seen").toInt() + 1);
        return;
      }
      modal->close();
    } else if (name == "loginDialog") {
      for (QWidget* w : QApplication::topLevelWidgets())
        login_over_box |= w->objectName() == "stationMessageBox" && w->isVisible();
      modal->close();
    }
  });
  watcher.start(10);
  rig.Session().Run().RefreshPorts();
  ASSERT_TRUE(WindowRig::WaitFor([&] { return !order.empty() && order.back() == "loginDialog"; }));
  watcher.stop();
  ASSERT_TRUE(WindowRig::WaitFor([] { return QApplication::activeModalWidget() == nullptr; }));
  EXPECT_EQ(order, (std::vector<QString>{"stationMessageBox", "loginDialog"}));
  EXPECT_FALSE(login_over_box);
}

TEST(LineToolWindowAudit, AFailCellsTooltipSaysWhyItsStageFailed) {
  WindowRig rig(2);
  rig.Start();
  app::LineToolPresenter& presenter = rig.Session().Presenter();
  presenter.NoteFailure(1, 10, "refused: sdc1 is mounted at /media/usb");
  presenter.SetResultCell(1, 10, "FAIL");
  presenter.SetResultCell(0, 10, "PASS");
  PortGridView& grid = rig.Window().Grid();
  ASSERT_TRUE(WindowRig::WaitFor([&] { return GridText(rig, 1, 10) == "FAIL"; }));
  EXPECT_EQ(grid.Model().data(grid.Model().index(1, 10), Qt::ToolTipRole).toString(),
            "refused: sdc1 is mounted at /media/usb");
  EXPECT_FALSE(grid.Model().data(grid.Model().index(0, 10), Qt::ToolTipRole).isValid());
  // Sorted, the tooltip stays on its port's cell.
  QHeaderView* header = grid.horizontalHeader();
  const QPoint port_header(header->sectionViewportPosition(0) + 5, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, port_header);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, port_header);
  ASSERT_EQ(GridText(rig, 14, 0), "1");
  EXPECT_EQ(grid.Model().data(grid.Model().index(14, 10), Qt::ToolTipRole).toString(),
            "refused: sdc1 is mounted at /media/usb");
}

// A rectangle in logical pixels as device pixels.
QRect Scaled(const QRect& r, qreal ratio) {
  return QRect(static_cast<int>(r.left() * ratio), static_cast<int>(r.top() * ratio),
               static_cast<int>(r.width() * ratio), static_cast<int>(r.height() * ratio));
}

// The first row (or column) of a widget's area in `image` that has a pixel
// `inked` says is text; -1 when none has.
int FirstInk(const QImage& image, const QRect& area, bool by_row, const std::function<bool(QColor)>& inked) {
  const int outer = by_row ? area.height() : area.width();
  const int inner = by_row ? area.width() : area.height();
  for (int i = 0; i < outer; ++i)
    for (int j = 0; j < inner; ++j) {
      const QPoint at = by_row ? QPoint(area.left() + j, area.top() + i) : QPoint(area.left() + i, area.top() + j);
      if (inked(image.pixelColor(at))) return i + (by_row ? area.top() : area.left());
    }
  return -1;
}

TEST(LineToolWindowLooks, HexGridCaptionsLineUpWithTheGridsLinesAndColumns) {
  WindowRig rig(1);
  rig.Start();
  LogIn(rig);
  bool checked = false;
  WindowRig::OnNextModal(
      [&](QWidget& dialog) {
        for (auto* e : dialog.findChildren<QLineEdit*>()) {
          const QString value = e->objectName() == "readAddress" ? "C890" : e->objectName() == "readLength" ? "40" : "";
          if (value.isEmpty()) continue;
          e->setText(value);
          emit e->textEdited(value);
        }
        dialog.findChild<QPushButton*>("readRegister")->click();
        auto* output = dialog.findChild<QLabel*>("output");
        auto* rows = dialog.findChild<QLabel*>("rowCaption");
        auto* columns = dialog.findChild<QLabel*>("columnCaption");
        ASSERT_TRUE(output != nullptr && rows != nullptr && columns != nullptr);
        ASSERT_TRUE(output->text().startsWith("00 00")) << output->text().toStdString();
        QApplication::processEvents();
        const QImage image = dialog.grab().toImage();
        const qreal ratio = image.devicePixelRatio();
        auto area = [&](QLabel* l, int inset) {
          return Scaled(QRect(l->mapTo(&dialog, QPoint(0, 0)), l->size()), ratio).adjusted(inset, inset, -inset, -inset);
        };
        auto dark = [](QColor c) { return c.lightness() < 110; };
        auto blue = [](QColor c) { return c.blue() > c.red() + 60 && c.lightness() < 160; };
        const int grid_top = FirstInk(image, area(output, static_cast<int>(2 * ratio)), true, dark);
        const int caption_top = FirstInk(image, area(rows, 0), true, blue);
        const int grid_left = FirstInk(image, area(output, static_cast<int>(2 * ratio)), false, dark);
        const int caption_left = FirstInk(image, area(columns, 0), false, blue);
        ASSERT_GE(grid_top, 0);
        ASSERT_GE(caption_top, 0);
        EXPECT_LE(std::abs(grid_top - caption_top), static_cast<int>(ratio)) << grid_top << " " << caption_top;
        EXPECT_LE(std::abs(grid_left - caption_left), static_cast<int>(ratio)) << grid_left << " " << caption_left;
        checked = true;
        dialog.close();
      },
      "checkConfigDialog");
  rig.Window().Click(ids::kCheckConfig);
  EXPECT_TRUE(checked);
}

TEST(LineToolWindowLooks, MoreConfigShowsItsBoxesWithoutGaps) {
  WindowRig rig(1);
  rig.Start();
  LogIn(rig);
  bool checked = false;
  WindowRig::OnNextModal(
      [&](QWidget& dialog) {
        std::set<int> xs, ys;
        int shown = 0;
        for (auto* box : dialog.findChildren<QCheckBox*>()) {
          if (!box->isVisible()) continue;
          ++shown;
          xs.insert(box->mapTo(&dialog, QPoint(0, 0)).x());
          ys.insert(box->mapTo(&dialog, QPoint(0, 0)).y());
        }
        EXPECT_EQ(shown, 8);
        EXPECT_EQ(xs.size(), 2u);
        EXPECT_EQ(static_cast<int>(ys.size()), (shown + 1) / 2);
        checked = true;
        dialog.close();
      },
      "deviceConfigDialog");
  rig.Window().Click(ids::kMoreConfig);
  EXPECT_TRUE(checked);
}

TEST(LineToolWindowLooks, NoFocusFrameInsideACellOfTheSelectedRow) {
  WindowRig rig(2);
  rig.Start();
  ASSERT_TRUE(rig.RunToEnd());
  PortGridView& grid = rig.Window().Grid();
  rig.Window().activateWindow();
  grid.setFocus();
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(grid.Model().index(0, 9)).center());
  ASSERT_TRUE(WindowRig::WaitFor([&] { return grid.hasFocus(); })) << "the grid cannot take the focus here";
  ASSERT_EQ(grid.currentIndex(), grid.Model().index(0, 9));
  ASSERT_TRUE(grid.selectionModel()->isRowSelected(0));
  auto cell = [&](int column) {
    const QImage image = grid.viewport()->grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    const QRect r = grid.visualRect(grid.Model().index(0, column));
    return image.copy(Scaled(r, ratio));
  };
  const QImage current = cell(9);
  // The same cell of the selected row once another cell is the current one.
  grid.selectionModel()->setCurrentIndex(grid.Model().index(0, 8), QItemSelectionModel::NoUpdate);
  ASSERT_TRUE(grid.selectionModel()->isRowSelected(0));
  EXPECT_EQ(current, cell(9));
}

TEST(LineToolWindowLooks, SimulatedStationListsSixteenBridgesWithoutScrolling) {
  WindowRig rig(16);
  rig.Start();
  SimStationPanel panel(rig.Sim());
  panel.show();
  QApplication::processEvents();
  QListWidget& list = panel.List();
  ASSERT_EQ(list.count(), 16);
  EXPECT_EQ(list.verticalScrollBar()->maximum(), 0);
  EXPECT_TRUE(list.viewport()->rect().contains(list.visualItemRect(list.item(15))));
}

}  // namespace
}  // namespace linetool::ui
