#include "linetool/device/device_table.h"

#include <gtest/gtest.h>

using linetool::device::CapacityText;

TEST(CapacityColumn, MegabytesUpTo1024ThenWholeGigabytes) {
  EXPECT_EQ(CapacityText(1'073'741'824), "1024 MB");      // exactly 1024 MiB
  EXPECT_EQ(CapacityText(1'074'790'400), "1 GB");         // 1025 MiB
  EXPECT_EQ(CapacityText(2'000'398'934'016), "1863 GB");  // a 2 TB disk
  EXPECT_EQ(CapacityText(1'048'575), "0 MB");             // below one MiB
  EXPECT_EQ(CapacityText(-1), "");                        // unknown size: empty cell
}
