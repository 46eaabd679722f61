// The window on the simulated programmer, driven as an operator drives it:
// clicks, keys, menu actions and dialogs, on the offscreen platform.

#include "romwright/ui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QScrollBar>
#include <QUrl>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QMenu>
#include <QToolBar>
#include <QPointer>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/linux/quiescent_clock.h"
#include "romwright/settings/settings_file.h"
#include "romwright/ui/app_font.h"
#include "romwright/ui/dialogs.h"
#include "romwright/ui/hex_view_widget.h"
#include "romwright/ui/sim_panel.h"
#include "sim/programmer/sim_programmer.h"
#include "tools/testing/scratch_dir.h"
#include "tools/testing/test_paths.h"

namespace romwright::ui {
namespace {

namespace cmd = app::command;

class NoOpener final : public platform::DesktopOpener {
 public:
  bool Open(const std::string&) override { return false; }
};

// Runs `f` on the dialog that the next modal exec() shows.
template <typename Dialog>
void WhenDialogOpens(std::function<void(Dialog&)> f) {
  QTimer::singleShot(0, [f] {
    auto* d = dynamic_cast<Dialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr) << "no such dialog open";
    f(*d);
  });
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = test_support::ScratchDir(std::string("romwright_ui_") + info->name());
    std::filesystem::copy_file(test_support::kChipDb, dir_ / "chips.db");
    std::ofstream(dir_ / "config.ini", std::ios::binary)
        << "[Run]\r\nDefaultLanguage=English\r\nDefaultChipName=EN25T80\r\n"
           "[English]\r\nCaption=Romwright\r\nVersion=FPR7100 Programmer\r\nLogFile=rw.log\r\n"
           "DataBaseFile=chips.db\r\n"
           "[SimpleChinese]\r\nCaption=Romwright 编程器\r\nLogFile=rw.log\r\nDataBaseFile=chips.db\r\n";
    ASSERT_TRUE(db_.LoadDatabase(test_support::kChipDb));
    sim_ = std::make_unique<sim::programmer::SimProgrammer>(clock_, *db_.FindByName("W25Q80"));
    window_ = std::make_unique<MainWindow>(
        app::MainWindowServices{clock_, sink_, *sim_, opener_, (dir_ / "config.ini").string(), dir_.string()});
    window_->show();
    window_->StartUp({});
    ASSERT_TRUE(window_->Presenter().Ready());
    sink_.Clear();
  }
  void TearDown() override { window_.reset(); }

  app::DataBuffer& Buffer() { return window_->Presenter().Data().Buffer(); }
  std::string Setting(const std::string& key) {
    return app::SettingsFile((dir_ / "config.ini").string()).Read("Run", key);
  }
  std::vector<std::uint8_t> Pattern(std::uint32_t size) {
    std::vector<std::uint8_t> v(size);
    for (std::uint32_t i = 0; i < size; ++i) v[i] = static_cast<std::uint8_t>(i * 13 + (i >> 8));
    return v;
  }
  // The pixel centre of hex digit `nibble` (0 high, 1 low) of byte j in screen row r.
  static QPoint HexDigit(int r, int j, int nibble) {
    return {app::HexViewModel::ColumnX(7 + 3 * j + nibble) + 4, app::HexViewModel::RowY(r) + 8};
  }
  // Counts the ink pixels of the hex pair at column c, screen row r that are
  // red, or that are dark.
  static int InkOf(const QImage& image, int c, int r, bool red) {
    int n = 0;
    for (int y = app::HexViewModel::RowY(r); y < app::HexViewModel::RowY(r + 1); ++y) {
      for (int x = app::HexViewModel::ColumnX(c); x < app::HexViewModel::ColumnX(c + 2); ++x) {
        const QColor p = image.pixelColor(x, y);
        if (red ? (p.red() > 180 && p.green() < 90 && p.blue() < 90)
                : (p.red() < 90 && p.green() < 90 && p.blue() < 90)) {
          ++n;
        }
      }
    }
    return n;
  }

