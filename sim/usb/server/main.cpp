// sim-usb-server: the simulated station's bridges and the simulated programmer
// as USB devices of a qemu guest, over usbredir (see sim/usb/device_server.h).

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/host_services.h"
#include "romwright/chips/chip_database.h"
#include "sim/station/world_file.h"
#include "sim/usb/bridge_scsi_target.h"
#include "sim/usb/device_server.h"
#include "tools/cli/command_line.h"
#include "tools/cli/interruption.h"


namespace {

constexpr int kExitError = 2;

int Fail(const std::string& why) {
  std::cerr << "sim-usb-server: " << why << "\n";
  return kExitError;
}

// chips.db beside romwright-cli in the same build tree.
std::string DefaultDatabase() {
  const std::filesystem::path folder = platform::linux_host::ExecutableFolder();
  return (folder / ".." / ".." / ".." / "romwright" / "app" / "chips.db").lexically_normal().string();
}

sim::usb::TargetFactory BridgeTargets() {
  return [](std::shared_ptr<sim::station::SimBridge> model) -> std::unique_ptr<sim::usb::ScsiTarget> {
    return std::make_unique<sim::usb::BridgeScsiTarget>(std::move(model));
  };
}

}  // namespace

int main(int argc, char** argv) {
  command_line::Interruption interruption;
  CLI::App app("Serves the simulated bridges and programmer as USB devices of a qemu guest (usbredir).",
               "sim-usb-server");
  command_line::SetUp(app);
  std::string world_file, programmer, db, dir, workdir, control;
  std::vector<std::string> request;
  app.add_option("--world", world_file, "world file (as --sim=FILE): its bridges, disk images in its disk_folder");
  app.add_option("--programmer", programmer, "CHIP[,IMAGE]: the programmer, holding CHIP, its contents kept in IMAGE");
  app.add_option("--db", db, "chip database (default: chips.db of romwright-cli in this build tree)");
  app.add_option("--dir", dir, "folder of the sockets and qemu.args (relative names: against --workdir)");
  app.add_option("--workdir", workdir, "folder the world's disk_folder and IMAGE are taken against (default: the current one)");
  app.add_option("--control", control, "DIR: send one request to the server of DIR and print its answer");
  app.add_option("request", request, "with --control: unplug N | plug N | unplug programmer | plug programmer | status");
  app.footer(
      "The server listens on DIR/dev-<i>.sock (one per bridge, in the world's order), DIR/programmer.sock and\n"
      "DIR/control.sock, writes DIR/qemu.args (qemu's arguments, one a line), prints \"ready\" and runs until\n"
      "SIGTERM or Ctrl-C. Start qemu after it, e.g. qemu-system-x86_64 ... $(cat DIR/qemu.args).\n"
      "Control: sim-usb-server --control DIR status | unplug 2 | plug 2 | unplug programmer | plug programmer\n"
      "Exit status: 0 stopped by a signal (or the request answered ok), 1 the request answered an error,\n"
      "2 usage or start-up error (one line on stderr).");
  if (auto code = command_line::Parse(app, argc, argv, std::cout, std::cerr)) return *code;

  if (!control.empty()) {
    std::string line;
    for (const auto& word : request) line += (line.empty() ? "" : " ") + word;
    std::string error;
    const auto answer = sim::usb::SendControl(control, line, error);
    if (!answer) return Fail(error);
    std::cout << *answer << "\n";
    return answer->rfind("ok", 0) == 0 ? 0 : 1;
  }
  if (dir.empty()) return Fail("--dir is required");
  if (!request.empty()) return Fail("a request needs --control DIR");

  const std::filesystem::path base = workdir.empty() ? std::filesystem::current_path() : std::filesystem::path(workdir);
  sim::usb::ServerOptions options;
  options.dir = std::filesystem::absolute(base / dir);
  if (!world_file.empty()) {
    std::string error;
    auto world = sim::station::ReadWorldFile(base / world_file, error);
    if (!world) return Fail(world_file + ": " + error);
    options.world = std::move(*world);
  }
  options.disk_folder =
      base / (options.world.disk_folder.empty() ? std::string(sim::station::kDefaultDiskFolder) : options.world.disk_folder);
  if (!programmer.empty()) {
    const auto comma = programmer.find(',');
    const std::string chip = programmer.substr(0, comma);
    if (comma != std::string::npos) options.chip_image = (base / programmer.substr(comma + 1)).string();
    romwright::app::ChipDatabase database;
    const std::string db_path = db.empty() ? DefaultDatabase() : (base / db).string();
    if (!database.LoadDatabase(db_path)) return Fail("cannot use the chip database " + db_path + ": " + database.LoadFault());
    options.chip = database.FindByName(chip);
    if (!options.chip) return Fail("chip \"" + chip + "\" is not in the database " + db_path);
  }
  auto targets = BridgeTargets();
  platform::SteadyClock clock = platform::linux_host::MakeSystemClock();
  sim::usb::DeviceServer server(std::move(options), std::move(targets), clock);
  std::string error;
  if (!server.Start(error)) return Fail(error);
  std::cout << "ready" << std::endl;
  while (!interruption.Requested()) {
    // The signal thread notes the stop; look at it a few times a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!server.Stop(error)) return Fail(error);
  return 0;
}
