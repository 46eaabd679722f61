// The window's files, checksum, start-up and texts, driven as an operator
// drives them on the simulated programmer: files picked, chips switched,
// reads cut short, boxes answered.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/linux/quiescent_clock.h"
#include "romwright/data/data_buffer.h"
#include "romwright/ui/dialogs.h"
#include "romwright/ui/main_window.h"
#include "romwright/ui/qt_services.h"
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

// Tells the test of every box as it is shown, answering OK.
class WatchingSink final : public platform::MessageSink {
 public:
  using platform::MessageSink::Show;
  platform::MessageAnswer Show(const platform::MessageBox& box) override {
    if (on_show) on_show(box);
    return platform::DefaultAnswer(box.buttons);
  }
  std::function<void(const platform::MessageBox&)> on_show;
};

std::string SumText(const app::DataBuffer& buffer) {
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < buffer.ViewLength(); ++i) sum += buffer.Data()[i];
  char text[32];
  std::snprintf(text, sizeof text, "CheckSum: %08XH", static_cast<unsigned>(sum));
  return text;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::filesystem::path& path) {
  QFile f(QString::fromStdString(path.string()));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll().toStdString();
}

class MainWindowFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = test_support::ScratchDir(std::string("romwright_files_") + info->name());
    std::filesystem::copy_file(test_support::kChipDb, dir_ / "chips.db");
    WriteFile(dir_ / "config.ini",
              "[Run]\r\nDefaultLanguage=English\r\nDefaultChipName=EN25T80\r\n"
              "[English]\r\nCaption=Romwright\r\nLogFile=rw.log\r\nDataBaseFile=chips.db\r\n"
              "[SimpleChinese]\r\nCaption=Romwright\r\nLogFile=rw.log\r\nDataBaseFile=chips.db\r\n");
    ASSERT_TRUE(db_.LoadDatabase(test_support::kChipDb));
    sim_ = std::make_unique<sim::programmer::SimProgrammer>(clock_, *db_.FindByName("EN25T80"));
  }
  void TearDown() override { window_.reset(); }

  void Open(platform::MessageSink& sink, const std::vector<std::string>& arguments = {}) {
    window_ = std::make_unique<MainWindow>(
        app::MainWindowServices{clock_, sink, *sim_, opener_, (dir_ / "config.ini").string(), dir_.string()});
    window_->SetFilePickers(FilePickers{
        [this](const QString&, const QString& filter) {
          open_filter_ = filter;
          return next_file_;
        },
        [this](const QString&, const QString& filter) {
          save_filter_ = filter;
          return next_file_;
        }});
    window_->show();
    window_->StartUp(arguments);
  }
  void Open() {
    Open(sink_);
    ASSERT_TRUE(window_->Presenter().Ready());
  }
  // File Open with the picker answering `path`.
  void Load(const std::filesystem::path& path) {
    next_file_ = path.string();
    window_->RunCommand(cmd::kOpen);
  }
  // Picks a chip through the lists of the panel, as a click does.
  void Choose(const QString& type, const QString& manufacturer, const QString& chip) {
    if (window_->type_list->currentText() != type) {
      window_->type_list->setCurrentIndex(window_->type_list->findText(type));
      emit window_->type_list->activated(window_->type_list->currentIndex());
    }
    if (window_->manufacturer_list->currentText() != manufacturer) {
      window_->manufacturer_list->setCurrentIndex(window_->manufacturer_list->findText(manufacturer));
      emit window_->manufacturer_list->activated(window_->manufacturer_list->currentIndex());
    }
    const int at = window_->chip_list->findText(chip);
    ASSERT_GE(at, 0) << chip.toStdString();
    window_->chip_list->setCurrentIndex(at);
    emit window_->chip_list->activated(at);
    ASSERT_EQ(window_->chip_list->currentText(), chip);
  }
  app::DataBuffer& Buffer() { return window_->Presenter().Data().Buffer(); }
  std::string Label() const { return window_->checksum->text().toStdString(); }

  std::filesystem::path dir_;
  platform::linux_host::QuiescentClock clock_;
  app::ChipDatabase db_;
  platform::RecordingSink sink_;
  NoOpener opener_;
  std::unique_ptr<sim::programmer::SimProgrammer> sim_;
  std::unique_ptr<MainWindow> window_;
  std::optional<std::string> next_file_;
  QString open_filter_, save_filter_;
};

