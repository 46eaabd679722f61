#include "platform/linux/host_services.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>

namespace platform::linux_host {

LocalTime LocalTimeNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm tm{};
  const time_t secs = tv.tv_sec;
  localtime_r(&secs, &tm);
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = static_cast<int>(tv.tv_usec / 1000);
  t.day_of_week = tm.tm_wday;
  return t;
}

SteadyClock MakeSystemClock() { return SteadyClock(&LocalTimeNow); }

PathState HostPathAccess::Check(const std::string& host_path) const {
  if (::access(host_path.c_str(), F_OK) != 0) return PathState::kMissing;
  if (::access(host_path.c_str(), R_OK | W_OK) != 0) return PathState::kNoReadWrite;
  return PathState::kReadWrite;
}

std::string CurrentDirectory() {
  std::error_code ec;
  auto p = std::filesystem::current_path(ec);
  return ec ? std::string(".") : p.string();
}

}  // namespace platform::linux_host
