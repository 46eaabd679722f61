#pragma once
// The rule that only one station runs at a time: a program claims the lock at
// start-up and holds it until it ends. A second program that finds the lock
// held leaves the running one alone and ends.

namespace platform {

class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
  // Claims the lock for this process. False when another process holds it.
  // Claiming a lock this object already holds answers true.
  virtual bool TryAcquire() = 0;
  // Gives the lock up (also done when the object goes).
  virtual void Release() = 0;
};

}  // namespace platform
