// The progress line: what it says on the way and at the end, and that it
// writes nothing at all where it is not enabled (a pipe or a file).

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tools/cli/progress_line.h"

namespace command_line {
namespace {

using namespace std::chrono_literals;

class ProgressLineTest : public ::testing::Test {
 protected:
  ProgressLine::Now Clock() {
    return [this] { return ProgressLine::TimePoint{} + now_; };
  }
  std::chrono::milliseconds now_{1000};
  std::ostringstream out_;
};

TEST_F(ProgressLineTest, SaysBytesRateAndTimeLeftOnTheWayAndTheTimeTakenAtTheEnd) {
  ProgressLine line(out_, true, Clock());
  line.Start("Reading...", 16 * 1024 * 1024);
  now_ += 4s;
  EXPECT_EQ(line.Text(50), "Reading...   50%  8.0 MiB of 16.0 MiB  2.0 MiB/s  0:04 left");
  now_ += 4s;
  EXPECT_EQ(line.Text(100), "Reading...  100%  16.0 MiB of 16.0 MiB  2.0 MiB/s  0:08");
  // Without a byte count: the percentage and the time only.
  line.Start("Erasing...", 0);
  now_ += 90s;
  EXPECT_EQ(line.Text(25), "Erasing...   25%  4:30 left");
  EXPECT_EQ(line.Text(0), "Erasing...    0%");
}

TEST_F(ProgressLineTest, RedrawsInPlaceAndEndsTheLineOnce) {
  ProgressLine line(out_, true, Clock());
  line.Start("Writing...", 2048);
  line.Update(10);
  line.Update(10);  // the same percentage within a quarter second: not drawn again
  now_ += 10ms;
  line.Update(20);
  line.Finish();
  line.Finish();
  const std::string text = out_.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 2) << text;
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_NE(text.find("\rWriting...   20%  410 B of 2.0 KiB"), std::string::npos) << text;
}

TEST_F(ProgressLineTest, WritesNothingWhenNotOnATerminal) {
  {
    ProgressLine line(out_, false, Clock());
    line.Start("Reading...", 1024);
    for (int p = 0; p <= 100; p += 10) line.Update(p);
    line.Finish();
  }
  EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace command_line
