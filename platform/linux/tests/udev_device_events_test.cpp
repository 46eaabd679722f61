// Plug and unplug events of the Linux host: the station's names for udev
// events (over a sysfs tree that disks come to and go from), the listeners,
// and the watcher's start and stop on this machine.

#include "platform/linux/udev_device_events.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "platform/linux/drive_naming.h"
#include "platform/linux/scsi_transport.h"
#include "platform/linux/sysfs_station.h"

namespace fs = std::filesystem;
using namespace platform::linux_host;
using platform::DeviceEvent;
using platform::DeviceEventKind;

namespace {

class SysfsTree {
 public:
  SysfsTree() : root_(fs::temp_directory_path() / ("udev_events_" + std::to_string(std::random_device{}()))) {
    fs::create_directories(root_ / "block");
  }
  ~SysfsTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void Plug(const std::string& block) { fs::create_directories(root_ / "block" / block / "device"); }
  void Unplug(const std::string& block) { fs::remove_all(root_ / "block" / block); }
  fs::path Root() const { return root_; }
  std::string Block() const { return (root_ / "block").string(); }

 private:
  fs::path root_;
};

UdevEventProperties Block(const std::string& action, const std::string& name, const std::string& devtype = "disk") {
  return {action, "block", devtype, name, ""};
}

UdevEventProperties Usb(const std::string& action, const std::string& name, const std::string& product,
                        const std::string& devtype = "usb_device") {
  return {action, "usb", devtype, name, product};
}

std::string NameOf(const std::optional<DeviceEvent>& e) { return e ? e->device_name : "(none)"; }

// Every event a listener saw, by name, arrivals marked "+" and removals "-".
struct Recorder {
  std::mutex mutex;
  std::vector<std::string> seen;
  platform::DeviceEvents::Listener Listener(const std::string& tag = "") {
    return [this, tag](const DeviceEvent& e) {
      std::lock_guard lock(mutex);
      seen.push_back(tag + (e.kind == DeviceEventKind::kArrival ? "+" : "-") + e.device_name);
    };
  }
};

}  // namespace

TEST(TranslateUdevEvent, DisksKeepTheirDriveNumberFromPlugToUnplug) {
  SysfsTree sys;
  sys.Plug("sda");
  DriveNaming naming(sys.Block(), "/dev", "sda");
  StationNumbering numbers{[&](const std::string& d) { return naming.NumberGivenTo(d); }, {}};

  sys.Plug("sdc");
  auto e = TranslateUdevEvent(Block("add", "sdc"), numbers);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, DeviceEventKind::kArrival);
  EXPECT_EQ(e->device_name, "\\\\.\\PHYSICALDRIVE1");

  // A disk that arrives later takes the next number even when its name sorts first.
  sys.Plug("sdb");
  EXPECT_EQ(NameOf(TranslateUdevEvent(Block("add", "sdb"), numbers)), "\\\\.\\PHYSICALDRIVE2");

  // Gone from sysfs by the time the removal is read, the disk still has its number.
  sys.Unplug("sdc");
  e = TranslateUdevEvent(Block("remove", "sdc"), numbers);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, DeviceEventKind::kRemoval);
  EXPECT_EQ(e->device_name, "\\\\.\\PHYSICALDRIVE1");

  // Back again it keeps that number; a disk the station never saw has none.
  sys.Plug("sdc");
  EXPECT_EQ(NameOf(TranslateUdevEvent(Block("add", "sdc"), numbers)), "\\\\.\\PHYSICALDRIVE1");
  EXPECT_FALSE(TranslateUdevEvent(Block("remove", "sdq"), numbers));

  // No disks to the station: loop and mapper devices; partitions and media changes are no plugs.
  sys.Plug("loop0");
  sys.Plug("dm-0");
  EXPECT_FALSE(TranslateUdevEvent(Block("add", "loop0"), numbers));
  EXPECT_FALSE(TranslateUdevEvent(Block("add", "dm-0"), numbers));
  EXPECT_FALSE(TranslateUdevEvent(Block("add", "sdc1", "partition"), numbers));
  EXPECT_FALSE(TranslateUdevEvent(Block("change", "sdc"), numbers));
}

TEST(TranslateUdevEvent, CdRomDrivesAreNumberedApartFromDisks) {
  SysfsTree sys;
  sys.Plug("sda");
  DriveNaming naming(sys.Block(), "/dev", "sda");
  SgIoTransport transport;
  SysfsStation station(sys.Root(), "/dev", transport, naming);
  StationNumbering numbers{[&](const std::string& d) { return naming.NumberGivenTo(d); },
                           [&](const std::string& c) { return station.CdRomNumberOf(c); }};
  sys.Plug("sr1");
  EXPECT_EQ(NameOf(TranslateUdevEvent(Block("add", "sr1"), numbers)), "\\\\.\\CDROM0");
  sys.Plug("sr0");
  EXPECT_EQ(NameOf(TranslateUdevEvent(Block("add", "sr0"), numbers)), "\\\\.\\CDROM1");
  sys.Unplug("sr1");
  EXPECT_EQ(NameOf(TranslateUdevEvent(Block("remove", "sr1"), numbers)), "\\\\.\\CDROM0");
  EXPECT_FALSE(TranslateUdevEvent(Block("add", "sr7"), numbers));  // not there
  // Without a CD-ROM numbering, drives are left out rather than taken for disks.
  EXPECT_FALSE(TranslateUdevEvent(Block("add", "sr0"), StationNumbering{numbers.drive, {}}));
}

