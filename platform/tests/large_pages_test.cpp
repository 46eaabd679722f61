#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/large_pages.h"

namespace {

// The host's setting for large pages: "always", "madvise" or "never"; empty
// when it has none.
std::string LargePageMode() {
  std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string text;
  std::getline(in, text);
  const auto open = text.find('[');
  const auto close = text.find(']');
  return open == std::string::npos || close == std::string::npos ? "" : text.substr(open + 1, close - open - 1);
}

// Kilobytes of large pages the host gives the mapping that holds `p`, from
// the process's own memory map; -1 when no mapping holds it.
long LargePageKiB(const void* p) {
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    std::uintptr_t from = 0, to = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> from >> dash >> to && dash == '-') {
      inside = from <= at && at < to;
    } else if (inside && line.rfind("AnonHugePages:", 0) == 0) {
      return std::stol(line.substr(14));
    }
  }
  return -1;
}

TEST(LargePages, AChipImageFilledAtOnceLiesOnLargePages) {
  constexpr std::size_t kImage = 16u << 20;
  const auto image = platform::FilledBytes(kImage, 0xFF);
  ASSERT_EQ(image.size(), kImage);
  EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(platform::FilledBytes(0, 0xFF).size(), 0u);
  // A hint on nothing, or on less than a page, is taken without harm.
  platform::PreferLargePages(nullptr, kImage);
  std::uint8_t small[100] = {1};
  platform::PreferLargePages(small + 1, sizeof small - 1);
  EXPECT_EQ(small[0], 1);

  const std::string mode = LargePageMode();
  if (mode.empty() || mode == "never") {
    GTEST_SKIP() << "this host gives no large pages (transparent_hugepage: '" << mode << "')";
  }
  // 16 MiB holds at least seven whole aligned 2 MiB pages; the hint splits
  // the mapping at its page boundaries, so ask for the one in the middle.
  EXPECT_GE(LargePageKiB(image.data() + kImage / 2), 2048) << "the image lies on small pages only";
}

}  // namespace
