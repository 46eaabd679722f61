// Soak: a station in auto mode sees hundreds of plugs, unplugs and faulty
// bridges in a row. After each run every finished port has exactly one log
// record, the counters agree with the log, and no run hangs; when the station
// is gone it has left no thread, file descriptor or mount behind.
//
// STATION_SOAK_RUNS sets the number of runs (300, 100 under the sanitizers)
// and STATION_SOAK_SEED repeats a seed; a run that takes more than
// STATION_SOAK_WATCHDOG_S seconds of real time (default 120) fails the test
// with the stacks of every thread of the process.

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "linetool/disk/production_log.h"
#include "platform/linux/linux_volumes.h"
#include "run_probe.h"

namespace linetool::app {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::LogResults;
using testing::RunRig;

// A run costs about a tenth of a second of real time, most of it the clock
// making sure every thread sleeps; the sanitizers slow each step down.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSoakRuns = 100;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr int kSoakRuns = 100;
#else
constexpr int kSoakRuns = 300;
#endif
#else
constexpr int kSoakRuns = 300;
#endif

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  const long n = std::strtol(v, &end, 10);
  return (*end == '\0' && n > 0 && n < 1'000'000) ? static_cast<int>(n) : fallback;
}

std::size_t EntriesOf(const char* dir) {
  std::size_t n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec))
    ++n;
  return n;
}

// The mounts under the station's own folder: other programs on the machine
// mount and unmount as they please.
std::size_t MountsUnder(const std::string& root) {
  std::ifstream in("/proc/self/mountinfo");
  std::ostringstream text;
  text << in.rdbuf();
  std::size_t n = 0;
  for (const auto& m : platform::linux_host::ParseMountInfo(text.str()))
    n += m.mount_point.starts_with(root) ? 1 : 0;
  return n;
}

std::string ThreadStates() {
  std::ostringstream out;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    std::ifstream stat(it->path() / "stat");
    std::ifstream wchan(it->path() / "wchan");
    std::string s, w;
    std::getline(stat, s);
    std::getline(wchan, w);
    out << "  " << s << "  wchan=" << w << "\n";
  }
  return out.str();
}

// Fails the test with every thread's stack when one run of the soak outlives
// its real-time limit: a deadlock or a lost wake-up would otherwise hang
// until CTest kills the process with nothing to show.
class Watchdog {
 public:
  explicit Watchdog(seconds limit) : limit_(limit), thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  // A new run begins: its time starts now.
  void Kick(int run) {
    std::lock_guard lock(mutex_);
    run_ = run;
    deadline_ = std::chrono::steady_clock::now() + limit_;
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    deadline_ = std::chrono::steady_clock::now() + limit_;
    while (!done_) {
      if (cv_.wait_until(lock, deadline_, [this] { return done_; })) return;
      if (std::chrono::steady_clock::now() < deadline_) continue;
      std::fprintf(stderr, "soak: run %d is stuck after %lld s; the threads:\n%s", run_,
                   static_cast<long long>(limit_.count()), ThreadStates().c_str());
      DumpStacks();
      std::fflush(stderr);
      std::_Exit(3);  // a failed test: the stuck threads cannot be joined
    }
  }
  // gdb prints the stacks where it is installed; the thread states above are
  // all there is without it.
  static void DumpStacks() {
    if (access("/usr/bin/gdb", X_OK) != 0) return;
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
    const std::string cmd = "/usr/bin/gdb -batch -nx -p " + std::to_string(getpid()) +
                            " -ex 'thread apply all bt' 1>&2 2>/dev/null";
    [[maybe_unused]] const int rc = std::system(cmd.c_str());
  }

  seconds limit_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  int run_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  std::thread thread_;
};

// The profile of the soak: auto mode, configuration and firmware on, the
// restart on or off per run, the disk stages off so a run is short.
void WriteSoakProfile(RunRig& rig) {
  std::string t = testing::SampleProfile(true);
  for (const char* key : {"format_enable=", "wr_test_enable=", "preload_enable="}) {
    const auto at = t.find(key);
    ASSERT_NE(at, std::string::npos) << key;
    t[at + std::string(key).size()] = '0';
  }
  testing::WriteText(rig.Workdir() + "/kl_line_Tool v0.3.ini", t);
}

