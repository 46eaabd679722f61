#pragma once
// The product's one source of time. Every wait and time-out of the station and
// the programmer goes through a Clock, so tests replace it with a ManualClock and
// a 60-second time-out passes in microseconds of real time.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>

namespace platform {

// Calendar time in the station's local time zone (log file names, time stamps,
// volume identifiers).
struct LocalTime {
  int year = 2000;   // e.g. 2026
  int month = 1;     // 1..12
  int day = 1;       // 1..31
  int hour = 0;      // 0..23
  int minute = 0;    // 0..59
  int second = 0;    // 0..59
  int millisecond = 0;
  int day_of_week = 6;  // 0 = Sunday
};

class Clock {
 public:
  using Millis = std::chrono::milliseconds;

  virtual ~Clock() = default;

  // Monotonic time since an arbitrary start. Never blocks.
  virtual Millis Now() const = 0;

  // Blocks until Now() >= deadline or a stop is requested on `stop`.
  // Returns true when the deadline was reached, false when stopped first.
  virtual bool WaitUntil(Millis deadline, std::stop_token stop = {}) = 0;

  // The current local calendar time. Never blocks.
  virtual LocalTime LocalNow() const = 0;

  bool WaitFor(Millis duration, std::stop_token stop = {}) {
    return WaitUntil(Now() + duration, std::move(stop));
  }
  // Milliseconds as a 32-bit tick count, as the protocol deadlines use them.
  std::uint32_t TickCount() const { return static_cast<std::uint32_t>(Now().count()); }
};

// Real monotonic time; the local calendar time comes from a function supplied by
// the host backend (the core has no time-zone access of its own).
class SteadyClock final : public Clock {
 public:
  using LocalTimeSource = LocalTime (*)();
  explicit SteadyClock(LocalTimeSource local_time);

  Millis Now() const override;
  bool WaitUntil(Millis deadline, std::stop_token stop = {}) override;
  LocalTime LocalNow() const override;

 private:
  std::chrono::steady_clock::time_point start_;
  LocalTimeSource local_time_;
};

// Test clock. Time moves only when told to: by Advance(), or, in auto-advance
// mode, by any wait, which jumps the clock straight to its deadline (virtual
// time: every waiter of a test runs as if the time had passed). Thread-safe.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(Millis start = Millis{0}, bool auto_advance = false);

  Millis Now() const override;
  bool WaitUntil(Millis deadline, std::stop_token stop = {}) override;
  LocalTime LocalNow() const override;

  void Advance(Millis by);
  void SetAutoAdvance(bool on);
  // The calendar time reported at the moment Now() equals the current time;
  // it moves on with Advance().
  void SetLocalTime(const LocalTime& at_now);
  // Number of threads blocked in WaitUntil right now.
  int Waiters() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  Millis now_;
  bool auto_advance_;
  LocalTime local_base_{};
  Millis local_base_at_{0};
  int waiters_ = 0;
};

// Adds `ms` milliseconds to a calendar time (no time-zone changes).
LocalTime AddMillis(const LocalTime& t, std::int64_t ms);

}  // namespace platform
