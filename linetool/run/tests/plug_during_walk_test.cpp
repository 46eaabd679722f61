// Plug events that another thread reports while the port table is being
// walked: whichever request of the walk they come at, the table ends with
// the devices that are on the bus.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "run_fixture.h"

namespace linetool::app {
namespace {

using testing::RunRig;

// Sits between the station and the simulated world's USB tree, storage list
// and device handles, and runs an action before the n-th request of a walk
// (the action runs once; the request then goes on as asked).
class WalkTap final : public platform::UsbTree, public platform::StorageEnumerator, public platform::DeviceIo {
 public:
  RunRig::ServicesHook Hook() {
    return [this](StationServices s) {
      usb_ = &s.devices.usb;
      storage_ = &s.devices.storage;
      io_ = &s.devices.io;
      return StationServices{platform::DeviceServices{*this, *this, *this, s.devices.system, s.devices.events},
                             s.disks,
                             s.volumes,
                             s.tools,
                             s.files,
                             s.access,
                             s.clock};
    };
  }
  // Counts requests from now on and runs `action` before request `at`.
  void Arm(int at, std::function<void()> action) {
    std::lock_guard lock(mutex_);
    count_ = 0;
    at_ = at;
    action_ = std::move(action);
    fired_ = false;
  }
  bool Fired() {
    std::lock_guard lock(mutex_);
    return fired_;
  }

  void Point() {
    std::function<void()> act;
    {
      std::lock_guard lock(mutex_);
      if (!fired_ && action_ && count_ == at_) {
        act = action_;
        fired_ = true;
      }
      ++count_;
    }
    if (act) act();
  }

  // platform::UsbTree
  std::vector<std::string> HostControllerPaths() override {
    Point();
    return usb_->HostControllerPaths();
  }
  std::unique_ptr<platform::UsbHostController> OpenHostController(const std::string& path) override {
    Point();
    auto c = usb_->OpenHostController(path);
    return c ? std::make_unique<Controller>(*this, std::move(c)) : nullptr;
  }
  std::unique_ptr<platform::UsbHub> OpenHub(const std::string& path) override {
    Point();
    auto h = usb_->OpenHub(path);
    return h ? std::make_unique<Hub>(*this, std::move(h)) : nullptr;
  }
  // platform::StorageEnumerator
  platform::StorageDeviceSet Enumerate() override {
    Point();
    return storage_->Enumerate();
  }
  // platform::DeviceIo
  std::unique_ptr<platform::DeviceHandle> Open(const platform::DeviceOpenRequest& request) override {
    Point();
    return io_->Open(request);
  }

 private:
  class Controller final : public platform::UsbHostController {
   public:
    Controller(WalkTap& tap, std::unique_ptr<platform::UsbHostController> inner) : tap_(tap), inner_(std::move(inner)) {}
    std::optional<std::string> DriverKeyName() override {
      tap_.Point();
      return inner_->DriverKeyName();
    }
    std::optional<std::string> RootHubName() override {
      tap_.Point();
      return inner_->RootHubName();
    }

   private:
    WalkTap& tap_;
    std::unique_ptr<platform::UsbHostController> inner_;
  };
  class Hub final : public platform::UsbHub {
   public:
    Hub(WalkTap& tap, std::unique_ptr<platform::UsbHub> inner) : tap_(tap), inner_(std::move(inner)) {}
    std::optional<int> PortCount() override {
      tap_.Point();
      return inner_->PortCount();
    }
    std::optional<platform::UsbConnection> Connection(int port) override {
      tap_.Point();
      return inner_->Connection(port);
    }
    std::optional<std::string> ExternalHubName(int port) override {
      tap_.Point();
      return inner_->ExternalHubName(port);
    }
    std::optional<std::string> DriverKeyName(int port) override {
      tap_.Point();
      return inner_->DriverKeyName(port);
    }
    std::optional<std::vector<std::uint8_t>> StringDescriptor(int port, std::uint8_t index, std::uint16_t language_id,
                                                              std::uint16_t max_length) override {
      tap_.Point();
      return inner_->StringDescriptor(port, index, language_id, max_length);
    }

   private:
    WalkTap& tap_;
    std::unique_ptr<platform::UsbHub> inner_;
  };

  platform::UsbTree* usb_ = nullptr;
  platform::StorageEnumerator* storage_ = nullptr;
  platform::DeviceIo* io_ = nullptr;
  std::mutex mutex_;
  int count_ = 0;
  int at_ = -1;
  bool fired_ = false;
  std::function<void()> action_;
};

// What another thread does to the world, reported on that thread; it has
// returned (its event handled) before the walk goes on.
void OnAnotherThread(const std::function<void()>& f) { std::thread(f).join(); }

TEST(ProductionRunPlugEvents, APlugOrUnplugReportedByAnotherThreadAtAnyPointOfAWalkReachesTheTable) {
  WalkTap tap;
  RunRig rig(4, tap.Hook());
  rig.Initialise();
  ASSERT_EQ(rig.Run().Table().device_count, 4u);

  // The last bridge of the walk is plugged in at each request of the walk in turn.
  int plug_points = 0;
  for (int at = 0;; ++at) {
    rig.World().Unplug(3);
    ASSERT_EQ(rig.Run().Table().device_count, 3u) << "at " << at;
    tap.Arm(at, [&] { OnAnotherThread([&] { rig.World().Plug(3); }); });
    rig.Run().RefreshPorts();
    if (!tap.Fired()) break;
    ++plug_points;
    EXPECT_EQ(rig.Run().Table().device_count, 4u) << "plugged at request " << at;
    EXPECT_EQ(rig.Presenter().CellText(3, 1), "SUPER") << "plugged at request " << at;
  }
  EXPECT_GT(plug_points, 10);
  tap.Arm(-1, {});
  rig.World().Plug(3);  // the round past the walk's end left it out

  // The first bridge of the walk is pulled at each request in turn.
  int unplug_points = 0;
  for (int at = 0;; ++at) {
    tap.Arm(-1, {});
    rig.World().Plug(0);
    ASSERT_EQ(rig.Run().Table().device_count, 4u) << "at " << at;
    tap.Arm(at, [&] { OnAnotherThread([&] { rig.World().Unplug(0); }); });
    rig.Run().RefreshPorts();
    if (!tap.Fired()) break;
    ++unplug_points;
    EXPECT_EQ(rig.Run().Table().device_count, 3u) << "pulled at request " << at;
    EXPECT_EQ(rig.Presenter().CellText(3, 1), "") << "pulled at request " << at;
  }
  EXPECT_GT(unplug_points, 10);
}

}  // namespace
}  // namespace linetool::app
