// romwright: the SPI flash and EEPROM programmer's window.

#include <QApplication>
#include <QFont>
#include <QStyleFactory>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "platform/linux/host_services.h"
#include "platform/linux/programmer_usb_libusb.h"
#include "platform/replace_file.h"
#include "romwright/app/cli/cli_command.h"
#include "romwright/settings/settings_file.h"
#include "romwright/ui/app_font.h"
#include "romwright/ui/main_window.h"
#include "romwright/ui/qt_services.h"
#include "romwright/ui/sim_panel.h"
#include "tools/qt/window_start.h"

int main(int argc, char** argv) {
  CLI::App command_line_app(
      "The SPI flash and EEPROM programmer. FILE (binary, or Intel HEX when its name\n"
      "ends in HEX or hex) is loaded into the buffer at start-up.",
      "romwright");
  command_line::SetUp(command_line_app);
  romwright::cli::GlobalOptions command_options;
  romwright::cli::AddSimOption(command_line_app, command_options);
  std::vector<std::string> files;
  command_line_app.add_option("FILE", files, "a file to load into the buffer");
  command_line_app.footer(
      "With --sim a \"Simulated programmer\" panel beside the window plugs the\n"
      "programmer, puts another chip in its socket and injects faults.\n"
      "Settings come from config.ini beside the program; installed, the user's own\n"
      "changes go to $XDG_CONFIG_HOME/romwright/config.ini (~/.config by default)\n"
      "over the shipped one. Relative paths in it are taken against the program's\n"
      "folder; installed, a relative log name against $XDG_STATE_HOME/romwright\n"
      "(~/.local/state by default). Qt's own options (-platform, -style, ...) are\n"
      "taken as well.\n");
  std::optional<QApplication> app;
  if (const auto done = qt_views::StartApplication(command_line_app, argc, argv, app)) return *done;
  const bool sim = command_options.sim;
  std::string sim_chip = command_options.sim_chip;
  const std::string sim_image = command_options.sim_image;
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  romwright::ui::UseWindowFont();

  std::string folder = platform::linux_host::ExecutableFolder();
  if (folder.empty()) folder = platform::linux_host::CurrentDirectory();
  const romwright::app::SettingsFile settings = romwright::app::SettingsFile::ForProgram(folder);
  platform::SteadyClock clock = platform::linux_host::MakeSystemClock();
  romwright::ui::QtMessageSink sink;
  romwright::ui::QtDesktopOpener opener;

  // The programmer: the simulated one, or the one on the USB bus.
  romwright::app::ChipDatabase db;
  std::unique_ptr<platform::ProgrammerUsb> usb;
  sim::programmer::SimProgrammer* simulated = nullptr;
  if (sim) {
    std::string error;
    const auto chip = romwright::ui::SimulatedChip(db, settings, folder, sim_chip, error);
    if (!chip) {
      std::cerr << error << "\n";
      return 2;
    }
    sim::programmer::SimProgrammerOptions options;
    options.bytes_per_second = 2 * 1024 * 1024;  // a read of 1 MiB takes half a second, as on the device
    options.erase_base_ms = 800;
    options.erase_ms_per_kib = 0;
    auto s = std::make_unique<sim::programmer::SimProgrammer>(clock, *chip, options);
    if (!sim_image.empty() && std::filesystem::exists(sim_image)) {
      std::ifstream in(sim_image, std::ios::binary);
      std::vector<std::uint8_t> contents(chip->capacity, 0xFF);
      in.read(reinterpret_cast<char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
      s->SetChipContents(contents);
    }
    simulated = s.get();
    usb = std::move(s);
  } else {
    usb = std::make_unique<platform::linux_host::LibusbProgrammer>();
  }

  int status = 0;
  {
    romwright::ui::MainWindow window(
        romwright::app::MainWindowServices{
            .clock = clock,
            .sink = sink,
            .usb = *usb,
            .opener = opener,
            .settings_host_path = settings.Path(),
            .host_workdir = folder,
            .settings_defaults_host_path = settings.DefaultsPath(),
            .no_programmer_hint = simulated ? std::string() : platform::linux_host::ProgrammerAccessHint(),
            .log_host_folder = settings.StateFolder()});
    sink.SetParent(&window);
    window.show();
    window.StartUp(files);
    std::unique_ptr<romwright::ui::SimPanel> panel;
    if (simulated) {
      panel = std::make_unique<romwright::ui::SimPanel>(*simulated, db, &window);
      panel->move(window.frameGeometry().topRight() + QPoint(8, 0));
      panel->show();
    }
    status = QApplication::exec();
  }
  if (simulated && !sim_image.empty()) {
    const auto contents = simulated->ChipContents();
    if (platform::ReplaceFile(sim_image, contents) != platform::WriteOutcome::kWritten) std::cerr << "romwright: cannot keep the simulated chip in " << sim_image << "\n";
  }
  return status;
}
