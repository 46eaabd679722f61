#pragma once
// Simulated time that moves only while the whole process sleeps: when every
// thread is blocked (in a wait of this clock, on a lock, on a condition) and
// at least one thread waits on this clock, the time jumps to the earliest
// deadline. While any thread runs, the time stands still, so a slow or loaded
// machine never makes a time-out fire early: the simulated station behaves as
// on an infinitely fast computer, and a 60-second time-out costs no real time.
//
// A watcher thread samples the state of every thread of the process (from
// /proc/self/task) and jumps only after two samples in a row found every
// other thread asleep with no wait begun or ended in between.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <set>
#include <mutex>
#include <stop_token>
#include <thread>

#include "platform/clock.h"

namespace platform::linux_host {

class QuiescentClock final : public Clock {
 public:
  // `calendar` is the local time at Now() == 0.
  explicit QuiescentClock(LocalTime calendar = {});
  ~QuiescentClock() override;
  QuiescentClock(const QuiescentClock&) = delete;
  QuiescentClock& operator=(const QuiescentClock&) = delete;

  Millis Now() const override;
  bool WaitUntil(Millis deadline, std::stop_token stop = {}) override;
  LocalTime LocalNow() const override;

  // Number of jumps made so far.
  std::uint64_t Jumps() const;

 private:
  void Watch(std::stop_token stop);

  LocalTime calendar_;
  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  Millis now_{0};
  std::multiset<Millis> deadlines_;  // of the waits under way
  std::uint64_t activity_ = 0;             // counts wait begins and ends
  std::uint64_t jumps_ = 0;
  std::jthread watcher_;
};

// True when every thread of this process other than `self_tid` is asleep
// (state S), none running or in uninterruptible I/O.
bool OtherThreadsAsleep(long self_tid);

}  // namespace platform::linux_host
