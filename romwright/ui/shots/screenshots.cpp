// Takes the README's pictures of the window: runs it on the simulated
// programmer in a fresh folder, reads a chip, changes some bytes and takes a
// PNG of the main window in English and Chinese, of each dialog and of an
// operation under way. Usage: romwright_screenshots OUT_DIR SUFFIX
// (QT_SCALE_FACTOR=2 gives the 200 % pictures).

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "platform/linux/host_services.h"
#include "romwright/ui/app_font.h"
#include "romwright/ui/dialogs.h"
#include "romwright/ui/hex_view_widget.h"
#include "romwright/ui/main_window.h"
#include "romwright/ui/qt_services.h"
#include "sim/programmer/sim_programmer.h"

namespace {
namespace cmd = romwright::app::command;
namespace fs = std::filesystem;

QString g_out, g_suffix;

template <typename D>
D& As(QWidget* w) {
  return dynamic_cast<D&>(*w);
}

void Save(QWidget* w, const char* name) {
  const QString path = QStringLiteral("%1/%2%3.png").arg(g_out, QString::fromLatin1(name), g_suffix);
  if (!w->grab().save(path)) std::cerr << "cannot write " << path.toStdString() << "\n";
}

// Saves the next modal dialog as `name` once it is up, then lets `close`
// end it.
void ShootDialog(const char* name, std::function<void(QWidget*)> prepare, std::function<void(QWidget*)> close,
                 int tries = 200) {
  QTimer::singleShot(50, [=] {
    QWidget* d = QApplication::activeModalWidget();
    if (!d || !d->isVisible()) {
      if (tries > 0) ShootDialog(name, prepare, close, tries - 1);
      else std::cerr << "no dialog for " << name << "\n";
      return;
    }
    if (prepare) prepare(d);
    QTest::qWait(30);
    Save(d, name);
    close(d);
  });
}

void Reject(QWidget* d) {
  if (auto* dialog = qobject_cast<QDialog*>(d)) dialog->reject();
}

// A firmware-like chip image: a header, text, code-like bytes, erased space.
std::vector<std::uint8_t> ChipImage(std::uint32_t size) {
  std::vector<std::uint8_t> v(size, 0xFF);
  const char header[] = "VX7700 FIRMWARE V2.10 BUILD 2026-03-02 (C) ROMWRIGHT";
  std::copy(header, header + sizeof header - 1, v.begin() + 0x20);
  std::uint32_t x = 0x1234567;
  for (std::uint32_t i = 0x80; i < 0x6000; ++i) {
    x = x * 1103515245u + 12345u;
    v[i] = static_cast<std::uint8_t>(x >> 16);
  }
  return v;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "Usage: romwright_screenshots OUT_DIR SUFFIX [CHIP_DB CONFIG PICTURES_DIR]\n";
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  romwright::ui::UseWindowFont();
  g_out = QString::fromLocal8Bit(argv[1]);
  g_suffix = QString::fromLocal8Bit(argv[2]);
  fs::create_directories(argv[1]);

  // A fresh folder with the database, the settings and the pictures.
  const fs::path work = fs::temp_directory_path() / "romwright_screenshots";
  fs::remove_all(work);
  fs::create_directories(work);
  const fs::path exe_dir = fs::read_symlink("/proc/self/exe").parent_path();
  fs::copy_file(exe_dir / "chips.db", work / "chips.db");
  fs::copy_file(exe_dir / "config.ini", work / "config.ini");
  for (const char* pic : {"main.bmp", "about.bmp"}) {
    if (fs::exists(exe_dir / pic)) fs::copy_file(exe_dir / pic, work / pic);
  }

  platform::SteadyClock clock = platform::linux_host::MakeSystemClock();
  romwright::app::ChipDatabase db;
  db.LoadDatabase((work / "chips.db").string());
  sim::programmer::SimProgrammerOptions options;
  options.bytes_per_second = 512 * 1024;
  sim::programmer::SimProgrammer sim(clock, *db.FindByName("W25Q80"), options);
  sim.SetChipContents(ChipImage(1048576));
  romwright::ui::QtMessageSink sink;
  romwright::ui::QtDesktopOpener opener;
  romwright::ui::MainWindow window(
      romwright::app::MainWindowServices{clock, sink, sim, opener, (work / "config.ini").string(), work.string()});
  sink.SetParent(&window);
  window.show();
  window.StartUp({});
  QTest::qWait(100);

  // Detect, then read with a picture of the read under way.
  ShootDialog("detect-result", nullptr, Reject);
  window.RunCommand(cmd::kDetectChip);
  QTimer::singleShot(900, [&] { Save(&window, "operation-in-progress"); });
  window.RunCommand(cmd::kReadChip);
  // Some bytes changed by hand, a selection, the caret.
  auto& model = window.Presenter().Data().HexView();
  using Model = romwright::app::HexViewModel;
  model.GoToAddress(0x44);
  for (char c : std::string("C0FFEE")) window.Presenter().HexType(c);
  model.GoToAddress(0);
  model.Click(Model::ColumnX(7 + 3 * 4) + 2, Model::RowY(8) + 4);
  model.Drag(Model::ColumnX(7 + 3 * 11), Model::RowY(11) + 4);
  window.hex_view->setFocus();
  window.Sync();
  QTest::qWait(50);
  Save(&window, "main-english");

  // A 93-series chip of 16-bit words: its byte-order note under the
  // capacity, and the checksum of its 512 bytes.
  window.Presenter().ChipSearched("93C66 (x16)");
  window.Sync();
  QTest::qWait(50);
  Save(&window, "main-x16-english");
  window.RunCommand(cmd::kSimpleChinese);
  window.Sync();
  QTest::qWait(50);
  Save(&window, "main-x16-chinese");
  window.Presenter().ChipSearched("W25Q80");

  model.GoToAddress(0x20);
  window.Sync();
  QTest::qWait(50);
  Save(&window, "main-chinese");
  ShootDialog("chip-search-chinese", [](QWidget* d) {
    QTest::keyClicks(As<romwright::ui::ChipSearchDialog>(d).pattern, "AT24");
  }, Reject);
  window.search_button->click();
  ShootDialog("buffer-fill-chinese", nullptr, Reject);
  window.RunCommand(cmd::kBufferFill);
  window.RunCommand(cmd::kEnglish);
  model.GoToAddress(0);
  window.Sync();

  ShootDialog("buffer-fill", [](QWidget* d) {
    auto& f = As<romwright::ui::BufferFillDialog>(d);
    f.address->setText(QStringLiteral("1000"));
    f.length->setText(QStringLiteral("200"));
    f.data->setText(QStringLiteral("00"));
  }, Reject);
  window.RunCommand(cmd::kBufferFill);
  ShootDialog("address-location", [](QWidget* d) {
    As<romwright::ui::AddressLocationDialog>(d).address->setText(QStringLiteral("01F0"));
  }, Reject);
  window.RunCommand(cmd::kAddressLocation);
  ShootDialog("chip-search", [](QWidget* d) {
    auto& s = As<romwright::ui::ChipSearchDialog>(d);
    QTest::keyClicks(s.pattern, "25*80");
    s.list->selectRow(1);
  }, Reject);
  window.search_button->click();
  ShootDialog("about", nullptr, Reject);
  window.RunCommand(cmd::kAbout);
  ShootDialog("open-file", nullptr, Reject);
  window.RunCommand(cmd::kOpen);
  // Verify against the changed buffer: the error in red.
  ShootDialog("verify-error", nullptr, Reject);
  window.RunCommand(cmd::kVerifyChip);
  Save(&window, "main-verify-error");

  // The firmware update's prompt to link the programmer again.
  QMessageBox prompt(&window);
  prompt.setWindowTitle(window.windowTitle());
  prompt.setText(romwright::ui::Q(window.Presenter().T(74)));
  prompt.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
  ShootDialog("firmware-update-wait", nullptr, Reject);
  prompt.exec();

  window.RunCommand(cmd::kEnglish);
  window.close();
  return 0;
}
