// The formatter's output as the system's own FAT tools see it, formatted
// through `linetool-cli format-fat32` on sparse image files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "platform/linux/linux_volumes.h"
#include "tools/testing/test_paths.h"

namespace fs = std::filesystem;

namespace {

struct ShellRun {
  int status = -1;
  std::string output;  // stdout and stderr
};

ShellRun Shell(const std::string& command) {
  ShellRun r;
  std::FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

// The lines of fsck.fat's report that are not about the boot-sector label.
std::string Complaints(const std::string& fsck_output) {
  std::istringstream in(fsck_output);
  std::ostringstream out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("fsck.fat ", 0) == 0) continue;                     // version banner
    if (line.find("There is no label in boot sector") != std::string::npos) continue;
    if (line.find("Auto-copying volume label") != std::string::npos) continue;
    if (line.find("Leaving filesystem unchanged") != std::string::npos) continue;
    if (line.find(" files, ") != std::string::npos) continue;          // the summary line
    if (line.empty()) continue;
    out << line << "\n";
  }
  return out.str();
}

class SparseImage {
 public:
  explicit SparseImage(std::uint64_t bytes)
      : path_(fs::temp_directory_path() / ("fat32_oracle_" + std::to_string(::getpid()) + "_" +
                                           std::to_string(bytes) + ".img")) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (f != nullptr) std::fclose(f);
    fs::resize_file(path_, bytes);
  }
  ~SparseImage() {
    std::error_code ec;
    fs::remove(path_, ec);
  }
  const fs::path& path() const { return path_; }
  std::uint64_t AllocatedBytes() const {
    struct stat st{};
    return ::stat(path_.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_blocks) * 512 : 0;
  }

 private:
  fs::path path_;
};

struct Case {
  const char* name;
  std::uint64_t bytes;
  const char* cluster;  // "" = chosen by size
  const char* label;
};

class Fat32Oracle : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    for (const char* tool : {"fsck.fat", "fatlabel", "mlabel"}) {
      ASSERT_EQ(Shell(std::string("command -v ") + tool + " || test -x /usr/sbin/" + tool).status, 0)
          << tool << " is missing: run scripts/setup";
    }
  }
};

}  // namespace

TEST_P(Fat32Oracle, FsckFindsNothingButTheBootSectorLabelAndTheLabelReadsBack) {
  const Case& c = GetParam();
  SparseImage img(c.bytes);
  std::string cmd = std::string(test_support::kLinetoolCli) + " format-fat32 " + Quote(img.path()) + " --label " + c.label;
  if (*c.cluster != 0) cmd += std::string(" --cluster ") + c.cluster;
  const ShellRun fmt = Shell(cmd);
  ASSERT_EQ(fmt.status, 0) << fmt.output;

  const ShellRun fsck = Shell("PATH=$PATH:/usr/sbin fsck.fat -n " + Quote(img.path()));
  EXPECT_EQ(Complaints(fsck.output), "") << fsck.output;
  EXPECT_NE(fsck.output.find("There is no label in boot sector, but there is volume label 'STATION1'"),
            std::string::npos)
      << fsck.output;
  EXPECT_NE(fsck.output.find(" 1 files, 1/"), std::string::npos) << fsck.output;

  const ShellRun fatlabel = Shell("PATH=$PATH:/usr/sbin fatlabel " + Quote(img.path()));
  EXPECT_EQ(fatlabel.output, "STATION1\n");
  const ShellRun mlabel = Shell("mlabel -s -i " + Quote(img.path()) + " ::");
  EXPECT_EQ(mlabel.status, 0) << mlabel.output;
  EXPECT_NE(mlabel.output.find("Volume label is STATION1"), std::string::npos) << mlabel.output;

  // The station's own read-back on Linux (libblkid) sees the same.
  const auto info = platform::linux_host::ProbeVolume(img.path().string());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->file_system, "FAT32");
  EXPECT_EQ(info->label, "STATION1");

  // The data area was never touched.
  EXPECT_LT(img.AllocatedBytes(), c.bytes / 512 + (16u << 20));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Fat32Oracle,
    ::testing::Values(Case{"Image64MiB", 64ull << 20, "", "station1"},
                      Case{"Image32GiB", 32ull << 30, "", "STATION1"},
                      Case{"Image32GiBAt8", 32ull << 30, "8", "STATION1"},
                      Case{"NearTheSectorLimit", 0xFFFFFFFEull * 512, "64", "Station1"}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

TEST(Fat32OracleCli, RefusesVolumesFat32CannotHold) {
  SparseImage at_limit(0xFFFFFFFFull * 512);
  ShellRun r = Shell(std::string(test_support::kLinetoolCli) + " format-fat32 " + Quote(at_limit.path()) + " --label X");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("4,294,967,295 sectors; FAT32 needs 65,536"), std::string::npos) << r.output;
  EXPECT_EQ(at_limit.AllocatedBytes(), 0u);

  SparseImage tiny(64ull << 20);
  r = Shell(std::string(test_support::kLinetoolCli) + " format-fat32 " + Quote(tiny.path()) + " --label X --cluster 64");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("choose another --cluster"), std::string::npos) << r.output;

  r = Shell(std::string(test_support::kLinetoolCli) + " format-fat32 " + Quote(tiny.path()) + " --label TWELVECHARSX");
  EXPECT_EQ(r.status, 2);
  r = Shell(std::string(test_support::kLinetoolCli) + " format-fat32 " + Quote(tiny.path()) + " --label 'A.B'");
  EXPECT_EQ(r.status, 2);
  r = Shell(std::string(test_support::kLinetoolCli) + " format-fat32 " + Quote(tiny.path()) + " --label X --cluster 3");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(tiny.AllocatedBytes(), 0u);
}
