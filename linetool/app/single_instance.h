#pragma once
// Start-up of the station: only one may run. A second start leaves the
// running station alone, tells the operator and ends.

#include "platform/instance_lock.h"
#include "platform/message_sink.h"

namespace linetool::app {

// True when this process may run the station. Otherwise shows "LineTool is
// already running." (or, when the lock cannot be had at all, why) and
// answers false; the caller ends without touching any device.
bool ClaimSingleInstance(platform::InstanceLock& lock, platform::MessageSink& sink);

}  // namespace linetool::app
