// linetool_screenshots OUTDIR RESOURCES [SUFFIX]: pictures of the station's
// window on a simulated station of 16 bridges: idle, during a run, after a
// run with passes and injected failures, and every dialog (Last Records over
// a records file holding that run); last, that grid sorted by capacity and a
// second run on it. Run on the
// offscreen platform (QT_QPA_PLATFORM=offscreen); QT_SCALE_FACTOR=2 gives the
// 200 % pictures. Each PNG is OUTDIR/linetool_<name><SUFFIX>.png.

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <string>

#include "linetool/app/cli/sim_station_backend.h"
#include "linetool/app/control_ids.h"
#include "linetool/app/last_records.h"
#include "linetool/app/scaled_clock.h"
#include "linetool/ui/sim_station_control.h"
#include "linetool/ui/sim_station_panel.h"
#include "linetool/ui/station_session.h"
#include "linetool/ui/tools/pump.h"
#include "linetool/ui/station_style.h"
#include "linetool/ui/window_message_sink.h"
#include "linetool/records/stores/sqlite_records_store.h"
#include "platform/linux/host_services.h"
#include "sim/station/world_description.h"

namespace {

namespace fs = std::filesystem;
using linetool::ui::tools::Pump;
namespace ids = linetool::app::ids;
using namespace linetool;

fs::path g_out;
std::string g_suffix;
int g_failures = 0;

void Save(QWidget& w, const std::string& name) {
  const fs::path file = g_out / ("linetool_" + name + g_suffix + ".png");
  if (!w.grab().save(QString::fromStdString(file.string()))) {
    std::cerr << "screenshots: cannot write " << file << "\n";
    ++g_failures;
    return;
  }
  std::cout << file.string() << "\n";
}


// Does `act` once a modal window of that object name is up.
void WhenModal(const QString& name, const std::function<void(QWidget&)>& act) {
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [name, act, poll] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal->objectName() != name || !modal->isVisible()) {
      QTimer::singleShot(20, *poll);
      return;
    }
    QApplication::processEvents();
    act(*modal);
  };
  QTimer::singleShot(20, *poll);
}

