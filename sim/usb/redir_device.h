#pragma once
// One simulated USB device served over the usbredir protocol, as the USB host
// side (the side that owns the device), to a qemu usb-redir device that
// connects to the device's unix socket. The device answers the standard
// control requests itself (descriptors, status, features, configuration,
// interface, SuperSpeed SEL and isochronous delay) and hands the rest to its
// UsbFunction. It links at the lower of its function's speed and the port's
// (qemu's usb-hub is a full-speed hub).
//
// Each device runs one thread: poll() on the listening socket, the
// connection and an eventfd that Post and Stop signal.

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/usb/usb_function.h"

namespace sim::usb {

class RedirDevice final : public DeviceLink {
 public:
  RedirDevice(std::string socket_path, UsbFunction& function, platform::UsbSpeed port_speed);
  ~RedirDevice() override;
  RedirDevice(const RedirDevice&) = delete;
  RedirDevice& operator=(const RedirDevice&) = delete;

  // Binds and listens (an old socket file is replaced); false with `error`.
  bool Listen(std::string& error);
  void Start();
  // Leaves the bus (pending transfers completed as cancelled), closes the
  // connection, ends the thread.
  void Stop();

  // Runs `f` on the device thread and returns what it returned.
  template <class F>
  auto Call(F f) -> decltype(f()) {
    std::packaged_task<decltype(f())()> task(std::move(f));
    auto result = task.get_future();
    Post([&task] { task(); });
    return result.get();
  }

  platform::UsbSpeed LinkSpeedNow() const override { return LinkSpeed(function_.Speed(), port_speed_); }
  bool PeerConnected() const;

  // DeviceLink
  void CompleteBulk(BulkCompletion completion) override;
  void SetOnBus(bool on_bus) override;
  bool OnBus() const override { return on_bus_; }
  void Post(std::function<void()> task) override;

  struct Peer;

 private:
  void Run(std::stop_token stop);
  void Accept();
  void DropPeer();
  void SendConnect();
  void RunPosted();
  std::optional<std::vector<std::uint8_t>> Standard(const ControlSetup& setup, std::span<const std::uint8_t> out,
                                                    std::uint8_t configuration);

  friend struct PeerCallbacks;

  std::string path_;
  UsbFunction& function_;
  platform::UsbSpeed port_speed_;
  int listen_fd_ = -1;
  int wake_fd_ = -1;
  std::unique_ptr<Peer> peer_;
  bool on_bus_ = false;
  UsbDescriptors descriptors_;

  mutable std::mutex mutex_;
  std::vector<std::function<void()>> posted_;
  bool peer_connected_ = false;
  std::jthread thread_;
};

}  // namespace sim::usb