TEST_F(MainWindowFilesTest, TheChecksumLabelFollowsEveryChipAndAReadThatFailed) {
  Open();
  std::string image(2 * 1048576, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 37) ^ (i >> 11));
  WriteFile(dir_ / "image.bin", image);
  Load(dir_ / "image.bin");
  ASSERT_EQ(Buffer().ViewLength(), 1048576u);
  EXPECT_EQ(Label(), SumText(Buffer()));
  const std::string en25t80 = Label();

  Choose("SPI FLASH", "Winbond", "W25X40");
  ASSERT_EQ(Buffer().ViewLength(), 524288u);
  EXPECT_EQ(Label(), SumText(Buffer()));
  EXPECT_NE(Label(), en25t80);
  Choose("SPI FLASH", "Winbond", "W25Q128");
  ASSERT_EQ(Buffer().ViewLength(), 16777216u);
  EXPECT_EQ(Label(), SumText(Buffer()));

  // Back on EN25T80, a read that the pulled programmer cuts short.
  Choose("SPI FLASH", "Eon", "EN25T80");
  sim_->SetChipContents(std::vector<std::uint8_t>(1048576, 0x5A));
  sim_->SetLinkRate(64 * 1024);
  const std::string before = Label();
  QTimer::singleShot(300, [this] { sim_->Unplug(); });
  window_->RunCommand(cmd::kReadChip);
  ASSERT_EQ(window_->Presenter().Operations().OperationOk(), 0);
  ASSERT_EQ(Buffer().Data()[0], 0x5A) << "nothing was read before the programmer went";
  EXPECT_EQ(Label(), SumText(Buffer()));
  EXPECT_NE(Label(), before);
}

TEST_F(MainWindowFilesTest, HexDataLandAtTheirChipAddressOrAreMovedDownWithANote) {
  Open();
  // A file for chip address 0x10000: the first record is its upper address.
  WriteFile(dir_ / "high.hex", ":020000040001F9\r\n:02000000A1A2BB\r\n:00000001FF\r\n");
  Load(dir_ / "high.hex");
  EXPECT_TRUE(sink_.Texts().empty());
  EXPECT_EQ(Buffer().Data()[0], 0xFF);
  EXPECT_EQ(Buffer().Data()[0x10000], 0xA1);
  EXPECT_EQ(Buffer().Data()[0x10001], 0xA2);
  EXPECT_EQ(Label(), SumText(Buffer()));
  // Data for 0x100000 on this 1 MiB chip: too long, and nothing at 0.
  WriteFile(dir_ / "beyond.hex", ":020000040010EA\r\n:01000000B04F\r\n:00000001FF\r\n");
  Load(dir_ / "beyond.hex");
  ASSERT_EQ(sink_.Texts().size(), 1u);
  EXPECT_TRUE(sink_.Texts()[0].starts_with("File is too long!\n")) << sink_.Texts()[0];
  EXPECT_EQ(Buffer().Data()[0], 0xFF);
  // An image linked for 0x08000000 is moved down, and the info line says so.
  sink_.Clear();
  WriteFile(dir_ / "mcu.hex", ":020000040800F2\r\n:0100100042AD\r\n:00000001FF\r\n");
  Load(dir_ / "mcu.hex");
  EXPECT_TRUE(sink_.Texts().empty());
  EXPECT_EQ(Buffer().Data()[0x10], 0x42);
  EXPECT_EQ(window_->info_line->text(),
            "The file's data start at 08000010H, beyond the chip: moved down by 08000000H");
  EXPECT_TRUE(window_->windowTitle().endsWith(QStringLiteral("mcu.hex")));
}

