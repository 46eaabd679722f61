#include "romwright/app/status_display.h"

#include <gtest/gtest.h>

#include "test_files.h"

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

TEST(StatusDisplayTest, ElapsedSuffix) {
  EXPECT_EQ(ElapsedSuffix("Elapsed time: ", platform::Clock::Millis{1234}), "   Elapsed time: 1234 ms");
}

}  // namespace
}  // namespace romwright::app
