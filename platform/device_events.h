#pragma once
// Arrival and removal of storage devices, so a window can rescan on plug
// events.

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

enum class DeviceEventKind { kArrival, kRemoval };

struct DeviceEvent {
  DeviceEventKind kind = DeviceEventKind::kArrival;
  std::string device_name;  // "\\.\PHYSICALDRIVE3", "\\.\CDROM0", ...
};

class DeviceEvents {
 public:
  using Listener = std::function<void(const DeviceEvent&)>;
  virtual ~DeviceEvents() = default;
  // Registers a listener and returns its id. Listeners are called on the
  // thread that noticed the change (in the simulator, the thread whose
  // request caused it or observed it); never with a backend lock held, so a
  // listener may call back into the backend.
  virtual int Subscribe(Listener listener) = 0;
  // After Unsubscribe returns the listener is not called again.
  virtual void Unsubscribe(int id) = 0;
};

}  // namespace platform
