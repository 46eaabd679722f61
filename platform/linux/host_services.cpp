#include "platform/linux/host_services.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

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

std::vector<std::string> MissingRunCapabilities(const std::string& status_text) {
  constexpr int kSysRawio = 17;
  constexpr int kSysAdmin = 21;
  // A missing line: nothing effective; the bounding set left as it was at boot.
  const auto mask = [&status_text](const char* field, std::uint64_t absent) -> std::uint64_t {
    std::istringstream in(status_text);
    const std::string name(field);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(name, 0) != 0) continue;
      const auto hex = line.find_first_not_of(" \t", name.size());
      return hex == std::string::npos ? 0 : std::strtoull(line.c_str() + hex, nullptr, 16);
    }
    return absent;
  };
  const std::uint64_t effective = mask("CapEff:", 0);
  std::vector<std::string> missing;
  if ((effective >> kSysRawio & 1) == 0) missing.emplace_back("CAP_SYS_RAWIO");
  if ((effective >> kSysAdmin & 1) == 0) {
    missing.emplace_back("CAP_SYS_ADMIN");
  } else if ((mask("CapBnd:", ~std::uint64_t{0}) >> kSysAdmin & 1) == 0) {
    // Held, but out of the bounding set: the tools cannot inherit it.
    missing.emplace_back("CAP_SYS_ADMIN for the tools it starts");
  }
  return missing;
}

std::vector<std::string> MissingRunCapabilities() {
  std::ifstream in("/proc/self/status");
  std::stringstream text;
  text << in.rdbuf();
  return MissingRunCapabilities(text.str());
}

std::string CurrentDirectory() {
  std::error_code ec;
  auto p = std::filesystem::current_path(ec);
  return ec ? std::string(".") : p.string();
}

std::string ExecutableFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

}  // namespace platform::linux_host