enum class Fault { kNone, kConfigWrite, kFirmware, kTag, kNeverReturns, kPullMidRun };

struct Tally {
  int records = 0;
  int passes = 0;
};

// Counts the log records and the passing ones (every result but the preload).
Tally TallyLog(const std::string& path) {
  Tally t;
  for (const auto& [port, records] : LogResults(path)) {
    for (const auto& r : records) {
      ++t.records;
      bool passed = true;
      for (std::size_t s = 0; s < 6 && s < r.size(); ++s) passed = passed && r[s] != "FAIL";
      t.passes += passed ? 1 : 0;
    }
  }
  return t;
}

// Waiting for the end of a run leaves the finished controller in its slot, so
// the auto starter does not take the device that is still plugged for a new
// one and configure it a second time.
TEST(Soak, WaitingForAnAutoRunToEndDoesNotRunItsDeviceAgain) {
  RunRig rig(1);
  WriteSoakProfile(rig);
  rig.Initialise();
  ASSERT_TRUE(rig.WaitUntil([&] { return rig.Run().RunsFinished() == 1; }));
  rig.Run().WaitIdle();
  rig.Clock().WaitFor(seconds(10));
  EXPECT_EQ(rig.Run().RunsFinished(), 1);
  EXPECT_EQ(testing::RequestCount(rig, 0, 0xE1), 1u);
}

