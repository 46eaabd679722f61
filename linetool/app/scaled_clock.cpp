#include "linetool/app/scaled_clock.h"

namespace linetool::app {

ScaledClock::ScaledClock(platform::Clock& calendar, double factor)
    : calendar_(calendar), factor_(factor > 0 ? factor : 1.0), start_(std::chrono::steady_clock::now()) {}

platform::Clock::Millis ScaledClock::Now() const {
  const std::chrono::duration<double, std::milli> real = std::chrono::steady_clock::now() - start_;
  return Millis{static_cast<Millis::rep>(real.count() * factor_)};
}

bool ScaledClock::WaitUntil(Millis deadline, std::stop_token stop) {
  std::unique_lock lock(mutex_);
  for (;;) {
    const Millis now = Now();
    if (now >= deadline) return true;
    if (stop.stop_requested()) return false;
    const std::chrono::duration<double, std::milli> real_left(static_cast<double>((deadline - now).count()) /
                                                              factor_);
    wake_.wait_for(lock, stop, std::chrono::duration_cast<std::chrono::microseconds>(real_left) +
                                   std::chrono::microseconds(1),
                   [] { return false; });
  }
}

platform::LocalTime ScaledClock::LocalNow() const {
  return calendar_.LocalNow();
}

}  // namespace linetool::app
