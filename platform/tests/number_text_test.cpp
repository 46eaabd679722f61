#include <gtest/gtest.h>

#include "platform/number_text.h"

using platform::ParseUnsigned;

TEST(ParseUnsigned, WholeTextWithinTheRangeOrNothing) {
  EXPECT_EQ(ParseUnsigned("15", 10, 15), 15u);
  EXPECT_EQ(ParseUnsigned("007", 10), 7u);
  EXPECT_EQ(ParseUnsigned("18446744073709551615", 10), UINT64_MAX);
  EXPECT_EQ(ParseUnsigned("1FF", 16), 0x1FFu);
  EXPECT_EQ(ParseUnsigned("0xcA02", 16, 0xFFFF), 0xCA02u);
  // Beyond the range, beyond 64 bits, or not only the number: nothing.
  for (const char* bad : {"16", "99999999999999999999999", "18446744073709551616", "", "-1", "+1", " 1", "1 ",
                          "1e3", "0x10", "1.0"})
    EXPECT_FALSE(ParseUnsigned(bad, 10, 15)) << bad;
  for (const char* bad : {"10000", "zz", "0x", "0x-1", "-0", "1g", "0x0x1"})
    EXPECT_FALSE(ParseUnsigned(bad, 16, 0xFFFF)) << bad;
}