  std::filesystem::path dir_;
  platform::linux_host::QuiescentClock clock_;
  app::ChipDatabase db_;
  platform::RecordingSink sink_;
  NoOpener opener_;
  std::unique_ptr<sim::programmer::SimProgrammer> sim_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, ChipChosenBySearchThenReadFillsTheViewAndTheChecksum) {
  WhenDialogOpens<ChipSearchDialog>([](ChipSearchDialog& d) {
    QTest::keyClicks(d.pattern, "w25q8");
    EXPECT_EQ(d.result_text->text().left(5), "Find ");
    // Select without a row says so and stays open.
    d.list->clearSelection();
    d.TrySelect();
    ASSERT_TRUE(d.isVisible());
    const auto found = d.list->findItems("W25Q80", Qt::MatchExactly);
    ASSERT_FALSE(found.isEmpty());
    d.list->selectRow(found.front()->row());
    d.TrySelect();
  });
  QTest::mouseClick(window_->search_button, Qt::LeftButton);
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Please select a chip!"});
  EXPECT_EQ(window_->chip_list->currentText(), "W25Q80");
  EXPECT_EQ(window_->manufacturer_list->currentText(), "Winbond");
  EXPECT_EQ(Setting("DefaultChipName"), "W25Q80");

  const auto image = Pattern(1048576);
  sim_->SetChipContents(image);
  window_->RunCommand(cmd::kReadChip);
  ASSERT_EQ(window_->Presenter().Operations().OperationOk(), 1) << window_->info_line->text().toStdString();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), Buffer().Data()));
  EXPECT_EQ(window_->checksum->text().toStdString(), Buffer().ChecksumText());
  EXPECT_EQ(window_->percent->text(), "100%");
  EXPECT_TRUE(window_->info_line->text().startsWith("Read chip ok!   Elapsed time: "));
  const auto row = window_->Presenter().Data().HexView().Row(1);
  EXPECT_EQ(row.address, "000000 ");
  EXPECT_EQ(row.bytes[1].hex, "0D");
}

TEST_F(MainWindowTest, ATypedNibbleTurnsRedAndChangesTheChecksum) {
  window_->RunCommand(cmd::kReadChip);
  const QString before = window_->checksum->text();
  HexViewWidget* view = window_->hex_view;
  QTest::mouseClick(view, Qt::LeftButton, {}, HexDigit(1, 2, 0));
  EXPECT_EQ(window_->Presenter().Data().HexView().CursorNibble(), 4u);
  QTest::keyClick(view, '5');
  EXPECT_EQ(Buffer().Data()[2], 0x5F);
  EXPECT_TRUE(Buffer().Marked(2));
  EXPECT_NE(window_->checksum->text(), before);
  EXPECT_EQ(window_->checksum->text().toStdString(), Buffer().ChecksumText());
  QTest::keyClick(view, 'x');  // not a digit: nothing changes
  EXPECT_EQ(Buffer().Data()[2], 0x5F);
  EXPECT_EQ(window_->Presenter().Data().HexView().CursorNibble(), 5u);

  // The changed pair is drawn in red, its neighbours in black (the caret
  // is moved away first).
  for (int i = 0; i < 3; ++i) QTest::keyClick(view, Qt::Key_Down);
  const QImage page = view->grab().toImage();
  EXPECT_GT(InkOf(page, 7 + 3 * 2, 1, true), 10);
  EXPECT_EQ(InkOf(page, 7 + 3 * 2, 1, false), 0);
  EXPECT_EQ(InkOf(page, 7 + 3 * 1, 1, true), 0);
  EXPECT_GT(InkOf(page, 7 + 3 * 1, 1, false), 10);
}

TEST_F(MainWindowTest, VerifyOfAnAlteredBufferFailsWithAddressAndBytesInRed) {
  window_->RunCommand(cmd::kReadChip);
  window_->Presenter().Data().HexView().GoToAddress(0x12345);
  const std::uint8_t chip_byte = Buffer().Data()[0x12345];
  QTest::keyClick(window_->hex_view, chip_byte >> 4 == 0xA ? 'B' : 'A');
  sink_.Clear();
  window_->RunCommand(cmd::kVerifyChip);
  const auto boxes = sink_.Texts();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("Verify chip error!\r\n\r\nAddr:0x012345   \r\n Buf:0x"), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].find("Chip:0x"), std::string::npos);
  EXPECT_EQ(window_->info_line->text(), "Verify chip error!");
  EXPECT_EQ(window_->info_line->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(window_->percent->text(), "ERROR");

  // The next ordinary message is black again.
  window_->RunCommand(cmd::kByteSwap);
  window_->RunCommand(cmd::kDetectChip);
  EXPECT_EQ(window_->info_line->palette().color(QPalette::WindowText), QColor(0, 0, 0));
}

