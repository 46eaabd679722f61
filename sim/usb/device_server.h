#pragma once
// The device server of the kernel rig: every storage device of a world and,
// when asked, the programmer, each a usbredir device on a unix socket of its
// own in one folder (DIR/dev-<index>.sock in BridgesOf order,
// DIR/programmer.sock), a control socket DIR/control.sock, and DIR/qemu.args,
// the qemu arguments (one a line) that attach exactly this topology:
//
//   per controller N of the world: -device qemu-xhci,id=xhci<N>,p2=<ports>,p3=<ports>
//   per external hub:             -device usb-hub,bus=xhci<N>.0,port=<P>,ports=<count>
//   per device i:                 -chardev socket,id=ud<i>,path=DIR/dev-<i>.sock
//                                 -device usb-redir,chardev=ud<i>,bus=xhci<N>.0,port=<P>[.<Q>...]
//   the programmer, on a controller of its own after the world's:
//                                 -device qemu-xhci,id=xhci-prog,p2=1,p3=1
//                                 -chardev socket,id=uprog,path=DIR/programmer.sock
//                                 -device usb-redir,chardev=uprog,bus=xhci-prog.0,port=1
//
// qemu-xhci has at most 15 ports of each kind, qemu's usb-hub at most 8; a
// world beyond that is refused. A device behind a usb-hub (a full-speed hub)
// links at full speed.
//
// Control requests, one line each, one line answered ("ok ..." or "error ..."):
// "unplug <i>", "plug <i>", "unplug programmer", "plug programmer", and
// "status": "ok <n>" followed by one line per device,
// "<index|programmer> <connected|restarting|unplugged> VID:PID SERIAL <vm|no-vm>".

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "romwright/link/chip_record.h"
#include "sim/station/sim_bridge.h"
#include "sim/station/world_description.h"
#include "sim/usb/scsi_target.h"

namespace sim::usb {

struct ServerOptions {
  station::WorldSpec world;                    // no controllers: no bridges
  std::filesystem::path disk_folder;            // where the images are
  std::optional<romwright::ChipRecord> chip;    // the programmer's chip; none: no programmer
  std::string chip_image;                       // kept between runs; empty: none
  std::filesystem::path dir;                    // the sockets and qemu.args
};

// Makes the SCSI logical unit of a bridge model.
using TargetFactory = std::function<std::unique_ptr<ScsiTarget>(std::shared_ptr<station::SimBridge>)>;

// The qemu arguments of the topology, or nothing with `error`.
std::optional<std::vector<std::string>> QemuArguments(station::WorldSpec world, const std::filesystem::path& dir,
                                                      bool programmer, std::string& error);

class DeviceServer {
 public:
  // `clock` times the programmer model (real time under a real kernel).
  DeviceServer(ServerOptions options, TargetFactory targets, platform::Clock& clock);
  ~DeviceServer();
  DeviceServer(const DeviceServer&) = delete;
  DeviceServer& operator=(const DeviceServer&) = delete;

  // Builds the devices, listens on every socket and writes qemu.args.
  bool Start(std::string& error);
  // Takes every device off the bus, closes the sockets, keeps the chip image.
  // False when the chip image could not be written.
  bool Stop(std::string& error);

  // One control request and its answer (without the line end).
  std::string Command(const std::string& line);

  std::size_t BridgeCount() const;

  struct Parts;

 private:
  void ServeControl(std::stop_token stop);

  ServerOptions options_;
  TargetFactory targets_;
  platform::Clock& clock_;
  std::unique_ptr<Parts> parts_;
  int control_fd_ = -1;
  int stop_fd_ = -1;
  std::jthread control_;
};

// Sends one control request to the server whose folder is `dir` and returns
// its answer (all lines), or nothing with `error`.
std::optional<std::string> SendControl(const std::filesystem::path& dir, const std::string& request,
                                       std::string& error);

}  // namespace sim::usb
