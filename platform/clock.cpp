#include "platform/clock.h"

#include <thread>

namespace platform {

SteadyClock::SteadyClock(LocalTimeSource local_time)
    : start_(std::chrono::steady_clock::now()), local_time_(local_time) {}

Clock::Millis SteadyClock::Now() const {
  return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - start_);
}

bool SteadyClock::WaitUntil(Millis deadline, std::stop_token stop) {
  std::mutex m;
  std::condition_variable_any cv;
  std::unique_lock lock(m);
  const auto until = start_ + deadline;
  cv.wait_until(lock, stop, until, [] { return false; });
  return !stop.stop_requested() || std::chrono::steady_clock::now() >= until;
}

LocalTime SteadyClock::LocalNow() const { return local_time_ ? local_time_() : LocalTime{}; }

ManualClock::ManualClock(Millis start, bool auto_advance)
    : now_(start), auto_advance_(auto_advance), local_base_at_(start) {}

Clock::Millis ManualClock::Now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

bool ManualClock::WaitUntil(Millis deadline, std::stop_token stop) {
  std::unique_lock lock(mutex_);
  if (stop.stop_requested()) return now_ >= deadline;
  if (now_ >= deadline) return true;
  if (auto_advance_) {
    now_ = deadline;
    changed_.notify_all();
    lock.unlock();
    // Let other threads that became due run before this one goes on, as they
    // would in real time.
    std::this_thread::yield();
    return true;
  }
  ++waiters_;
  changed_.notify_all();
  const bool reached = changed_.wait(lock, stop, [&] { return now_ >= deadline; });
  --waiters_;
  changed_.notify_all();
  return reached;
}

void ManualClock::Advance(Millis by) {
  std::lock_guard lock(mutex_);
  now_ += by;
  changed_.notify_all();
}

void ManualClock::SetAutoAdvance(bool on) {
  std::lock_guard lock(mutex_);
  auto_advance_ = on;
  changed_.notify_all();
}

void ManualClock::SetLocalTime(const LocalTime& at_now) {
  std::lock_guard lock(mutex_);
  local_base_ = at_now;
  local_base_at_ = now_;
}

LocalTime ManualClock::LocalNow() const {
  std::lock_guard lock(mutex_);
  return AddMillis(local_base_, (now_ - local_base_at_).count());
}

int ManualClock::Waiters() const {
  std::lock_guard lock(mutex_);
  return waiters_;
}

namespace {
bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysIn(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}
}  // namespace

LocalTime AddMillis(const LocalTime& t, std::int64_t ms) {
  LocalTime r = t;
  std::int64_t total = r.millisecond + ms;
  if (total < 0) total = 0;  // the test clock never runs backwards
  r.millisecond = static_cast<int>(total % 1000);
  std::int64_t secs = r.second + total / 1000;
  r.second = static_cast<int>(secs % 60);
  std::int64_t mins = r.minute + secs / 60;
  r.minute = static_cast<int>(mins % 60);
  std::int64_t hours = r.hour + mins / 60;
  r.hour = static_cast<int>(hours % 24);
  std::int64_t days = hours / 24;
  r.day_of_week = static_cast<int>((r.day_of_week + days) % 7);
  while (days > 0) {
    const int left = DaysIn(r.year, r.month) - r.day;
    if (days <= left) {
      r.day += static_cast<int>(days);
      break;
    }
    days -= left + 1;
    r.day = 1;
    if (++r.month > 12) {
      r.month = 1;
      ++r.year;
    }
  }
  return r;
}

}  // namespace platform
