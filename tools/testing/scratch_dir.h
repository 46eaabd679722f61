#pragma once
// Folders a test makes for itself under the system's temporary folder. Each
// goes when the test that made it ends; a failed test keeps its folders so
// that what it left can be looked at.

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace test_support {

class ScratchDirs final : public ::testing::EmptyTestEventListener {
 public:
  // The one listener, handed to the test runner on first use.
  static ScratchDirs& Instance() {
    static ScratchDirs* const instance = [] {
      auto* listener = new ScratchDirs;  // the runner's listener list owns it
      ::testing::UnitTest::GetInstance()->listeners().Append(listener);
      return listener;
    }();
    return *instance;
  }

  void Add(const std::filesystem::path& dir) {
    const std::lock_guard held(lock_);
    dirs_.push_back(dir);
  }

  void OnTestEnd(const ::testing::TestInfo& info) override {
    std::vector<std::filesystem::path> dirs;
    {
      const std::lock_guard held(lock_);
      dirs.swap(dirs_);
    }
    if (info.result() != nullptr && info.result()->Failed()) return;
    for (const auto& dir : dirs) {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    }
  }

 private:
  ScratchDirs() = default;
  std::mutex lock_;
  std::vector<std::filesystem::path> dirs_;
};

// An empty folder `name` under the temporary folder, removed when the running
// test ends.
inline std::filesystem::path ScratchDir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  ScratchDirs::Instance().Add(dir);
  return dir;
}

}  // namespace test_support
