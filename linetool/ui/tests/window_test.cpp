#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "linetool/app/control_ids.h"
#include "linetool/records/stores/sqlite_records_store.h"
#include "tools/testing/scratch_dir.h"
#include "linetool/ui/station_style.h"
#include "window_rig.h"

namespace linetool::ui {
namespace {

namespace ids = app::ids;
using testing::GridText;
using testing::LogIn;
using testing::Slurp;
using testing::WindowRig;

// The widget tests run on Qt's offscreen platform with one application.
class QtEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "linetool_ui_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    ApplyStationStyle(*app_);
  }
  void TearDown() override { delete app_; }

 private:
  QApplication* app_ = nullptr;
};
const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QString Text(QWidget* w) { return w->property("text").toString(); }

// Picks a file in the open or save dialog by typing its name.
void PickFile(WindowRig& rig, int command, const QString& name) {
  WindowRig::OnNextModal([name](QWidget& dialog) {
    auto* picker = qobject_cast<QFileDialog*>(&dialog);
    ASSERT_NE(picker, nullptr);
    auto* edit = picker->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->clear();
    QTest::keyClicks(edit, name);
    QTest::keyClick(edit, Qt::Key_Return);
  });
  rig.Window().Click(command);
}

TEST(LineToolWindowRun, StartOnFourBridgesPaintsPassCellsCountersAndHundredPercent) {
  WindowRig rig(4);
  rig.Start();
  ASSERT_EQ(GridText(rig, 3, 1), "SUPER");
  ASSERT_TRUE(rig.RunToEnd());
  for (int row = 0; row < 4; ++row)
    for (int column = 7; column <= 13; ++column) EXPECT_EQ(GridText(rig, row, column), "PASS") << row << "," << column;
  EXPECT_EQ(GridText(rig, 4, 7), "");
  EXPECT_EQ(rig.PaintedCellColour(2, 10), QColor(Qt::white));
  EXPECT_EQ(Text(rig.Window().Control(ids::kPassCount)), "4");
  EXPECT_EQ(Text(rig.Window().Control(ids::kFailCount)), "0");
  EXPECT_EQ(Text(rig.Window().Control(ids::kTotalCount)), "4");
  EXPECT_EQ(Text(rig.Window().Control(ids::kProgressText)), "100 %");
  EXPECT_TRUE(rig.Window().Control(ids::kStart)->isEnabled());
  EXPECT_TRUE(rig.sink.Shown().empty());
}

TEST(LineToolWindowRun, AFailingBridgePaintsFailInTheFailColourAndCountsOnce) {
  WindowRig rig(4);
  rig.Start();
  ASSERT_TRUE(rig.Sim().Inject(1, SimFault::kConfigWriteFails).empty());
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(GridText(rig, 1, 7), "FAIL");
  EXPECT_EQ(GridText(rig, 1, 12), "FAIL");  // every later stage of the port
  EXPECT_EQ(rig.PaintedCellColour(1, 7), QColor(Qt::red));
  EXPECT_EQ(rig.PaintedCellColour(0, 7), QColor(Qt::white));
  EXPECT_EQ(GridText(rig, 0, 7), "PASS");
  EXPECT_EQ(Text(rig.Window().Control(ids::kPassCount)), "3");
  EXPECT_EQ(Text(rig.Window().Control(ids::kFailCount)), "1");
  EXPECT_EQ(Text(rig.Window().Control(ids::kTotalCount)), "4");
}

TEST(LineToolWindowGrid, HeaderClicksSortFlipAndShowTheArrow) {
  WindowRig rig(4);
  rig.Start();
  PortGridView& grid = rig.Window().Grid();
  QHeaderView* header = grid.horizontalHeader();
  EXPECT_EQ(grid.columnWidth(4), 164);  // "Serial Number"
  const QPoint port_header(header->sectionViewportPosition(0) + 5, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, port_header);
  EXPECT_EQ(GridText(rig, 0, 0), "0");
  EXPECT_EQ(GridText(rig, 15, 0), "15");
  EXPECT_EQ(grid.Header().ArrowColumn(), 0);
  EXPECT_EQ(grid.Header().Arrow(), widgets::SortArrow::kUp);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, port_header);
  EXPECT_EQ(GridText(rig, 0, 0), "15");
  EXPECT_EQ(GridText(rig, 12, 0), "3");
  EXPECT_EQ(GridText(rig, 12, 1), "SUPER");  // the device's cells moved with its port
  EXPECT_EQ(grid.Header().Arrow(), widgets::SortArrow::kDown);

  // A run on the sorted grid writes each port's results into its own row.
  ASSERT_TRUE(rig.Sim().Inject(0, SimFault::kFirmwareFails).empty());
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(GridText(rig, 15, 8), "FAIL");
  EXPECT_EQ(GridText(rig, 12, 8), "PASS");
  EXPECT_EQ(GridText(rig, 0, 8), "");
}

