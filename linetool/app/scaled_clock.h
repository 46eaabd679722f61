#pragma once
// A clock that runs faster than real time by a fixed factor, for the simulated
// station: every thread sees the same time, and a wait of 500 ms takes
// 500 / factor ms of real time. The calendar time comes from another clock.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/clock.h"

namespace linetool::app {

// How much faster than real time the simulated station runs for an operator.
inline constexpr double kSimTimeFactor = 50.0;

class ScaledClock final : public platform::Clock {
 public:
  ScaledClock(platform::Clock& calendar, double factor);

  Millis Now() const override;
  bool WaitUntil(Millis deadline, std::stop_token stop = {}) override;
  platform::LocalTime LocalNow() const override;

 private:
  platform::Clock& calendar_;
  double factor_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
};

}  // namespace linetool::app