// Runs `open`, which shows a modal window; once it is up, `prepare` fills it,
// it is photographed as `name` and closed.
void ShootModal(const std::string& name, const std::function<void()>& open,
                const std::function<void(QWidget&)>& prepare = {}) {
  auto pending = std::make_shared<bool>(true);
  auto shoot = std::make_shared<std::function<void()>>();
  *shoot = [name, prepare, shoot, pending] {
    if (!*pending) return;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) {
      QTimer::singleShot(20, *shoot);
      return;
    }
    *pending = false;
    if (prepare) prepare(*modal);
    QApplication::processEvents();
    Save(*modal, name);
    modal->close();
  };
  QTimer::singleShot(50, *shoot);
  open();
  if (*pending) {
    *pending = false;
    std::cerr << "screenshots: " << name << " did not open\n";
    ++g_failures;
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ui::ApplyStationStyle(app);
  if (argc < 3) {
    std::cerr << "usage: linetool_screenshots OUTDIR RESOURCES [SUFFIX]\n";
    return 2;
  }
  g_out = argv[1];
  const fs::path resources = argv[2];
  g_suffix = argc > 3 ? argv[3] : "";
  fs::create_directories(g_out);

  std::random_device rd;
  const fs::path root = fs::temp_directory_path() / ("linetool-shots-" + std::to_string(rd()));
  const fs::path work = root / "work";
  fs::create_directories(work);
  for (const char* f : {"kl_line_Tool v0.3.ini", "121105_10_0000.bin", "wr_test.bin"})
    fs::copy_file(resources / f, work / f);
  fs::copy(resources / "preload", work / "preload", fs::copy_options::recursive);

  {
    platform::SteadyClock calendar = platform::linux_host::MakeSystemClock();
    app::ScaledClock clock(calendar, app::kSimTimeFactor);
    cli::SimStationBackend backend(sim::station::DefaultWorld(16), clock, root, work.string());
    ui::WindowMessageSink sink;
    std::string error;
    const auto store = records::stores::SqliteRecordsStore::Open((root / "records.db").string(), error);
    if (!store) {
      std::cerr << "screenshots: " << error << "\n";
      return 1;
    }
    ui::StationSession session(sink, backend.Services(), work.string(), backend.DriveRoot(),
                               {store.get(), false, "station-4"});
    ui::SimStationControl control(backend.World(), backend.VolumeSet());
    ui::LineToolWindow& window = session.Window();
    session.Start();
    Pump([] { return false; }, 300);
    Save(window, "main_idle");

    // A run with failures: three bridges get faults before Start.
    control.Inject(3, ui::SimFault::kConfigWriteFails);
    control.Inject(8, ui::SimFault::kFirmwareFails);
    control.Inject(13, ui::SimFault::kNeverReturns);
    ui::SimStationPanel panel(control);
    panel.Select({3, 8, 13});
    panel.resize(380, 420);
    panel.show();
    Pump([] { return false; }, 100);
    Save(panel, "sim_panel");

    window.Click(ids::kStart);
    Pump([&] { return session.Presenter().CellText(0, 9) == "PASS"; }, 120000);
    Save(window, "main_running");
    Pump([&] { return !session.Run().RunActive(); }, 300000);
    Pump([] { return false; }, 200);
    Save(window, "main_after_run");
    ShootModal("dialog_last_records", [&] { window.Click(ids::kLastRecords); }, [](QWidget& w) {
      auto* message = w.findChild<QLabel*>("message");
      Pump([message] { return message != nullptr && !message->text().startsWith("Reading"); }, 10000);
    });

    // Dialogs.
    ShootModal("dialog_load_ini", [&] { window.Click(ids::kLoadIni); });
    ShootModal("dialog_login", [&] { window.Click(ids::kLock); }, [](QWidget& w) {
      if (auto* e = w.findChild<QLineEdit*>("password")) e->setText("secret");
    });
    {
      // The login above was closed by the photograph; log in for real.
      auto accept = std::make_shared<std::function<void()>>();
      *accept = [accept] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
          QTimer::singleShot(20, *accept);
          return;
        }
        if (auto* e = modal->findChild<QLineEdit*>("password")) {
          e->setText("MORVELA");
          emit e->textEdited(e->text());
        }
        QMetaObject::invokeMethod(modal, "accept");
      };
      QTimer::singleShot(20, *accept);
      window.Click(ids::kLock);
    }
    window.Sync();
    Save(window, "main_unlocked");
    ShootModal("dialog_save_ini", [&] { window.Click(ids::kSaveIni); });
    ShootModal("dialog_browse_fw", [&] { window.Click(ids::kBrowseFw); });
    ShootModal("dialog_browse_preload", [&] { window.Click(ids::kBrowsePreload); });
    ShootModal("dialog_more_config", [&] { window.Click(ids::kMoreConfig); });
    ShootModal("dialog_about", [&] { window.Click(ids::kAbout); });
    ShootModal("dialog_check_config", [&] { window.Click(ids::kCheckConfig); }, [](QWidget& w) {
      for (auto* e : w.findChildren<QLineEdit*>()) {
        const QString value = e->objectName() == "readAddress" ? "C890" : e->objectName() == "readLength" ? "40" : "";
        if (value.isEmpty()) continue;
        e->setText(value);
        emit e->textEdited(value);
      }
      if (auto* b = w.findChild<QPushButton*>("readRegister")) b->click();
    });
    // Device Info opens from the register dialog.
    WhenModal("checkConfigDialog", [](QWidget& check) {
      WhenModal("deviceInfoDialog", [](QWidget& info) {
        Save(info, "dialog_device_info");
        info.close();
      });
      if (auto* b = check.findChild<QPushButton*>("deviceInfo")) b->click();
      check.close();
    });
    window.Click(ids::kCheckConfig);
    ShootModal("dialog_message", [&] {
      auto* vid = qobject_cast<QLineEdit*>(window.Control(ids::kVendorId));
      vid->setText("12");
      emit vid->textEdited("12");
      window.Click(ids::kStart);
    });
    {
      auto* vid = qobject_cast<QLineEdit*>(window.Control(ids::kVendorId));
      vid->setText("0F3C");
      emit vid->textEdited("0F3C");
    }
    // The run's grid sorted by capacity (the failed rows go with their ports),
    // then a second run on it with the faults cleared: stages not yet run are
    // plain, whatever the run before left in them.
    session.Presenter().SortGrid(6);
    window.Sync();
    Pump([] { return false; }, 200);
    Save(window, "main_sorted");
    control.ClearFaults(3);
    control.ClearFaults(8);
    window.Click(ids::kStart);
    Pump([&] { return session.Presenter().CellText(0, 9).empty(); }, 120000);
    Pump([&] { return session.Presenter().CellText(0, 9) == "PASS"; }, 120000);
    Save(window, "main_rerun");
    Pump([&] { return !session.Run().RunActive(); }, 300000);
    window.close();
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  return g_failures == 0 ? 0 : 1;
}