TEST(Soak, AutoModeThroughRandomPlugsUnplugsAndFaults) {
  const int runs = EnvInt("STATION_SOAK_RUNS", kSoakRuns);
  const auto seed = static_cast<std::uint32_t>(EnvInt("STATION_SOAK_SEED", static_cast<int>(std::random_device{}() % 999'983)));
  std::printf("[ soak     ] %d runs, seed %u (STATION_SOAK_SEED repeats it)\n", runs, seed);
  std::mt19937 rng(seed);
  Watchdog watchdog(seconds(EnvInt("STATION_SOAK_WATCHDOG_S", 120)));

  const std::size_t threads_before = EntriesOf("/proc/self/task");
  const std::size_t fds_before = EntriesOf("/proc/self/fd");
  std::string station_root;
  int finished = 0;
  int faulted = 0;
  const auto wall_start = std::chrono::steady_clock::now();
  {
    constexpr std::size_t kBridges = 3;
    RunRig rig(static_cast<int>(kBridges));
    station_root = rig.Root().string();
    WriteSoakProfile(rig);
    for (std::size_t b = 0; b < kBridges; ++b) rig.World().Unplug(b);
    rig.Initialise();
    ASSERT_EQ(rig.Run().Table().device_count, 0u);
    std::size_t fds_after_first = 0;
    std::string previous;

    for (int run = 0; run < runs; ++run) {
      watchdog.Kick(run);
      const std::size_t b = rng() % kBridges;
      const auto fault = static_cast<Fault>(rng() % 3 == 0 ? 1 + rng() % 5 : 0);
      const bool reload = rng() % 2 == 0;
      rig.Engine().Settings().fw_reload = reload ? 1 : 0;
      rig.World().WithDevice(b, [&](auto& model) {
        auto& f = model.Faults();
        f = {};
        if (fault == Fault::kConfigWrite) f.fail_from_call[0xE1] = 1;
        if (fault == Fault::kFirmware) f.fail_from_call[0xE3] = 1;
        if (fault == Fault::kTag) f.fail_from_call[0xE5] = 1;
        if (fault == Fault::kNeverReturns) f.never_returns = true;
        model.ClearLog();
        return 0;
      });
      faulted += fault == Fault::kNone ? 0 : 1;
      bool two_plugged = false;

      // Now and then a second bridge is plugged just before it: the run that
      // auto mode began on the first one may end or be stopped, and none
      // begins while both are plugged.
      if (rng() % 8 == 0) {
        const std::size_t other = (b + 1) % kBridges;
        two_plugged = true;
        rig.World().Plug(other);
        rig.World().Plug(b);
        ASSERT_TRUE(rig.WaitUntil([&] { return !rig.Run().RunActive(); })) << "run " << run;
        rig.Run().WaitIdle();
        ASSERT_LE(rig.Run().RunsFinished(), finished + 1) << "run " << run;
        finished = rig.Run().RunsFinished();
        rig.Clock().WaitFor(seconds(3));
        ASSERT_FALSE(rig.Run().RunActive()) << "run " << run << ": a run began with two bridges plugged";
        ASSERT_EQ(rig.Run().RunsFinished(), finished) << "run " << run;
        rig.World().Unplug(other);
      } else {
        rig.World().Plug(b);
      }

      bool pulled = false;
      if (fault == Fault::kPullMidRun) {
        rig.Clock().WaitFor(milliseconds(rng() % 3000));
        rig.World().Unplug(b);
        pulled = true;
        rig.Clock().WaitFor(seconds(2));
      }
      const bool ended = rig.WaitUntil([&] { return rig.Run().RunsFinished() > finished || (pulled && !rig.Run().RunActive()); },
                                       std::chrono::minutes(5));
      ASSERT_TRUE(ended) << "run " << run << " (fault " << static_cast<int>(fault) << ", restart " << reload
                         << ", two plugged " << two_plugged << ", previous " << previous << ") never ended: active "
                         << rig.Run().RunActive() << ", devices " << rig.Run().Table().device_count << ", finished "
                         << rig.Run().RunsFinished() << ", messages " << rig.sink.Texts().size() << "\n"
                         << ThreadStates();
      rig.Run().WaitIdle();
      if (rig.Run().RunsFinished() > finished) ++finished;
      ASSERT_EQ(rig.Run().RunsFinished(), finished)
          << "run " << run << " was counted twice (fault " << static_cast<int>(fault) << ", restart " << reload
          << ", two plugged " << two_plugged << ", previous " << previous << ")";

      const Tally t = TallyLog(rig.Run().LogFilePath());
      const Counters c = rig.Presenter().CounterValues();
      ASSERT_EQ(t.records, finished) << "run " << run << ": log records against finished runs";
      ASSERT_EQ(c.total, t.records) << "run " << run;
      ASSERT_EQ(c.pass, t.passes) << "run " << run;
      ASSERT_EQ(c.pass + c.fail, c.total) << "run " << run;

      if (!pulled) rig.World().Unplug(b);
      rig.World().WithDevice(b, [](auto& model) {
        model.Faults() = {};
        return 0;
      });
      ASSERT_TRUE(rig.WaitUntil([&] { return !rig.Run().RunActive(); })) << "run " << run << ": station stays busy";
      // A bridge pulled while Start reads its variant gives the mismatch box;
      // nothing else may ask the operator anything.
      const auto texts = rig.sink.Texts();
      for (const auto& text : texts)
        ASSERT_TRUE((pulled || (fault == Fault::kNeverReturns && reload)) && text == "Chip and FW don't match. Port:0 .")
            << "run " << run << " (fault " << static_cast<int>(fault) << ", restart " << reload << "): " << text;
      rig.sink.Clear();
      previous = std::to_string(static_cast<int>(fault)) + (pulled ? " pulled" : "") + (two_plugged ? " two" : "");
      if (run == 0) fds_after_first = EntriesOf("/proc/self/fd");
    }
    // Runs leave no descriptors open behind them.
    EXPECT_LE(EntriesOf("/proc/self/fd"), fds_after_first + 2);
    EXPECT_GE(finished, runs - faulted) << "most runs end by themselves";
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  std::printf("[ figures  ] soak: %d runs (%d finished, %d with a fault) in %.1f s wall\n", runs, finished, faulted, wall);
  EXPECT_EQ(EntriesOf("/proc/self/task"), threads_before) << "threads left behind";
  EXPECT_EQ(EntriesOf("/proc/self/fd"), fds_before) << "file descriptors left behind";
  EXPECT_EQ(MountsUnder(station_root), 0u) << "mounts left behind";
}

}  // namespace
}  // namespace linetool::app