TEST(LineToolWindowPanel, LoginUnlocksAndProfilesRoundTripThroughTheFileDialogs) {
  WindowRig rig(2);
  rig.Start();
  auto* update_config = rig.Window().Control(ids::kUpdateConfig);
  EXPECT_FALSE(update_config->isEnabled());
  EXPECT_FALSE(rig.Window().Control(ids::kSaveIni)->isEnabled());

  LogIn(rig, "nope");
  EXPECT_FALSE(update_config->isEnabled());
  LogIn(rig, "morVELA");
  EXPECT_TRUE(update_config->isEnabled());
  EXPECT_TRUE(rig.Window().Control(ids::kSaveIni)->isEnabled());

  // A typed non-hex letter is filtered out by the presenter, caret kept.
  auto* vid = qobject_cast<QLineEdit*>(rig.Window().Control(ids::kVendorId));
  vid->setFocus();
  vid->setText("");
  QTest::keyClicks(vid, "1x2");
  EXPECT_EQ(vid->text(), "12");
  EXPECT_EQ(vid->cursorPosition(), 2);
  vid->selectAll();
  QTest::keyClicks(vid, "abcd");

  // Save (the default extension is added), load, save again: the same bytes.
  PickFile(rig, ids::kSaveIni, "first");
  const auto first = rig.Workdir() / "first.INI";
  ASSERT_TRUE(std::filesystem::exists(first));
  EXPECT_NE(Slurp(first).find("vendor_id=abcd\r\n"), std::string::npos);
  vid->selectAll();
  QTest::keyClicks(vid, "0000");
  PickFile(rig, ids::kLoadIni, "first.INI");
  EXPECT_EQ(vid->text(), "abcd");
  PickFile(rig, ids::kSaveIni, "second.INI");
  EXPECT_EQ(Slurp(rig.Workdir() / "second.INI"), Slurp(first));
  EXPECT_TRUE(rig.sink.Shown().empty());
}

TEST(LineToolWindowEvents, PlugEventsRefreshTheGridOnTheWindowThread) {
  WindowRig rig(4);
  rig.Start();
  ASSERT_EQ(GridText(rig, 2, 1), "SUPER");
  // Pulled from another thread, as udev reports it.
  std::thread([&] { rig.Sim().Unplug(2); }).join();
  EXPECT_EQ(GridText(rig, 2, 1), "SUPER");  // handed over, not yet run
  EXPECT_TRUE(WindowRig::WaitFor([&] { return rig.Session().Run().Table().device_count == 3; }));
  EXPECT_TRUE(WindowRig::WaitFor([&] { return GridText(rig, 3, 1).isEmpty(); }));
  rig.Sim().Plug(2);
  EXPECT_TRUE(WindowRig::WaitFor([&] { return GridText(rig, 3, 1) == "SUPER"; }));
}

TEST(LineToolWindowEvents, BoxesFromOtherThreadsNeverHoldThemAndClicksNeverDeadlock) {
  WindowRig rig(2);
  rig.Start();
  // A worker asks for a box while it holds a lock the window thread wants:
  // it goes on at once, and the box is shown on the window thread after.
  std::mutex held;
  std::atomic<bool> worker_done{false};
  std::thread worker([&] {
    std::lock_guard lock(held);
    rig.sink.Show("from a worker");
    worker_done = true;
  });
  worker.join();
  EXPECT_TRUE(worker_done);
  WindowRig::OnNextModal([&](QWidget& box) {
    std::lock_guard lock(held);  // free again
    box.close();
  });
  ASSERT_TRUE(WindowRig::WaitFor([&] { return rig.sink.Shown().size() == 1 && rig.sink.Queued() == 0; }));
  EXPECT_EQ(rig.sink.Shown()[0].text, "from a worker");

  // Auto mode: the auto starter presses Start, which refuses a bad VID with a
  // box asked for on the starter's thread under the run's slot lock; the
  // operator clicks Lock meanwhile, which stops the starter.
  const auto profile = rig.Workdir() / "auto.ini";
  std::string text = Slurp(rig.Workdir() / "kl_line_Tool v0.3.ini");
  text.replace(text.find("auto_mp=0"), 9, "auto_mp=2");
  text.replace(text.find("vendor_id=0F3C"), 14, "vendor_id=0F");
  std::ofstream(profile, std::ios::binary) << text;
  ASSERT_TRUE(rig.Session().Presenter().LoadIni("auto.ini"));
  // Closes the station's boxes and login dialogs as they come up: the
  // starter's own Lock may ask for the password before the operator's does.
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && (modal->objectName() == "stationMessageBox" || modal->objectName() == "loginDialog"))
      modal->close();
  });
  closer.start(10);
  rig.Session().Run().RefreshPorts();
  // The starter has pressed Start by now; the window thread has not run since.
  ASSERT_TRUE(WindowRig::WaitFor([&] { return rig.sink.Queued() > 0 || rig.sink.Shown().size() > 1; }));
  rig.Window().Click(ids::kLock);
  EXPECT_TRUE(WindowRig::WaitFor([&] { return rig.sink.Queued() == 0 && QApplication::activeModalWidget() == nullptr; }));
  bool vid_box = false;
  for (const auto& b : rig.sink.Shown()) vid_box |= b.text.find("VID Format not valid") != std::string::npos;
  EXPECT_TRUE(vid_box);
  EXPECT_FALSE(rig.Session().Run().RunActive());
}

