#include "platform/linux/quiescent_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::linux_host {
namespace {

using Millis = Clock::Millis;
using namespace std::chrono_literals;

// Real work of about `d` without sleeping.
void Spin(std::chrono::milliseconds d) {
  const auto until = std::chrono::steady_clock::now() + d;
  volatile std::uint64_t x = 0;
  while (std::chrono::steady_clock::now() < until) x = x + 1;
}

TEST(QuiescentClock, ALongTimeOutPassesAtOnceAndTheCalendarFollows) {
  QuiescentClock clock(LocalTime{2026, 12, 8, 23, 59, 30, 0, 2});
  const auto real = std::chrono::steady_clock::now();
  EXPECT_TRUE(clock.WaitFor(Millis{60000}));
  EXPECT_EQ(clock.Now(), Millis{60000});
  EXPECT_LT(std::chrono::steady_clock::now() - real, 5s);
  const LocalTime t = clock.LocalNow();
  EXPECT_EQ(t.day, 9);
  EXPECT_EQ(t.minute, 0);
  EXPECT_EQ(t.second, 30);
}

TEST(QuiescentClock, TimeStandsStillWhileAnyThreadWorks) {
  QuiescentClock clock;
  std::atomic<long> seen_after_work{-1};
  std::atomic<long> woke_at{-1};
  // The waiter's deadline would pass during the worker's real work on a
  // real-time clock; here it passes only once the worker waits again.
  std::jthread waiter([&] {
    clock.WaitFor(Millis{600});
    woke_at = static_cast<long>(clock.Now().count());
  });
  std::jthread worker([&] {
    clock.WaitFor(Millis{500});
    Spin(60ms);
    seen_after_work = static_cast<long>(clock.Now().count());
    clock.WaitFor(Millis{1000});
  });
  waiter.join();
  worker.join();
  EXPECT_EQ(seen_after_work.load(), 500);
  EXPECT_EQ(woke_at.load(), 600);
  EXPECT_EQ(clock.Now(), Millis{1500});
}

TEST(QuiescentClock, ThreadsBlockedOnALockHeldAcrossAWaitDoNotStopTime) {
  QuiescentClock clock;
  std::mutex lock;
  std::vector<long> order;
  std::mutex order_lock;
  auto take = [&](int who) {
    std::lock_guard g(lock);
    clock.WaitFor(Millis{500});  // the lock is held through the wait
    std::lock_guard o(order_lock);
    order.push_back(who * 100000 + static_cast<long>(clock.Now().count()));
  };
  {
    std::jthread a([&] { take(1); });
    std::jthread b([&] { take(2); });
    std::jthread c([&] { take(3); });
  }
  ASSERT_EQ(order.size(), 3u);
  std::vector<long> times;
  for (long v : order) times.push_back(v % 100000);
  EXPECT_EQ(times, (std::vector<long>{500, 1000, 1500}));
}

TEST(QuiescentClock, AStopEndsAWaitWithoutMovingTime) {
  QuiescentClock clock;
  std::stop_source stop;
  std::atomic<bool> result{true};
  std::jthread t([&] { result = clock.WaitFor(Millis{1000}, stop.get_token()); });
  // The main thread is awake (running this test) until it blocks in join, so
  // time may pass by then; stop before that.
  stop.request_stop();
  t.join();
  EXPECT_FALSE(result.load());
  EXPECT_EQ(clock.Now(), Millis{0});
}

}  // namespace
}  // namespace platform::linux_host