TEST_F(MainWindowFilesTest, ACutHexFileKeepsTheTitleAndTheBufferAndSaysWhichLine) {
  Open();
  WriteFile(dir_ / "good.bin", "GOOD");
  Load(dir_ / "good.bin");
  const QString title = window_->windowTitle();
  ASSERT_TRUE(title.endsWith(QStringLiteral("good.bin")));
  const std::string checksum = Label();
  // Half an image: the second record is cut in the middle.
  WriteFile(dir_ / "cut.hex", ":040000001122334452\r\n:04000400556677");
  Load(dir_ / "cut.hex");
  ASSERT_EQ(sink_.Texts().size(), 1u);
  EXPECT_EQ(sink_.Texts()[0], "Open file error!\nline 2: the record ends early");
  EXPECT_EQ(window_->windowTitle(), title);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Buffer().Data()), 4), "GOOD");
  EXPECT_EQ(Label(), checksum);
  // A Write now programs what the title names, not half of the other file.
  window_->RunCommand(cmd::kWriteChip);
  ASSERT_EQ(window_->Presenter().Operations().OperationOk(), 1);
  const auto chip = sim_->ChipContents();
  EXPECT_EQ(std::string(chip.begin(), chip.begin() + 4), "GOOD");
}

TEST_F(MainWindowFilesTest, SaveAsHexWritesIntelHexThatOpensAgain) {
  Open();
  std::string image(1048576, '\xFF');
  for (std::size_t i = 0; i < 0x30000; ++i) image[i] = static_cast<char>(i * 11 + (i >> 16));
  WriteFile(dir_ / "image.bin", image);
  Load(dir_ / "image.bin");
  next_file_ = (dir_ / "x.hex").string();
  window_->RunCommand(cmd::kSave);
  EXPECT_TRUE(save_filter_.contains(QStringLiteral("*.bin")));
  EXPECT_TRUE(save_filter_.contains(QStringLiteral("*.hex")));
  EXPECT_EQ(window_->info_line->text(), "Save file successful!");
  const std::string saved = ReadFile(dir_ / "x.hex");
  ASSERT_TRUE(saved.starts_with(":20000000")) << saved.substr(0, 40);
  EXPECT_TRUE(saved.ends_with(":00000001FF\r\n"));
  EXPECT_NE(saved.find(":020000040001F9\r\n"), std::string::npos);

  std::fill_n(Buffer().Data(), 1048576, std::uint8_t{0});
  Load(dir_ / "x.hex");
  EXPECT_TRUE(sink_.Texts().empty()) << sink_.Texts().front();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), reinterpret_cast<const char*>(Buffer().Data())));
}

TEST_F(MainWindowFilesTest, StartUpBoxesComeOverTheFinishedWindow) {
  sim_->Unplug();
  WatchingSink sink;
  std::vector<std::string> seen;
  sink.on_show = [&](const platform::MessageBox& box) {
    seen.push_back(box.text.substr(0, box.text.find('\n')));
    EXPECT_FALSE(window_->Menus()->actions().isEmpty()) << box.text;
    EXPECT_EQ(window_->type_label->text(), "Type:") << box.text;
    EXPECT_EQ(window_->chip_group->title(), "Select Chip") << box.text;
    EXPECT_EQ(window_->chip_list->currentText(), "EN25T80") << box.text;
  };
  Open(sink, {(dir_ / "missing.bin").string()});
  EXPECT_EQ(seen, (std::vector<std::string>{"No programmer linked to computer!", "Open file error!"}));
}

