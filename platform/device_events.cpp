#include "platform/device_events.h"

#include <utility>
#include <vector>

namespace platform {

int DeviceEventListeners::Subscribe(Listener listener) {
  std::lock_guard lock(mutex_);
  const int id = next_id_++;
  listeners_[id] = std::move(listener);
  return id;
}

void DeviceEventListeners::Unsubscribe(int id) {
  std::lock_guard lock(mutex_);
  listeners_.erase(id);
}

void DeviceEventListeners::Deliver(const DeviceEvent& event) {
  std::vector<std::pair<int, Listener>> listeners;
  {
    std::lock_guard lock(mutex_);
    listeners.assign(listeners_.begin(), listeners_.end());
  }
  for (auto& [id, listener] : listeners) {
    {
      std::lock_guard lock(mutex_);
      if (listeners_.count(id) == 0) continue;
    }
    listener(event);
  }
}

}  // namespace platform
