#include "linetool/app/single_instance.h"

#include <string>

#include "linetool/profile/message_texts.h"

namespace linetool::app {

bool ClaimSingleInstance(platform::InstanceLock& lock, platform::MessageSink& sink) {
  if (lock.TryAcquire()) return true;
  // A lock that cannot be had at all is no running station: say what stops it.
  if (const auto fault = lock.Fault(); !fault.empty()) {
    sink.Show("The station cannot make sure it runs alone: its lock file cannot be used (" + fault + ").", "LineTool",
              platform::MessageIcon::kError);
    return false;
  }
  sink.Show(std::string(profile::MessageText(profile::MessageId::kAlreadyRunning)));
  return false;
}

}  // namespace linetool::app
