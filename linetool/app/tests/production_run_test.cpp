#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "linetool/app/control_ids.h"
#include "linetool/profile/serial_number.h"
#include "run_fixture.h"

namespace linetool::app {
namespace {

using testing::RunRig;

int CountLines(const std::string& path, const std::string& needle) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string t = ss.str();
  int n = 0;
  for (std::size_t at = t.find(needle); at != std::string::npos; at = t.find(needle, at + 1)) ++n;
  return n;
}

TEST(ProductionRun, SixteenBridgesPassEveryStageAndAdvanceTheSerial) {
  RunRig rig(16);
  rig.Initialise();
  ASSERT_EQ(rig.Run().Table().device_count, 16u);
  const std::string base(profile::TextOf(rig.Engine().Settings().serial_number));
  rig.StartAndWait();
  EXPECT_EQ(rig.sink.Texts(), std::vector<std::string>{});
  for (int row = 0; row < 16; ++row)
    for (int column = 7; column <= 13; ++column)
      EXPECT_EQ(rig.Presenter().CellText(row, column), "PASS") << "row " << row << " column " << column;
  const Counters c = rig.Presenter().CounterValues();
  EXPECT_EQ(c.pass, 16);
  EXPECT_EQ(c.fail, 0);
  EXPECT_EQ(c.total, 16);
  EXPECT_EQ(rig.Presenter().ProgressText(), "100 %");
  EXPECT_EQ(profile::TextOf(rig.Engine().Settings().serial_number), profile::IncreaseSerialNumber(base, 16));
  const std::string log = rig.Run().LogFilePath();
  for (int p = 0; p < 16; ++p)
    EXPECT_EQ(CountLines(log, "\t" + profile::IncreaseSerialNumber(base, p) + "\t"), 1) << p;
  // The panel is usable again.
  EXPECT_TRUE(rig.Presenter().Control(ids::kStart).enabled);
}

}  // namespace
}  // namespace linetool::app
