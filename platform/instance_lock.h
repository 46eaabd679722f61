#pragma once
// The rule that only one station runs at a time: a program claims the lock at
// start-up and holds it until it ends. A second program that finds the lock
// held leaves the running one alone and ends.

#include <string>

namespace platform {

class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
  // Claims the lock for this process. False when another process holds it,
  // or when the lock cannot be had at all (Fault() then says why).
  // Claiming a lock this object already holds answers true.
  virtual bool TryAcquire() = 0;
  // Why the last TryAcquire could not take the lock whether or not another
  // process holds it (the lock's file cannot be opened or locked); empty when
  // it was claimed or another process holds it.
  virtual std::string Fault() const { return {}; }
  // Gives the lock up (also done when the object goes).
  virtual void Release() = 0;
};

}  // namespace platform
