#pragma once
// A fresh working directory and an engine on it, for the profile tests.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "linetool/profile/line_engine.h"
#include "linetool/profile/station_files.h"
#include "platform/linux/host_services.h"
#include "platform/message_sink.h"
#include "tools/testing/test_paths.h"

namespace linetool::profile::testing {

class EngineTest : public ::testing::Test {
 protected:
  EngineTest() : dir_(MakeDir()), engine_(sink_, access_, dir_.string()) {}
  ~EngineTest() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  static std::filesystem::path MakeDir() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    auto dir = std::filesystem::path(test_support::kBinaryDir) / "profile_tests" /
               (std::string(info->test_suite_name()) + "." + info->name() + "." + std::to_string(counter++));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
  }

  std::string Host(const std::string& name) const { return (dir_ / name).string(); }

  void WriteFile(const std::string& name, const std::string& content) const {
    std::ofstream(Host(name), std::ios::binary) << content;
  }
  void WriteBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream out(Host(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  // Empty when the file is missing.
  std::vector<std::uint8_t> ReadBytes(const std::string& name) const {
    return ReadFileBytes(Host(name)).value_or(std::vector<std::uint8_t>{});
  }
  std::string ReadFile(const std::string& name) const {
    const auto bytes = ReadBytes(name);
    return {bytes.begin(), bytes.end()};
  }

  std::filesystem::path dir_;
  platform::RecordingSink sink_;
  platform::linux_host::HostPathAccess access_;
  CLineEngine engine_;
};

}  // namespace linetool::profile::testing
