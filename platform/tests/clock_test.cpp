#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using platform::LocalTime;
using platform::ManualClock;

TEST(ManualClock, WaitReturnsWhenAdvancedPastDeadline) {
  ManualClock clock;
  std::atomic<bool> done{false};
  std::jthread waiter([&] {
    EXPECT_TRUE(clock.WaitFor(60s));
    done = true;
  });
  while (clock.Waiters() == 0) std::this_thread::yield();
  clock.Advance(59'999ms);
  std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(done);
  clock.Advance(1ms);
  waiter.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(clock.Now(), 60s);
}

TEST(ManualClock, StopEndsWaitEarly) {
  ManualClock clock;
  std::stop_source stop;
  bool reached = true;
  std::jthread waiter([&] { reached = clock.WaitFor(3600s, stop.get_token()); });
  while (clock.Waiters() == 0) std::this_thread::yield();
  stop.request_stop();
  waiter.join();
  EXPECT_FALSE(reached);
  EXPECT_EQ(clock.Now(), 0s);
}

TEST(ManualClock, AutoAdvanceJumpsToDeadline) {
  ManualClock clock(0ms, true);
  EXPECT_TRUE(clock.WaitFor(500ms));
  EXPECT_TRUE(clock.WaitFor(500ms));
  EXPECT_EQ(clock.Now(), 1000ms);
  // A deadline already passed does not move the clock.
  EXPECT_TRUE(clock.WaitUntil(200ms));
  EXPECT_EQ(clock.Now(), 1000ms);
}

TEST(ManualClock, LocalTimeFollowsTheClockAcrossMonthAndYear) {
  ManualClock clock;
  clock.SetLocalTime(LocalTime{2026, 12, 31, 23, 59, 59, 500, 4});
  clock.Advance(600ms);
  const LocalTime t = clock.LocalNow();
  EXPECT_EQ(t.year, 2027);
  EXPECT_EQ(t.month, 1);
  EXPECT_EQ(t.day, 1);
  EXPECT_EQ(t.hour, 0);
  EXPECT_EQ(t.second, 0);
  EXPECT_EQ(t.millisecond, 100);
  EXPECT_EQ(t.day_of_week, 5);

  clock.SetLocalTime(LocalTime{2028, 2, 28, 12, 0, 0, 0, 1});
  clock.Advance(24h);
  EXPECT_EQ(clock.LocalNow().day, 29);  // leap year
  clock.Advance(24h);
  EXPECT_EQ(clock.LocalNow().month, 3);
  EXPECT_EQ(clock.LocalNow().day, 1);
}
