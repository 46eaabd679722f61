#pragma once
// Plug and unplug events of a Linux host, from a udev monitor: the arrival
// and removal of whole disks, CD-ROM drives and USB devices, named as the
// station names them.
//
// A watcher thread waits on the monitor's netlink socket and on an eventfd
// that a stop request signals, so Stop() returns at once and never waits
// for a time-out. Listeners are called on the watcher thread, one event at a
// time, with no lock of this object held: a listener may subscribe,
// unsubscribe or walk the devices again.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/device_events.h"

namespace platform::linux_host {

// What the station looks at in one udev event.
struct UdevEventProperties {
  std::string action;     // "add", "remove", "change", "bind", ...
  std::string subsystem;  // "block", "usb", ...
  std::string devtype;    // "disk", "partition", "usb_device", "usb_interface"
  std::string sysname;    // "sdb", "sr0", "2-1"
  std::string product;    // PRODUCT of a USB device: vendor/product/release in hex, "152d/578/100"
};

// The numbers the station gives block devices: the drive number a disk has
// (or had, for one that is gone) and the number of a CD-ROM drive; nullopt
// for a device the station does not number (the system's loop, RAM and
// mapper devices, or one it never saw).
struct StationNumbering {
  std::function<std::optional<int>(const std::string& disk)> drive;
  std::function<std::optional<int>(const std::string& cdrom)> cdrom;
};

// The station's event for a udev event, or nullopt when the station takes
// no note of it. Whole disks become "\\.\PHYSICALDRIVEn", CD-ROM drives
// "\\.\CDROMn", USB devices their device interface path
// ("\\?\usb#vid_152d&pid_0578#2-1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
// the instance being the device's place on the bus). Only "add" and "remove"
// count; partitions, interfaces, hubs' ports and media changes do not.
std::optional<DeviceEvent> TranslateUdevEvent(const UdevEventProperties& properties, const StationNumbering& numbers);

// The netlink source to watch: "udev" (events after udev has made the
// device nodes) when a udev daemon runs, else "kernel" (the kernel's own
// events, for hosts without one).
std::string DefaultUdevSource();

class UdevDeviceEvents final : public DeviceEvents {
 public:
  // Starts watching usb and block devices on the netlink `source` ("udev"
  // or "kernel"). When the monitor cannot be set up, Error() says why and no
  // event is ever raised.
  explicit UdevDeviceEvents(StationNumbering numbers, const std::string& source = DefaultUdevSource());
  ~UdevDeviceEvents() override;
  UdevDeviceEvents(const UdevDeviceEvents&) = delete;
  UdevDeviceEvents& operator=(const UdevDeviceEvents&) = delete;

  // Empty while watching (or stopped on request); otherwise why plug
  // events are not seen: the monitor could not be set up, or the watch
  // failed and ended.
  std::string Error() const;
  bool Watching() const;
  // Ends the watch and returns when the watcher thread has ended, after a
  // listener call under way has returned. Called from a listener it only
  // asks the watcher to end. The host's events are not seen afterwards.
  void Stop();

  int Subscribe(Listener listener) override;
  // No call starts after Unsubscribe returns; a call already under way on
  // the watcher thread may still be finishing (Stop() waits for it).
  void Unsubscribe(int id) override;

  // Translates one event and hands it to the listeners, as the watcher does
  // with every event it receives.
  void Deliver(const UdevEventProperties& properties);

 private:
  struct Monitor;
  void Watch(std::stop_token stop);

  void SetError(std::string text);

  StationNumbering numbers_;
  mutable std::mutex error_mutex_;
  std::string error_;
  std::atomic<bool> watching_{false};
  std::unique_ptr<Monitor> monitor_;
  int wake_fd_ = -1;
  std::mutex stop_mutex_;
  DeviceEventListeners listeners_;
  std::jthread thread_;
};

}  // namespace platform::linux_host
