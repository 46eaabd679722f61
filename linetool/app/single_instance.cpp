#include "linetool/app/single_instance.h"

#include <string>

#include "linetool/profile/message_texts.h"

namespace linetool::app {

bool ClaimSingleInstance(platform::InstanceLock& lock, platform::MessageSink& sink) {
  if (lock.TryAcquire()) return true;
  sink.Show(std::string(profile::MessageText(profile::MessageId::kAlreadyRunning)));
  return false;
}

}  // namespace linetool::app
