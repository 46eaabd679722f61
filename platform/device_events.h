#pragma once
// Arrival and removal of storage devices, so a window can rescan on plug
// events.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
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

// The listeners of an event source: a source delivers each event through
// Deliver, which calls every listener without holding its own lock and leaves
// out one that was unsubscribed meanwhile (also by an earlier listener of the
// same event). A source with no events of its own can hand out an instance
// nobody delivers to.
class DeviceEventListeners final : public DeviceEvents {
 public:
  int Subscribe(Listener listener) override;
  void Unsubscribe(int id) override;
  void Deliver(const DeviceEvent& event);

 private:
  std::mutex mutex_;
  std::map<int, Listener> listeners_;
  int next_id_ = 1;
};

}  // namespace platform
