#include "romwright/app/status_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>
#include <vector>

#include "romwright/testing/test_files.h"

namespace romwright::app {
namespace {

using testing::FreshDir;
using testing::ReadText;

TEST(StatusDisplayTest, ProgressClampsAndShowsTheErrorState) {
  platform::ManualClock clock;
  StatusDisplay s(clock, "");
  s.SetProgress(150);
  EXPECT_EQ(s.ProgressPosition(), 100);
  EXPECT_EQ(s.ProgressText(), "100%");
  s.SetProgress(kProgressError);
  EXPECT_EQ(s.ProgressPosition(), 100);
  EXPECT_EQ(s.ProgressText(), "ERROR");
  EXPECT_EQ(s.BarColour(), kErrorRed);
  s.SetProgress(42);
  EXPECT_EQ(s.ProgressText(), "42%");
  EXPECT_EQ(s.BarColour(), (Rgb{49, 106, 197}));
  EXPECT_EQ(s.ProgressTextColour(), kTextBlack);

  s.ShowError("Read chip error!");
  EXPECT_EQ(s.InfoColour(), kErrorRed);
  EXPECT_EQ(s.ProgressText(), "ERROR");
  s.ShowInfo("Reading...");
  EXPECT_EQ(s.InfoText(), "Reading...");
  EXPECT_EQ(s.InfoColour(), kTextBlack);
}

TEST(StatusDisplayTest, LogStampsAreTheWallClocksAndNeverRunBackwards) {
  const auto dir = FreshDir();
  // The tick count and the wall clock disagree on the milliseconds: the stamp
  // takes the wall clock's, so 20 ms later it reads 20 ms more.
  platform::ManualClock clock(platform::Clock::Millis{123990});
  clock.SetLocalTime({2026, 3, 4, 5, 6, 7, 900, 3});
  StatusDisplay s(clock, (dir / "log.txt").string());
  s.LogLine("Read chip!");
  clock.Advance(platform::Clock::Millis{20});
  s.ShowInfo("Reading...");
  clock.Advance(platform::Clock::Millis{1085});
  s.LogLine("Read chip ok!");
  EXPECT_EQ(ReadText(dir / "log.txt"),
            "\r\n2026/03/04/ 05:06:07.900: Read chip!"
            "\r\n2026/03/04/ 05:06:07.920: ShowInfo: Reading..."
            "\r\n2026/03/04/ 05:06:09.005: Read chip ok!");
}

TEST(StatusDisplayTest, LogStartsAgainPastTenMebibytes) {
  const auto dir = FreshDir();
  const auto path = dir / "log.txt";
  platform::ManualClock clock;
  StatusDisplay s(clock, path.string());
  {
    std::ofstream out(path, std::ios::binary);
    out << std::string(kLogRestartSize, 'x');
  }
  s.LogLine("kept");  // exactly 10 MiB: still appended
  EXPECT_GT(std::filesystem::file_size(path), kLogRestartSize);
  s.LogLine("new");
  const std::string text = ReadText(path);
  EXPECT_EQ(text.find("kept"), std::string::npos);
  EXPECT_TRUE(text.starts_with("\r\n"));
  EXPECT_TRUE(text.ends_with(": new"));
  EXPECT_LT(text.size(), 64u);
}

// Two windows logging to the same file: every entry arrives whole, none cut
// into another, and none is lost when the file starts again.
TEST(StatusDisplayTest, EntriesOfTwoWindowsSharingTheLogStayWhole) {
  const auto dir = FreshDir();
  const auto path = dir / "log.txt";
  constexpr int kWindows = 4;
  constexpr int kEntries = 100;
  constexpr std::size_t kLength = 20000;  // longer than a stream's buffer
  platform::ManualClock clock;
  std::vector<std::thread> windows;
  for (int w = 0; w < kWindows; ++w) {
    windows.emplace_back([&, w] {
      StatusDisplay s(clock, path.string());
      const std::string text(kLength, static_cast<char>('a' + w));
      for (int e = 0; e < kEntries; ++e) s.LogLine(text);
    });
  }
  for (auto& t : windows) t.join();
  const std::string log = ReadText(path);
  std::array<int, kWindows> whole{};
  int broken = 0;
  for (std::size_t at = 0; at < log.size();) {
    ASSERT_EQ(log.compare(at, 2, "\r\n"), 0) << "at " << at;
    const std::size_t next = std::min(log.find("\r\n", at + 2), log.size());
    const std::string entry = log.substr(at + 2, next - at - 2);
    const std::size_t colon = entry.find(": ");
    const std::string text = colon == std::string::npos ? "" : entry.substr(colon + 2);
    if (text.size() == kLength && text.find_first_not_of(text[0]) == std::string::npos && text[0] >= 'a' &&
        text[0] < 'a' + kWindows) {
      ++whole[static_cast<std::size_t>(text[0] - 'a')];
    } else {
      ++broken;
    }
    at = next;
  }
  EXPECT_EQ(broken, 0);
  for (int w = 0; w < kWindows; ++w) EXPECT_EQ(whole[static_cast<std::size_t>(w)], kEntries) << "window " << w;

  // Past the limit, the writers that come together start one new file, and
  // each one's entry is in it.
  for (int round = 0; round < 5; ++round) {
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << std::string(kLogRestartSize + 1, 'x');
    }
    std::vector<std::thread> late;
    for (int w = 0; w < kWindows; ++w) {
      late.emplace_back([&, w] { StatusDisplay(clock, path.string()).LogLine("late" + std::to_string(w)); });
    }
    for (auto& t : late) t.join();
    const std::string fresh = ReadText(path);
    EXPECT_LT(fresh.size(), 1024u) << "round " << round;
    for (int w = 0; w < kWindows; ++w)
      EXPECT_NE(fresh.find(": late" + std::to_string(w)), std::string::npos) << "round " << round << " window " << w;
  }
}

TEST(StatusDisplayTest, ElapsedSuffix) {
  EXPECT_EQ(ElapsedSuffix("Elapsed time: ", platform::Clock::Millis{1234}), "   Elapsed time: 1234 ms");
}

}  // namespace
}  // namespace romwright::app