TEST_F(MainWindowTest, BufferFillOnA4096ByteChipFillsToTheEndOfTheChip) {
  ASSERT_TRUE(window_->Presenter().ChipSearched("AT24C32"));
  window_->Sync();
  ASSERT_EQ(Buffer().ViewLength(), 4096u);
  WhenDialogOpens<BufferFillDialog>([](BufferFillDialog& d) {
    d.address->setText("10");
    d.length->setText("100000");
    d.data->setText("5A");
    d.accept();
  });
  window_->RunCommand(cmd::kBufferFill);
  EXPECT_EQ(Buffer().Data()[15], 0xFF);
  EXPECT_FALSE(Buffer().Marked(15));
  for (std::uint32_t a : {16u, 17u, 2048u, 4095u}) {
    EXPECT_EQ(Buffer().Data()[a], 0x5A) << a;
    EXPECT_TRUE(Buffer().Marked(a)) << a;
  }
  EXPECT_EQ(Buffer().Data()[4096], 0xFF);
  EXPECT_EQ(window_->checksum->text().toStdString(), Buffer().ChecksumText());

  // A start beyond the chip is refused and the dialog stays open.
  WhenDialogOpens<BufferFillDialog>([](BufferFillDialog& d) {
    d.address->setText("1000");
    d.accept();
    EXPECT_TRUE(d.isVisible());
    d.reject();
  });
  window_->RunCommand(cmd::kBufferFill);
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Start address error!"});
}

TEST_F(MainWindowTest, AddressLocationRefusesANonHexCharacterWhereItIsTypedAndGoesToTheAddress) {
  WhenDialogOpens<AddressLocationDialog>([](AddressLocationDialog& d) {
    EXPECT_EQ(d.address->text(), "000000");
    d.address->clear();
    QTest::keyClicks(d.address, "1f");
    d.address->setCursorPosition(1);
    QTest::keyClick(d.address, 'g');  // refused: the text stays, the caret where it was typed
    EXPECT_EQ(d.address->text(), "1f");
    EXPECT_EQ(d.address->cursorPosition(), 1);
    d.address->setCursorPosition(2);
    QTest::keyClicks(d.address, "00");
    d.accept();
  });
  window_->RunCommand(cmd::kAddressLocation);
  auto& model = window_->Presenter().Data().HexView();
  EXPECT_EQ(model.CursorAddress(), 0x1F00u);
  EXPECT_EQ(model.TopRow(), 0x1F0u);
  EXPECT_EQ(window_->scroll_bar->value(), static_cast<int>(model.ScrollPosition()));
  EXPECT_TRUE(sink_.Texts().empty());
}

TEST_F(MainWindowTest, OneDroppedFileLoadsAndNamesTheWindowTwoAreRefused) {
  const auto file = dir_ / "dropped.bin";
  std::ofstream(file, std::ios::binary) << "DROP";
  auto drop = [this](const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    // A drop reaches the window that took the drag's entry.
    QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent event(QPointF(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &event);
  };
  const QUrl url = QUrl::fromLocalFile(QString::fromStdString(file.string()));
  drop({url, url});
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Drop file error!"});
  EXPECT_EQ(Buffer().Data()[0], 0xFF);
  drop({url});
  EXPECT_EQ(sink_.Texts().size(), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Buffer().Data()), 4), "DROP");
  const std::string path = file.string();
  ASSERT_GT(path.size(), 60u);  // a long path shows its last 50 characters
  EXPECT_EQ(window_->windowTitle().toStdString(), "Romwright   ..." + path.substr(path.size() - 50));
  EXPECT_EQ(window_->checksum->text().toStdString(), Buffer().ChecksumText());
}

