#include "platform/linux/host_services.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using platform::PathState;

TEST(HostPathAccess, TellsMissingFromPresent) {
  const fs::path dir = fs::temp_directory_path() / ("pa_test_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path file = dir / "f.bin";
  std::ofstream(file) << "x";
  platform::linux_host::HostPathAccess access;
  EXPECT_EQ(access.Check(file.string()), PathState::kReadWrite);
  EXPECT_EQ(access.Check((dir / "none").string()), PathState::kMissing);
  if (::geteuid() != 0) {  // root may read and write anything
    ::chmod(file.c_str(), 0444);
    EXPECT_EQ(access.Check(file.string()), PathState::kNoReadWrite);
  }
  fs::remove_all(dir);
}

TEST(SystemClock, LocalTimeIsPlausible) {
  const auto t = platform::linux_host::LocalTimeNow();
  EXPECT_GE(t.year, 2024);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  auto clock = platform::linux_host::MakeSystemClock();
  const auto before = clock.Now();
  EXPECT_TRUE(clock.WaitFor(std::chrono::milliseconds(2)));
  EXPECT_GE(clock.Now() - before, std::chrono::milliseconds(2));
}