TEST_F(MainWindowFilesTest, ASettingsFileOfRandomBytesStillGivesAWindowWithItsTexts) {
  std::string noise(2048, '\0');
  std::uint32_t x = 99;
  for (auto& c : noise) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  WriteFile(dir_ / "config.ini", noise);
  WatchingSink sink;
  std::vector<std::string> seen;
  sink.on_show = [&](const platform::MessageBox& box) { seen.push_back(box.text); };
  Open(sink);
  // The shipped chips.db and EN25T80 are taken: no box, every label.
  EXPECT_TRUE(seen.empty()) << seen.front();
  ASSERT_TRUE(window_->Presenter().Ready());
  EXPECT_EQ(window_->Menus()->actions().front()->text(), "&File");
  EXPECT_EQ(window_->chip_group->title(), "Select Chip");
  EXPECT_EQ(window_->capacity_label->text(), "Capacity:");
  EXPECT_EQ(window_->search_button->text(), "Search...");
  EXPECT_EQ(window_->windowTitle(), "Romwright");
}

TEST_F(MainWindowFilesTest, SimulatedProgrammerWithABrokenDatabaseSaysDatabaseError) {
  WriteFile(dir_ / "chips.db", std::string(300, 'x'));
  app::ChipDatabase db;
  std::string error;
  EXPECT_FALSE(SimulatedChip(db, app::SettingsFile((dir_ / "config.ini").string()), dir_.string(), "", error));
  EXPECT_TRUE(error.starts_with("Database error!\n" + (dir_ / "chips.db").string() + ": ")) << error;
  EXPECT_EQ(error.find("is not in the database"), std::string::npos);
  // A good one gives the chip asked for, else the default chip.
  std::filesystem::copy_file(test_support::kChipDb, dir_ / "chips.db", std::filesystem::copy_options::overwrite_existing);
  const auto chip = SimulatedChip(db, app::SettingsFile((dir_ / "config.ini").string()), dir_.string(), "W25Q80", error);
  ASSERT_TRUE(chip);
  EXPECT_EQ(app::NameOf(*chip), "W25Q80");
  EXPECT_EQ(app::NameOf(*SimulatedChip(db, app::SettingsFile((dir_ / "config.ini").string()), dir_.string(), "", error)), "EN25T80");
}

TEST_F(MainWindowFilesTest, TheByteOrderNoteFitsThePanelInBothLanguages) {
  Open();
  Choose("93 EEPROM", "Microchip/Atmel/ST", "93C66 (x16)");
  for (const auto language : {cmd::kEnglish, cmd::kSimpleChinese}) {
    window_->RunCommand(language);
    QLabel* note = window_->byte_order_note;
    SCOPED_TRACE(note->text().toStdString());
    EXPECT_EQ(note->text().toStdString(), window_->Presenter().T(80));
    // The whole note is drawn: its wrapped height fits the label, and the
    // label lies inside the panel.
    EXPECT_LE(note->heightForWidth(note->width()), note->height());
    EXPECT_TRUE(window_->chip_group->rect().contains(note->geometry()))
        << note->geometry().bottom() << " " << window_->chip_group->rect().bottom();
    EXPECT_LE(window_->capacity_text->fontMetrics().horizontalAdvance(window_->capacity_text->text()),
              window_->capacity_text->width());
    EXPECT_LE(window_->chip_group->geometry().bottom(), window_->picture->geometry().top());
  }
  // Other chips have none.
  Choose("SPI FLASH", "Eon", "EN25T80");
  EXPECT_TRUE(window_->byte_order_note->text().isEmpty());
}