TEST(TranslateUdevEvent, UsbDevicesByTheirInterfacePath) {
  const StationNumbering none;
  auto e = TranslateUdevEvent(Usb("add", "2-1.4", "152d/578/3108"), none);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, DeviceEventKind::kArrival);
  EXPECT_EQ(e->device_name, "\\\\?\\usb#vid_152d&pid_0578#2-1.4#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  e = TranslateUdevEvent(Usb("remove", "3-2", "ABCD/1/0"), none);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, DeviceEventKind::kRemoval);
  EXPECT_EQ(e->device_name, "\\\\?\\usb#vid_abcd&pid_0001#3-2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");

  EXPECT_FALSE(TranslateUdevEvent(Usb("add", "2-1:1.0", "152d/578/3108", "usb_interface"), none));
  EXPECT_FALSE(TranslateUdevEvent(Usb("bind", "2-1", "152d/578/3108"), none));
  for (const char* bad : {"", "152d", "/578/1", "152d//1", "1152d/578/1", "xyz/578/1"}) {
    EXPECT_FALSE(TranslateUdevEvent(Usb("add", "2-1", bad), none)) << bad;
  }
}

TEST(UdevDeviceEvents, DeliversToEachListenerUntilItUnsubscribes) {
  UdevDeviceEvents events(StationNumbering{[](const std::string&) { return std::optional<int>(4); }, {}}, "nowhere");
  Recorder r;
  const int a = events.Subscribe(r.Listener("a"));
  int b = -1;
  // The first listener takes the second one off while an event is handed out.
  events.Unsubscribe(a);
  const int first = events.Subscribe([&](const DeviceEvent&) { events.Unsubscribe(b); });
  b = events.Subscribe(r.Listener("b"));
  const int c = events.Subscribe(r.Listener("c"));
  events.Deliver(Block("add", "sdb"));
  events.Deliver(Block("change", "sdb"));  // no plug: nobody is called
  events.Unsubscribe(first);
  events.Deliver(Block("remove", "sdb"));
  events.Unsubscribe(c);
  events.Deliver(Block("add", "sdb"));
  EXPECT_EQ(r.seen, (std::vector<std::string>{"c+\\\\.\\PHYSICALDRIVE4", "c-\\\\.\\PHYSICALDRIVE4"}));
}

TEST(UdevDeviceEvents, ListenersComeAndGoWhileEventsAreHandedOut) {
  UdevDeviceEvents events(StationNumbering{[](const std::string&) { return std::optional<int>(1); }, {}}, "nowhere");
  std::atomic<int> calls{0};
  std::atomic<int> delivered{0};
  {
    std::jthread deliverer([&](std::stop_token stop) {
      do {
        events.Deliver(Block(delivered % 2 ? "add" : "remove", "sdb"));
        delivered.fetch_add(1);
      } while (!stop.stop_requested());
    });
    for (int i = 0; i < 2000; ++i) {
      const int id = events.Subscribe([&](const DeviceEvent&) { calls.fetch_add(1); });
      events.Unsubscribe(id);
    }
  }
  EXPECT_GT(delivered.load(), 0);
  // A listener that stays hears every event after it came.
  const int stays = events.Subscribe([&](const DeviceEvent&) { calls.fetch_add(1); });
  const int before = calls.load();
  events.Deliver(Block("add", "sdb"));
  EXPECT_EQ(calls.load(), before + 1);
  events.Unsubscribe(stays);
  events.Deliver(Block("add", "sdb"));
  EXPECT_EQ(calls.load(), before + 1);
}

TEST(UdevDeviceEvents, AMonitorThatCannotStartSaysWhy) {
  UdevDeviceEvents events(StationNumbering{}, "nowhere");
  EXPECT_FALSE(events.Watching());
  EXPECT_NE(events.Error().find("nowhere"), std::string::npos) << events.Error();
  events.Stop();  // harmless
  EXPECT_FALSE(events.Watching());
}

TEST(UdevDeviceEvents, TheHostsMonitorStartsAndStopsAtOnce) {
  for (const std::string& source : {DefaultUdevSource(), std::string("kernel")}) {
    const auto start = std::chrono::steady_clock::now();
    {
      UdevDeviceEvents events(StationNumbering{}, source);
      if (events.Watching()) {
        EXPECT_TRUE(events.Error().empty());
        events.Stop();
        EXPECT_FALSE(events.Watching());
        events.Stop();
      } else {
        // No netlink here (a container without it): the caller is told, and nothing hangs.
        EXPECT_NE(events.Error().find("netlink"), std::string::npos) << source << ": " << events.Error();
      }
      // The destructor stops a monitor that is still watching.
      UdevDeviceEvents second(StationNumbering{}, source);
      EXPECT_EQ(second.Watching(), second.Error().empty());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << source;
  }
}
