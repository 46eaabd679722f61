#include "sim/usb/device_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "platform/number_text.h"
#include "platform/replace_file.h"
#include "sim/programmer/chip_image_file.h"
#include "sim/programmer/sim_programmer.h"
#include "sim/station/station_world.h"
#include "sim/usb/bridge_function.h"
#include "sim/usb/programmer_function.h"
#include "sim/usb/redir_device.h"

namespace sim::usb {

namespace {

constexpr int kMaxXhciPorts = 15;
constexpr int kMaxUsbHubPorts = 8;

struct Placed {
  platform::UsbSpeed port_speed = platform::UsbSpeed::kSuper;
};

// Walks the world in BridgesOf order, writing the qemu arguments and the port
// speed of each device.
bool Place(const station::HubSpec& hub, const std::string& bus, const std::string& prefix, bool behind_hub,
           const std::filesystem::path& dir, std::vector<std::string>& args, std::vector<Placed>& placed,
           std::string& error) {
  for (const auto& p : hub.ports) {
    const std::string port = prefix + std::to_string(p.port);
    if (p.device) {
      const std::size_t i = placed.size();
      args.push_back("-chardev");
      args.push_back("socket,id=ud" + std::to_string(i) + ",path=" + (dir / ("dev-" + std::to_string(i) + ".sock")).string());
      args.push_back("-device");
      args.push_back("usb-redir,chardev=ud" + std::to_string(i) + ",bus=" + bus + ",port=" + port);
      placed.push_back({behind_hub ? platform::UsbSpeed::kFull : platform::UsbSpeed::kSuper});
    }
    if (p.hub) {
      if (p.hub->port_count < 1 || p.hub->port_count > kMaxUsbHubPorts) {
        error = "the hub on port " + port + " has " + std::to_string(p.hub->port_count) +
                " ports; qemu's usb-hub has 1 to " + std::to_string(kMaxUsbHubPorts);
        return false;
      }
      args.push_back("-device");
      args.push_back("usb-hub,bus=" + bus + ",port=" + port + ",ports=" + std::to_string(p.hub->port_count));
      if (!Place(*p.hub, bus, port + ".", true, dir, args, placed, error)) return false;
    }
  }
  return true;
}

std::optional<std::vector<Placed>> Layout(const station::WorldSpec& world, const std::filesystem::path& dir,
                                          bool programmer, std::vector<std::string>& args, std::string& error) {
  std::vector<Placed> placed;
  for (std::size_t n = 0; n < world.controllers.size(); ++n) {
    const auto& root = world.controllers[n].root_hub;
    if (root.port_count < 1 || root.port_count > kMaxXhciPorts) {
      error = "controller " + std::to_string(n) + " has " + std::to_string(root.port_count) +
              " root ports; qemu-xhci has 1 to " + std::to_string(kMaxXhciPorts);
      return std::nullopt;
    }
    const std::string id = "xhci" + std::to_string(n);
    const std::string ports = std::to_string(root.port_count);
    args.push_back("-device");
    args.push_back("qemu-xhci,id=" + id + ",p2=" + ports + ",p3=" + ports);
    if (!Place(root, id + ".0", "", false, dir, args, placed, error)) return std::nullopt;
  }
  if (programmer) {
    args.insert(args.end(), {"-device", "qemu-xhci,id=xhci-prog,p2=1,p3=1", "-chardev",
                             "socket,id=uprog,path=" + (dir / "programmer.sock").string(), "-device",
                             "usb-redir,chardev=uprog,bus=xhci-prog.0,port=1"});
  }
  return placed;
}

}  // namespace

std::optional<std::vector<std::string>> QemuArguments(station::WorldSpec world, const std::filesystem::path& dir,
                                                      bool programmer, std::string& error) {
  std::vector<std::string> args;
  if (!Layout(world, dir, programmer, args, error)) return std::nullopt;
  return args;
}

struct DeviceServer::Parts {
  std::vector<std::unique_ptr<BridgeFunction>> bridges;
  std::vector<std::unique_ptr<RedirDevice>> bridge_devices;
  std::unique_ptr<programmer::SimProgrammer> programmer;
  std::unique_ptr<ProgrammerFunction> programmer_function;
  std::unique_ptr<RedirDevice> programmer_device;
};

DeviceServer::DeviceServer(ServerOptions options, TargetFactory targets, platform::Clock& clock)
    : options_(std::move(options)), targets_(std::move(targets)), clock_(clock), parts_(std::make_unique<Parts>()) {}

DeviceServer::~DeviceServer() {
  std::string ignored;
  Stop(ignored);
}

std::size_t DeviceServer::BridgeCount() const { return parts_->bridges.size(); }

bool DeviceServer::Start(std::string& error) {
  std::vector<std::string> args;
  const auto placed = Layout(options_.world, options_.dir, options_.chip.has_value(), args, error);
  if (!placed) return false;
  std::error_code ec;
  std::filesystem::create_directories(options_.dir, ec);
  auto specs = station::BridgesOf(options_.world);
  for (std::size_t i = 0; i < specs.size(); ++i) {
    auto model = station::BuildBridgeModel(*specs[i], static_cast<int>(i), options_.disk_folder);
    auto target = targets_(model);
    parts_->bridges.push_back(std::make_unique<BridgeFunction>(std::move(model), std::move(target), specs[i]->speed,
                                                               std::chrono::milliseconds(options_.world.reload_delay_ms)));
    parts_->bridge_devices.push_back(std::make_unique<RedirDevice>(
        (options_.dir / ("dev-" + std::to_string(i) + ".sock")).string(), *parts_->bridges.back(),
        (*placed)[i].port_speed));
    if (!parts_->bridge_devices.back()->Listen(error)) return false;
  }
  if (options_.chip) {
    programmer::SimProgrammerOptions po;
    parts_->programmer = std::make_unique<programmer::SimProgrammer>(clock_, *options_.chip, po);
    programmer::LoadChipImage(*parts_->programmer, options_.chip_image);
    parts_->programmer_function = std::make_unique<ProgrammerFunction>(
        *parts_->programmer, po.version, po.serial, static_cast<std::uint16_t>(po.packet_bytes));
    parts_->programmer_device = std::make_unique<RedirDevice>((options_.dir / "programmer.sock").string(),
                                                              *parts_->programmer_function, platform::UsbSpeed::kFull);
    if (!parts_->programmer_device->Listen(error)) return false;
  }

  // The control socket.
  const std::string control = (options_.dir / "control.sock").string();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (control.size() >= sizeof addr.sun_path) {
    error = control + ": the socket path is too long";
    return false;
  }
  std::memcpy(addr.sun_path, control.c_str(), control.size() + 1);
  ::unlink(control.c_str());
  control_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (control_fd_ < 0 || ::bind(control_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(control_fd_, 4) != 0) {
    error = control + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  for (const auto& a : args) text += a + "\n";
  if (platform::ReplaceFile((options_.dir / "qemu.args").string(), text) != platform::WriteOutcome::kWritten) {
    error = (options_.dir / "qemu.args").string() + ": cannot be written";
    return false;
  }
  for (auto& d : parts_->bridge_devices) d->Start();
  if (parts_->programmer_device) parts_->programmer_device->Start();
  stop_fd_ = ::eventfd(0, EFD_CLOEXEC);
  control_ = std::jthread([this](std::stop_token stop) { ServeControl(stop); });
  return true;
}

bool DeviceServer::Stop(std::string& error) {
  if (control_.joinable()) {
    control_.request_stop();
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stop_fd_, &one, sizeof one);
    control_.join();
  }
  if (control_fd_ >= 0) {
    ::close(control_fd_);
    control_fd_ = -1;
    ::unlink((options_.dir / "control.sock").c_str());
  }
  if (stop_fd_ >= 0) {
    ::close(stop_fd_);
    stop_fd_ = -1;
  }
  parts_->bridge_devices.clear();  // each leaves the bus first
  parts_->programmer_device.reset();
  parts_->programmer_function.reset();
  parts_->bridges.clear();  // the models and their disk images close
  bool kept = true;
  if (parts_->programmer) {
    if (!options_.chip_image.empty() && !programmer::KeepChipImage(*parts_->programmer, options_.chip_image)) {
      error = "cannot keep the simulated chip in " + options_.chip_image;
      kept = false;
    }
    parts_->programmer.reset();
  }
  return kept;
}

std::string DeviceServer::Command(const std::string& line) {
  std::istringstream in(line);
  std::string verb, what, extra;
  in >> verb >> what >> extra;
  if (verb == "status" && what.empty()) {
    std::string out = "ok " + std::to_string(parts_->bridges.size() + (parts_->programmer ? 1 : 0));
    for (std::size_t i = 0; i < parts_->bridges.size(); ++i) {
      auto& d = *parts_->bridge_devices[i];
      auto& f = *parts_->bridges[i];
      out += "\n" + std::to_string(i) + " " + d.Call([&f] { return f.Describe(); }) +
             (d.PeerConnected() ? " vm" : " no-vm");
    }
    if (parts_->programmer_device) {
      auto& f = *parts_->programmer_function;
      out += "\nprogrammer " + parts_->programmer_device->Call([&f] { return f.Describe(); }) +
             (parts_->programmer_device->PeerConnected() ? " vm" : " no-vm");
    }
    return out;
  }
  if ((verb == "plug" || verb == "unplug") && !what.empty() && extra.empty()) {
    UsbFunction* function = nullptr;
    RedirDevice* device = nullptr;
    if (what == "programmer") {
      function = parts_->programmer_function.get();
      device = parts_->programmer_device.get();
      if (!device) return "error no programmer";
    } else {
      const auto index = platform::ParseUnsigned(what, 10);
      if (!index || *index >= parts_->bridges.size()) return "error no device " + what;
      function = parts_->bridges[*index].get();
      device = parts_->bridge_devices[*index].get();
    }
    const bool plug = verb == "plug";
    device->Call([function, plug] {
      if (plug) {
        function->Plug();
      } else {
        function->Unplug();
      }
      return 0;
    });
    return "ok " + verb + " " + what;
  }
  return "error unknown request: " + line;
}

void DeviceServer::ServeControl(std::stop_token stop) {
  while (!stop.stop_requested()) {
    pollfd fds[2] = {{control_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents & POLLIN) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(control_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string line;
    char c = 0;
    while (line.size() < 256 && ::read(fd, &c, 1) == 1 && c != '\n') line.push_back(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string answer = Command(line) + "\n";
    [[maybe_unused]] auto n = ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    ::close(fd);
  }
}

std::optional<std::string> SendControl(const std::filesystem::path& dir, const std::string& request,
                                       std::string& error) {
  const std::string path = (dir / "control.sock").string();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    error = path + ": the socket path is too long";
    return std::nullopt;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    error = path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return std::nullopt;
  }
  const std::string line = request + "\n";
  [[maybe_unused]] auto sent = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  std::string answer;
  char buf[512];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) answer.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  while (!answer.empty() && answer.back() == '\n') answer.pop_back();
  return answer;
}

}  // namespace sim::usb
