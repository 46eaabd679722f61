// Loop devices over files: attached with their partitions scanned, detached
// when the object goes. Needs root and /dev/loop-control; skipped elsewhere.

#include "platform/linux/loop_device.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;
using platform::linux_host::LoopDevice;

namespace {

std::string BackingFileOf(const std::string& name) {
  std::ifstream in("/sys/block/" + name + "/loop/backing_file");
  std::string s;
  std::getline(in, s);
  return s;
}

}  // namespace

TEST(LoopDevice, AttachesOverAFileAndDetachesWhenDestroyed) {
  if (const auto why = platform::linux_host::LoopDevicesUnavailable(); !why.empty()) GTEST_SKIP() << why;
  const fs::path file = fs::temp_directory_path() / ("loop_device_" + std::to_string(std::random_device{}()) + ".img");
  { std::ofstream(file).close(); }
  fs::resize_file(file, 8 << 20);
  std::string name;
  {
    std::string error;
    auto loop = LoopDevice::Attach(file.string(), error);
    ASSERT_NE(loop, nullptr) << error;
    name = loop->Name();
    EXPECT_EQ(loop->Path(), "/dev/" + name);
    EXPECT_EQ(BackingFileOf(name), fs::canonical(file).string());
    std::ifstream partscan("/sys/block/" + name + "/loop/partscan");
    int on = 0;
    partscan >> on;
    EXPECT_EQ(on, 1);
  }
  EXPECT_EQ(BackingFileOf(name), "") << name << " still attached";
  std::string error;
  EXPECT_EQ(LoopDevice::Attach((file.string() + ".missing"), error), nullptr);
  EXPECT_NE(error.find(".missing"), std::string::npos) << error;
  fs::remove(file);
}
