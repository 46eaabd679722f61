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

TEST(MissingRunCapabilities, ReadsTheEffectiveSetOfAStatusText) {
  using platform::linux_host::MissingRunCapabilities;
  const std::string head = "Name:\tlinetool-cli\nUid:\t1000\t1000\t1000\t1000\nCapInh:\t0000000000000000\n";
  // Root: every capability.
  EXPECT_TRUE(MissingRunCapabilities(head + "CapEff:\t000001ffffffffff\nCapBnd:\t000001ffffffffff\n").empty());
  // An ordinary user; a permitted set that is not effective does not count.
  EXPECT_EQ(MissingRunCapabilities(head + "CapPrm:\t0000000000220000\nCapEff:\t0000000000000000\n"),
            (std::vector<std::string>{"CAP_SYS_RAWIO", "CAP_SYS_ADMIN"}));
  // The binary given cap_sys_rawio only (bit 17): mounting is still out of reach.
  EXPECT_EQ(MissingRunCapabilities(head + "CapEff:\t0000000000020000\n"), (std::vector<std::string>{"CAP_SYS_ADMIN"}));
  EXPECT_EQ(MissingRunCapabilities(head + "CapEff:\t0000000000200000\n"), (std::vector<std::string>{"CAP_SYS_RAWIO"}));
  EXPECT_EQ(MissingRunCapabilities(head).size(), 2u);  // no line: nothing granted
  // Held from the file's capabilities, but out of the bounding set: the tools get nothing.
  EXPECT_EQ(MissingRunCapabilities(head + "CapEff:\t0000000000220000\nCapBnd:\t000001ffffdfffff\n"),
            (std::vector<std::string>{"CAP_SYS_ADMIN for the tools it starts"}));
}
