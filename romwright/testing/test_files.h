#pragma once
// A fresh folder per test for the files a test writes, gone when it passed.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/testing/scratch_dir.h"

namespace romwright::app::testing {

inline std::filesystem::path FreshDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return test_support::ScratchDir("romwright_app_" + std::string(info->test_suite_name()) + "_" + info->name());
}

inline void WriteText(const std::filesystem::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

inline std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace romwright::app::testing