TEST_F(MainWindowTest, ClicksOnTheHeaderOrLeftOfTheBytesChangeNothing) {
  auto& model = window_->Presenter().Data().HexView();
  QTest::mouseClick(window_->hex_view, Qt::LeftButton, {}, HexDigit(3, 5, 1));
  const std::uint32_t cursor = model.CursorNibble();
  EXPECT_EQ(cursor, 2u * (2 * 16 + 5) + 1);
  QTest::mouseClick(window_->hex_view, Qt::LeftButton, {}, QPoint(app::HexViewModel::ColumnX(7) + 4, 8));  // row 0
  QTest::mouseClick(window_->hex_view, Qt::LeftButton, {}, QPoint(app::HexViewModel::ColumnX(6) + 4, 60));  // column 6
  QTest::mouseClick(window_->hex_view, Qt::LeftButton, {}, QPoint(4, 100));  // the address
  EXPECT_EQ(model.CursorNibble(), cursor);
  EXPECT_EQ(model.SelectionFirst(), cursor / 2);
  EXPECT_EQ(model.SelectionLast(), cursor / 2);

  // The ASCII area takes whole bytes; a character replaces one.
  QTest::mouseClick(window_->hex_view, Qt::LeftButton, {}, QPoint(app::HexViewModel::ColumnX(55 + 3) + 4, 20));
  EXPECT_EQ(model.CursorArea(), app::HexViewModel::Area::kAscii);
  QTest::keyClick(window_->hex_view, 'Q');
  EXPECT_EQ(Buffer().Data()[3], 'Q');
  EXPECT_EQ(model.CursorAddress(), 4u);
  // Arrow keys move the cursor, the scroll bar follows the view.
  for (int i = 0; i < 30; ++i) QTest::keyClick(window_->hex_view, Qt::Key_Down);
  EXPECT_EQ(model.CursorAddress(), 4u + 30 * 16);
  EXPECT_EQ(model.TopRow(), 30u - 23u);
}

TEST_F(MainWindowTest, LanguageSwitchChangesMenusAndPanelAndWritesTheSetting) {
  ASSERT_EQ(window_->Menus()->actions().front()->text(), "&File");
  window_->Action(cmd::kSimpleChinese)->trigger();
  EXPECT_EQ(Setting("DefaultLanguage"), "SimpleChinese");
  EXPECT_EQ(window_->Menus()->actions().front()->text(), QString::fromUtf8("文件(&F)"));
  EXPECT_TRUE(window_->Action(cmd::kSimpleChinese)->isChecked());
  EXPECT_FALSE(window_->Action(cmd::kEnglish)->isChecked());
  EXPECT_EQ(window_->chip_group->title(), QString::fromUtf8("选择芯片"));
  EXPECT_EQ(window_->windowTitle(), QString::fromUtf8("Romwright 编程器"));
  EXPECT_EQ(window_->info_line->text().toStdString(), window_->Presenter().T(89));
  // Every command stays reachable by its identifier.
  EXPECT_EQ(window_->Action(cmd::kReadChip)->text(), QString::fromUtf8("读芯片(&R)"));

  window_->Action(cmd::kEnglish)->trigger();
  EXPECT_EQ(Setting("DefaultLanguage"), "English");
  EXPECT_EQ(window_->Menus()->actions().front()->text(), "&File");
  EXPECT_EQ(window_->search_button->text(), "Search...");

  // Commands that leave the language alone leave the menus alone: a menu the
  // operator has open stays, and switching back and forth leaves one set of
  // menus and toolbar buttons behind.
  const auto* toolbar = window_->findChild<QToolBar*>();
  ASSERT_NE(toolbar, nullptr);
  const auto objects = [&] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return window_->Menus()->findChildren<QMenu*>().size() + toolbar->findChildren<QAction*>().size();
  };
  const auto objects_before = objects();
  const QPointer<QAction> read = window_->Action(cmd::kReadChip);
  window_->RunCommand(cmd::kDetectChip);
  window_->RunCommand(cmd::kReadChip);
  EXPECT_EQ(window_->Action(cmd::kReadChip), read.data());
  for (const auto id : {cmd::kSimpleChinese, cmd::kEnglish, cmd::kSimpleChinese, cmd::kEnglish})
    window_->Action(id)->trigger();
  EXPECT_EQ(objects(), objects_before);
  EXPECT_EQ(window_->Menus()->findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(),
            window_->Menus()->actions().size());
}

