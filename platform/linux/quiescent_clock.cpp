#include "platform/linux/quiescent_clock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::linux_host {

namespace {

constexpr std::chrono::microseconds kSamplePause{200};

long CurrentTid() { return ::syscall(SYS_gettid); }

// The state letter of a thread from its stat line ("tid (name) S ..."); the
// name may hold blanks and parentheses, so the state follows the last ')'.
char ThreadState(long tid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%ld/stat", tid);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 'X';  // gone
  char buf[512];
  const ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return 'X';
  buf[n] = '\0';
  const char* close_paren = std::strrchr(buf, ')');
  if (close_paren == nullptr || close_paren[1] != ' ') return 'R';
  return close_paren[2];
}

}  // namespace

bool OtherThreadsAsleep(long self_tid) {
  DIR* dir = ::opendir("/proc/self/task");
  if (dir == nullptr) return false;
  bool asleep = true;
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const long tid = std::strtol(e->d_name, nullptr, 10);
    if (tid == self_tid) continue;
    const char state = ThreadState(tid);
    // Sleeping, stopped by a debugger, or already gone: not running.
    if (state != 'S' && state != 'X' && state != 't' && state != 'T' && state != 'Z') {
      asleep = false;
      break;
    }
  }
  ::closedir(dir);
  return asleep;
}

QuiescentClock::QuiescentClock(LocalTime calendar)
    : calendar_(calendar), watcher_([this](std::stop_token st) { Watch(st); }) {}

QuiescentClock::~QuiescentClock() {
  watcher_.request_stop();
  changed_.notify_all();
}

Clock::Millis QuiescentClock::Now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

LocalTime QuiescentClock::LocalNow() const { return AddMillis(calendar_, Now().count()); }

std::uint64_t QuiescentClock::Jumps() const {
  std::lock_guard lock(mutex_);
  return jumps_;
}

bool QuiescentClock::WaitUntil(Millis deadline, std::stop_token stop) {
  std::unique_lock lock(mutex_);
  if (now_ >= deadline) return true;
  if (stop.stop_requested()) return false;
  const auto entry = deadlines_.insert(deadline);
  ++activity_;
  changed_.notify_all();  // the watcher may be idle
  const bool reached = changed_.wait(lock, stop, [&] { return now_ >= deadline; });
  deadlines_.erase(entry);
  ++activity_;
  return reached;
}

void QuiescentClock::Watch(std::stop_token stop) {
  const long self = CurrentTid();
  std::uint64_t seen = 0;
  bool quiet_before = false;
  while (!stop.stop_requested()) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, stop, [&] { return !deadlines_.empty(); });
      if (stop.stop_requested()) return;
      if (activity_ != seen) {
        seen = activity_;
        quiet_before = false;
      }
    }
    std::this_thread::sleep_for(kSamplePause);
    const bool quiet = OtherThreadsAsleep(self);
    std::lock_guard lock(mutex_);
    if (!quiet || activity_ != seen || deadlines_.empty()) {
      quiet_before = false;
      continue;
    }
    if (!quiet_before) {
      quiet_before = true;
      continue;
    }
    // Two quiet samples with no wait begun or ended: everybody sleeps.
    now_ = *deadlines_.begin();
    ++jumps_;
    ++activity_;
    quiet_before = false;
    changed_.notify_all();
  }
}

}  // namespace platform::linux_host
