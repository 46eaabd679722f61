#include "platform/linux/udev_device_events.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace platform::linux_host {

namespace {

constexpr const char* kUsbDeviceInterfaceGuid = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

std::optional<std::uint16_t> HexField(const std::string& text) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(std::stoul(text, nullptr, 16));
}

std::string Text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

}  // namespace

std::optional<DeviceEvent> TranslateUdevEvent(const UdevEventProperties& p, const StationNumbering& numbers) {
  DeviceEventKind kind;
  if (p.action == "add") {
    kind = DeviceEventKind::kArrival;
  } else if (p.action == "remove") {
    kind = DeviceEventKind::kRemoval;
  } else {
    return std::nullopt;
  }

  if (p.subsystem == "block" && p.devtype == "disk" && !p.sysname.empty()) {
    const bool cdrom = p.sysname.rfind("sr", 0) == 0;
    const auto& number_of = cdrom ? numbers.cdrom : numbers.drive;
    const std::optional<int> n = number_of ? number_of(p.sysname) : std::nullopt;
    if (!n) return std::nullopt;
    return DeviceEvent{kind, (cdrom ? "\\\\.\\CDROM" : "\\\\.\\PHYSICALDRIVE") + std::to_string(*n)};
  }

  if (p.subsystem == "usb" && p.devtype == "usb_device" && !p.sysname.empty()) {
    // PRODUCT is "vendor/product/release" in hex without leading zeros.
    const auto slash = p.product.find('/');
    if (slash == std::string::npos) return std::nullopt;
    const auto second = p.product.find('/', slash + 1);
    const auto vendor = HexField(p.product.substr(0, slash));
    const auto product = HexField(p.product.substr(slash + 1, second == std::string::npos ? second : second - slash - 1));
    if (!vendor || !product) return std::nullopt;
    char ids[32];
    std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", *vendor, *product);
    return DeviceEvent{kind, std::string("\\\\?\\usb#") + ids + "#" + p.sysname + "#" + kUsbDeviceInterfaceGuid};
  }
  return std::nullopt;
}

std::string DefaultUdevSource() {
  std::error_code ec;
  return std::filesystem::exists("/run/udev/control", ec) ? "udev" : "kernel";
}

struct UdevDeviceEvents::Monitor {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  ~Monitor() {
    if (monitor != nullptr) udev_monitor_unref(monitor);
    if (context != nullptr) udev_unref(context);
  }
};

UdevDeviceEvents::UdevDeviceEvents(StationNumbering numbers, const std::string& source)
    : numbers_(std::move(numbers)), monitor_(std::make_unique<Monitor>()) {
  const auto fail = [this, &source](const char* what) {
    const int e = errno;
    SetError("the \"" + source + "\" netlink device monitor: " + what +
             (e != 0 ? std::string(": ") + std::strerror(e) : std::string()));
    monitor_.reset();
  };
  errno = 0;
  monitor_->context = udev_new();
  if (monitor_->context == nullptr) {
    fail("cannot open udev");
    return;
  }
  errno = 0;
  monitor_->monitor = udev_monitor_new_from_netlink(monitor_->context, source.c_str());
  if (monitor_->monitor == nullptr) {
    fail("cannot open it");
    return;
  }
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor_->monitor, "usb", "usb_device") < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor_->monitor, "block", "disk") < 0) {
    fail("cannot filter it");
    return;
  }
  errno = 0;
  if (udev_monitor_enable_receiving(monitor_->monitor) < 0) {
    fail("cannot receive from it");
    return;
  }
  errno = 0;
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    fail("cannot create the watcher's wake-up event");
    return;
  }
  watching_ = true;
  thread_ = std::jthread([this](std::stop_token stop) { Watch(stop); });
}

std::string UdevDeviceEvents::Error() const {
  std::lock_guard lock(error_mutex_);
  return error_;
}

void UdevDeviceEvents::SetError(std::string text) {
  std::lock_guard lock(error_mutex_);
  error_ = std::move(text);
}

bool UdevDeviceEvents::Watching() const { return watching_.load(); }

UdevDeviceEvents::~UdevDeviceEvents() {
  Stop();
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void UdevDeviceEvents::Stop() {
  std::lock_guard lock(stop_mutex_);
  if (!thread_.joinable()) return;
  thread_.request_stop();
  watching_ = false;
  if (thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

int UdevDeviceEvents::Subscribe(Listener listener) { return listeners_.Subscribe(std::move(listener)); }

void UdevDeviceEvents::Unsubscribe(int id) { listeners_.Unsubscribe(id); }

void UdevDeviceEvents::Deliver(const UdevEventProperties& properties) {
  if (const auto event = TranslateUdevEvent(properties, numbers_)) listeners_.Deliver(*event);
}

void UdevDeviceEvents::Watch(std::stop_token stop) {
  std::stop_callback wake(stop, [this] {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wake_fd_, &one, sizeof one);
  });
  udev_monitor* monitor = monitor_->monitor;
  pollfd fds[2] = {{udev_monitor_get_fd(monitor), POLLIN, 0}, {wake_fd_, POLLIN, 0}};
  while (!stop.stop_requested()) {
    fds[0].revents = 0;
    fds[1].revents = 0;
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      SetError(std::string("the watch for device events ended: ") + std::strerror(errno));
      break;
    }
    if (fds[1].revents != 0) break;
    if ((fds[0].revents & (POLLHUP | POLLNVAL)) != 0) {
      SetError("the watch for device events ended: the monitor's socket closed");
      break;
    }
    if ((fds[0].revents & (POLLIN | POLLERR)) == 0) continue;
    // Take every queued event; a receive also clears an overrun error.
    while (!stop.stop_requested()) {
      udev_device* device = udev_monitor_receive_device(monitor);
      if (device == nullptr) break;
      UdevEventProperties p;
      p.action = Text(udev_device_get_action(device));
      p.subsystem = Text(udev_device_get_subsystem(device));
      p.devtype = Text(udev_device_get_devtype(device));
      p.sysname = Text(udev_device_get_sysname(device));
      p.product = Text(udev_device_get_property_value(device, "PRODUCT"));
      udev_device_unref(device);
      Deliver(p);
    }
  }
  watching_ = false;
}

}  // namespace platform::linux_host
