#pragma once
// A folder of fixture files (a sysfs tree, mount tables, images) for the
// Linux backend tests, removed with everything in it at the end.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace platform::linux_host::test_files {

class TempTree {
 public:
  TempTree()
      : root_(std::filesystem::temp_directory_path() / ("linux_disk_" + std::to_string(std::random_device{}()))) {
    std::filesystem::create_directories(root_);
  }
  ~TempTree() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::filesystem::path& root() const { return root_; }
  void Write(const std::filesystem::path& rel, const std::string& text) {
    std::filesystem::create_directories((root_ / rel).parent_path());
    std::ofstream(root_ / rel) << text;
  }
  void Folder(const std::filesystem::path& rel) { std::filesystem::create_directories(root_ / rel); }

 private:
  std::filesystem::path root_;
};

}  // namespace platform::linux_host::test_files