TEST_F(MainWindowFilesTest, InChineseTheBoxesButtonsAreChineseAsThePromptNamesThem) {
  const QString qm = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_CN.qm");
  if (!QFile::exists(qm)) GTEST_SKIP() << "Qt's Chinese translation is not installed (" << qm.toStdString() << ")";
  Open();
  QtMessageSink boxes;
  boxes.SetParent(window_.get());
  const auto buttons = [&] {
    QStringList texts;
    QTimer::singleShot(0, [&] {
      auto* m = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(m, nullptr);
      for (QAbstractButton* b : m->buttons()) texts << b->text().remove(QLatin1Char('&'));
      m->reject();
    });
    boxes.Show("?", {}, platform::MessageIcon::kNone, platform::MessageButtons::kOkCancel);
    texts.sort();
    return texts;
  };
  EXPECT_EQ(buttons(), (QStringList{QStringLiteral("Cancel"), QStringLiteral("OK")}));
  window_->RunCommand(cmd::kSimpleChinese);
  const QStringList chinese = buttons();
  EXPECT_TRUE(chinese.contains(QString::fromUtf8("确定"))) << chinese.join(',').toStdString();
  EXPECT_TRUE(chinese.contains(QString::fromUtf8("取消"))) << chinese.join(',').toStdString();
  // The firmware prompt names the button that is there.
  EXPECT_NE(window_->Presenter().T(74).find("\"确定\""), std::string::npos);
  window_->RunCommand(cmd::kEnglish);
  EXPECT_EQ(buttons(), (QStringList{QStringLiteral("Cancel"), QStringLiteral("OK")}));
}

TEST_F(MainWindowFilesTest, KeysForOpenAndSaveADisabledEraseAndAVerifyErrorShownInTheView) {
  Open();
  WriteFile(dir_ / "a.bin", "KEYS");
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  next_file_ = (dir_ / "a.bin").string();
  // Through the window system, as a key press comes.
  QTest::keyClick(window_->windowHandle(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Buffer().Data()), 4), "KEYS");
  next_file_ = (dir_ / "b.bin").string();
  QTest::keyClick(window_->windowHandle(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(ReadFile(dir_ / "b.bin").substr(0, 4), "KEYS");

  // The Erase button of an EEPROM looks other than that of a flash chip.
  auto* toolbar = window_->findChild<QToolBar*>();
  ASSERT_NE(toolbar, nullptr);
  QAction* erase = nullptr;
  for (QAction* a : toolbar->actions()) {
    if (a->data().toUInt() == cmd::kChipErase) erase = a;
  }
  ASSERT_NE(erase, nullptr);
  auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(erase));
  ASSERT_NE(button, nullptr);
  ASSERT_TRUE(button->isEnabled());
  const QImage enabled = button->grab().toImage();
  Choose("93 EEPROM", "Microchip/Atmel/ST", "93C66 (x16)");
  ASSERT_FALSE(button->isEnabled());
  const QImage disabled = button->grab().toImage();
  ASSERT_EQ(enabled.size(), disabled.size());
  int differing = 0;
  for (int y = 0; y < enabled.height(); ++y) {
    for (int x = 0; x < enabled.width(); ++x) {
      const QColor a = enabled.pixelColor(x, y), b = disabled.pixelColor(x, y);
      if (std::abs(a.lightness() - b.lightness()) > 40 || std::abs(a.alpha() - b.alpha()) > 60) ++differing;
    }
  }
  EXPECT_GT(differing, enabled.width() * enabled.height() / 20);

  // A Verify that fails shows the byte that differs.
  Choose("SPI FLASH", "Eon", "EN25T80");
  window_->RunCommand(cmd::kReadChip);
  Buffer().Data()[0x54321] ^= 0xFF;
  window_->RunCommand(cmd::kVerifyChip);
  ASSERT_EQ(window_->Presenter().Operations().OperationOk(), 0);
  const auto& model = window_->Presenter().Data().HexView();
  EXPECT_EQ(model.CursorAddress(), 0x54321u);
  EXPECT_EQ(model.TopRow(), 0x5432u);
  EXPECT_EQ(window_->scroll_bar->value(), static_cast<int>(model.ScrollPosition()));
}

}  // namespace
}  // namespace romwright::ui