TEST_F(MainWindowTest, ASecondCommandWhileBusyIsRefusedAndClosingStopsTheOperation) {
  sim_->SetLinkRate(64 * 1024);  // a read of 1 MiB takes 16 s of the clock
  QTimer::singleShot(0, [this] { window_->RunCommand(cmd::kWriteChip); });
  QTimer::singleShot(0, [this] { window_->close(); });
  window_->RunCommand(cmd::kReadChip);
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Programmer is busy, please wait a moment!"});
  EXPECT_EQ(window_->Presenter().Operations().OperationOk(), 0);
  EXPECT_EQ(window_->Presenter().Engine().State(), link::kIdle);
  QTest::qWait(20);
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(MainWindowTest, SimPanelUnplugsTheProgrammerAndChangesAChipByteForVerify) {
  SimPanel panel(*sim_, db_);
  window_->RunCommand(cmd::kReadChip);
  ASSERT_TRUE(panel.CorruptByte("00100"));
  sink_.Clear();
  window_->RunCommand(cmd::kVerifyChip);
  ASSERT_EQ(sink_.Texts().size(), 1u);
  EXPECT_NE(sink_.Texts()[0].find("Addr:0x000100"), std::string::npos);
  EXPECT_FALSE(panel.CorruptByte("100000"));  // beyond the 1 MiB chip

  panel.plugged->setChecked(false);
  sink_.Clear();
  window_->RunCommand(cmd::kReadChip);
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"No programmer linked to computer!"});
  clock_.WaitFor(std::chrono::milliseconds(600));  // the link timer's next tick is due
  QTest::qWait(60);
  EXPECT_EQ(window_->link_state->text(), "No USB Link!");
}

// Installed, the window reads the shipped config.ini for what the user's own
// lacks (here: all of it, the database's name included), says where the
// access to the programmer comes from when there is none, and logs into the
// user's state folder.
TEST(MainWindowInstalled, TheShippedSettingsTheHintAndTheLogFolderReachThePresenter) {
  const auto dir = test_support::ScratchDir("romwright_ui_installed");
  std::filesystem::create_directories(dir / "lib");
  std::filesystem::copy_file(test_support::kChipDb, dir / "lib" / "chips.db");
  std::ofstream(dir / "lib" / "config.ini", std::ios::binary)
      << "[Run]\r\nDefaultLanguage=English\r\nDefaultChipName=W25Q80\r\n"
         "[English]\r\nCaption=Romwright\r\nLogFile=rw.log\r\nDataBaseFile=chips.db\r\n";
  platform::linux_host::QuiescentClock clock;
  platform::RecordingSink sink;
  NoOpener opener;
  app::ChipDatabase db;
  ASSERT_TRUE(db.LoadDatabase(test_support::kChipDb));
  sim::programmer::SimProgrammer sim(clock, *db.FindByName("W25Q80"));
  sim.Unplug();
  {
    MainWindow window(app::MainWindowServices{.clock = clock,
                                              .sink = sink,
                                              .usb = sim,
                                              .opener = opener,
                                              .settings_host_path = (dir / "home" / "config.ini").string(),
                                              .host_workdir = (dir / "lib").string(),
                                              .settings_defaults_host_path = (dir / "lib" / "config.ini").string(),
                                              .no_programmer_hint = "Ask for the plugdev group.",
                                              .log_host_folder = (dir / "state").string()});
    window.show();
    window.StartUp({});
    ASSERT_TRUE(window.Presenter().Ready());
    EXPECT_EQ(window.Presenter().Operations().SelectedChip(), *db.FindByName("W25Q80"))
        << "the shipped settings were not read";
    EXPECT_EQ(sink.Texts(), std::vector<std::string>{"No programmer linked to computer!\nAsk for the plugdev group."});
  }
  EXPECT_TRUE(std::filesystem::exists(dir / "state" / "rw.log"));
  EXPECT_FALSE(std::filesystem::exists(dir / "lib" / "rw.log"));
}

}  // namespace
}  // namespace romwright::ui

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  romwright::ui::UseWindowFont();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