// The entries of the window's menu (a right click on its background).
QStringList MenuEntries(WindowRig& rig) {
  QStringList entries;
  auto poll = std::make_shared<std::function<void()>>();
  std::weak_ptr<std::function<void()>> weak = poll;
  *poll = [weak, &entries] {
    auto self = weak.lock();
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) {
      if (self) QTimer::singleShot(10, [self] { (*self)(); });
      return;
    }
    for (QAction* a : menu->actions())
      if (!a->isSeparator() && a->isEnabled()) entries << a->text();
    menu->close();
  };
  QTimer::singleShot(0, [poll] { (*poll)(); });
  const QPoint at(300, 40);
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, rig.Window().mapToGlobal(at));
  QApplication::sendEvent(&rig.Window(), &event);
  return entries;
}

TEST(LineToolWindowRecords, WithoutAStoreTheMenuHasNoLastRecords) {
  WindowRig rig(2);
  rig.Start();
  EXPECT_EQ(rig.Session().Records(), nullptr);
  EXPECT_EQ(MenuEntries(rig), (QStringList{"Minimize", "About LineTool..."}));
}

TEST(LineToolWindowRecords, LastRecordsShowsTheRunJustEndedWithTheFailureInRed) {
  const auto folder = test_support::ScratchDir("linetool_window_records");
  std::string error;
  auto store = records::stores::SqliteRecordsStore::Open((folder / "records.db").string(), error);
  ASSERT_TRUE(store) << error;
  {
    WindowRig rig(4, {store.get(), false, "st-9"});
    rig.Start();
    ASSERT_NE(rig.Session().Records(), nullptr);
    EXPECT_EQ(MenuEntries(rig), (QStringList{"Minimize", "Last Records...", "About LineTool..."}));
    ASSERT_TRUE(rig.Sim().Inject(1, SimFault::kFirmwareFails).empty());
    ASSERT_TRUE(rig.RunToEnd());
    app::LastRecords& last = *rig.Session().Records();
    ASSERT_TRUE(WindowRig::WaitFor([&] { return last.Current().reads >= 2 && !last.Current().reading; }));

    bool shown = false;
    WindowRig::OnNextModal(
        [&](QWidget& dialog) {
          EXPECT_EQ(dialog.windowTitle(), "Last records of station st-9");
          auto* table = dialog.findChild<QTableWidget*>("records");
          auto* message = dialog.findChild<QLabel*>("message");
          ASSERT_NE(table, nullptr);
          ASSERT_NE(message, nullptr);
          // Opening reads again; the rows follow once the read is answered.
          EXPECT_TRUE(WindowRig::WaitFor([&] { return message->text() == "The newest 4 records, newest first."; }))
              << message->text().toStdString();
          ASSERT_EQ(table->rowCount(), 4);
          ASSERT_EQ(table->columnCount(), 7);
          EXPECT_EQ(table->horizontalHeaderItem(4)->text(), "Result");
          for (int row = 0; row < 4; ++row) {
            const int port = 3 - row;
            EXPECT_EQ(table->item(row, 1)->text(), QString::number(port));
            const QTableWidgetItem* result = table->item(row, 4);
            EXPECT_EQ(result->text(), port == 1 ? "FAIL" : "PASS");
            EXPECT_EQ(table->item(row, 5)->text(), port == 1 ? "FW Update" : "");
            EXPECT_EQ(result->background().color() == QColor(Qt::red), port == 1);
            // Every text fits its column.
            for (int c = 0; c < table->columnCount(); ++c)
              EXPECT_GE(table->columnWidth(c), table->fontMetrics().horizontalAdvance(table->item(row, c)->text()))
                  << "column " << c;
          }
          shown = true;
          dialog.findChild<QPushButton*>("close")->click();
        },
        "lastRecordsDialog");
    EXPECT_TRUE(rig.Window().Click(ids::kLastRecords));
    EXPECT_TRUE(shown);
  }
}

TEST(LineToolWindowClose, ClosingDuringARunStopsTheJobsAndExitsWith18) {
  WindowRig rig(4);
  rig.Start();
  QSignalSpy closed(&rig.Window(), &LineToolWindow::Closed);
  ASSERT_TRUE(rig.Window().Click(ids::kStart));
  ASSERT_TRUE(rig.Session().Run().RunActive());
  ASSERT_TRUE(WindowRig::WaitFor([&] { return GridText(rig, 0, 7) == "PASS"; }));
  // The Exit button is disabled for the run; the window's close is not.
  EXPECT_FALSE(rig.Window().Click(ids::kExit));
  EXPECT_TRUE(rig.Window().isVisible());
  rig.Window().close();
  EXPECT_FALSE(rig.Session().Run().RunActive());
  EXPECT_EQ(rig.Session().Run().RunsFinished(), 0);
  ASSERT_EQ(closed.count(), 1);
  EXPECT_EQ(closed[0][0].toInt(), 18);
  EXPECT_EQ(rig.Window().ExitCode(), 18);
}

}  // namespace
}  // namespace linetool::ui
