// Fault runs on loop-backed disks: simulated bridges over real block devices,
// partitioned, formatted (NTFS), tested and preloaded through the host's
// tools, in real time. A disk pulled in the middle of the run fails its own
// port only; a volume that fills up before the preload fails the preload
// only; a disk whose medium changes between the write/read test's write and
// its read fails that test. Needs root, /dev/loop-control, a mount namespace of its own and the
// NTFS tools; skipped with the reason elsewhere.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "linetool/app/cli/loop_station_backend.h"
#include "linetool/app/tests/presenter_fixture.h"
#include "linetool/disk/production_log.h"
#include "linetool/run/production_run.h"
#include "platform/linux/host_services.h"
#include "platform/linux/posix_files.h"
#include "tools/testing/test_paths.h"

namespace linetool::app {
namespace {

namespace fs = std::filesystem;

constexpr int kPartitionColumn = kFirstStageColumn + disk::kStagePartition;
constexpr int kWriteReadColumn = kFirstStageColumn + disk::kStageWriteRead;
const std::string P = "PASS";
const std::string F = "FAIL";

// Why this host cannot run the station on loop devices, or empty.
std::string LoopRunUnavailable() {
  if (auto why = platform::linux_host::LoopDevicesUnavailable(); !why.empty()) return why;
  for (const char* tool : {"sfdisk", "partx", "mkntfs", "ntfslabel", "ntfs-3g"}) {
    bool found = false;
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/sbin:/usr/bin:/sbin:/bin");
    for (std::string dir; std::getline(path, dir, ':');) found = found || ::access((dir + "/" + tool).c_str(), X_OK) == 0;
    if (!found) return std::string(tool) + " is not installed";
  }
  // The run's mounts stay inside this process, out of sight of tests that
  // count the machine's mounts.
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return std::string("no mount namespace of its own here: ") + std::strerror(errno);
  }
  return {};
}

// Passes file work on to the host's files; `before_read` sees every path
// opened for reading first.
class WatchedFiles final : public platform::HostFiles {
 public:
  explicit WatchedFiles(std::function<void(const std::string&)> before_read) : before_read_(std::move(before_read)) {}
  std::unique_ptr<platform::HostFile> Open(const std::string& path, platform::FileOpen mode) override {
    if (mode != platform::FileOpen::kCreateAlways && mode != platform::FileOpen::kCreateAlwaysUncached) {
      before_read_(path);
    }
    return files_.Open(path, mode);
  }
  bool Exists(const std::string& path) override { return files_.Exists(path); }
  bool RemoveFile(const std::string& path) override { return files_.RemoveFile(path); }
  bool CreateFolder(const std::string& path) override { return files_.CreateFolder(path); }
  bool RemoveFolder(const std::string& path) override { return files_.RemoveFolder(path); }
  std::optional<std::vector<platform::FolderEntry>> List(const std::string& path) override {
    return files_.List(path);
  }

 private:
  std::function<void(const std::string&)> before_read_;
  platform::linux_host::PosixFiles files_;
};

// A station on loop-backed disks of `disk_mib` MiB, the sample profile set to
// NTFS, in a fresh folder that goes with the rig. Its files are `files`
// where given.
class LoopRig {
 public:
  LoopRig(int bridges, int disk_mib, platform::HostFiles* files = nullptr) {
    root_ = fs::temp_directory_path() / ("linetool_loop_" + std::to_string(std::random_device{}()));
    const fs::path work = root_ / "work";
    fs::create_directories(work);
    const fs::path res(test_support::kResourceDir);
    for (const char* f : {"121105_10_0000.bin", "wr_test.bin"}) fs::copy_file(res / f, work / f);
    fs::copy(res / "preload", work / "preload", fs::copy_options::recursive);
    std::ifstream in(res / "kl_line_Tool v0.3.ini", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string profile = text.str();
    profile.replace(profile.find("format_drive_type=1"), 19, "format_drive_type=0");
    std::ofstream(work / "kl_line_Tool v0.3.ini", std::ios::binary) << profile;

    sim::station::WorldSpec spec = sim::station::DefaultWorld(bridges);
    spec.reload_delay_ms = 200;
    for (auto* b : sim::station::BridgesOf(spec)) {
      b->disk_size = static_cast<std::uint64_t>(disk_mib) << 20;
      b->disk_backing = sim::station::DiskBacking::kLoop;
    }
    backend_ = std::make_unique<cli::LoopStationBackend>(spec, clock_, root_ / "disks", root_ / "drives",
                                                         work.string());
    engine_ = std::make_unique<profile::CLineEngine>(sink, access_, work.string());
    engine_->SetDriveRoot(backend_->DriveRoot());
    presenter_ = std::make_unique<LineToolPresenter>(*engine_, sink, chooser, dialogs);
    const StationServices host = backend_->Services();
    run_ = std::make_unique<ProductionRun>(
        *presenter_, StationServices{host.devices, host.disks, host.volumes, host.tools,
                                     files != nullptr ? *files : host.files, host.access, host.clock});
    presenter_->AttachRun(run_.get());
  }
  ~LoopRig() {
    presenter_->SetObserver({});
    presenter_->AttachRun(nullptr);
    run_.reset();
    presenter_.reset();
    engine_.reset();
    backend_.reset();  // unmounts and detaches
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  cli::LoopStationBackend& Backend() { return *backend_; }
  LineToolPresenter& Presenter() { return *presenter_; }
  ProductionRun& Run() { return *run_; }

  // The disk image behind port `row`.
  fs::path ImageOf(int row) {
    const int drive = run_->Table().records[static_cast<std::size_t>(row)].physical_drive_number;
    for (const auto& d : backend_->World().Disks())
      if (d.drive_number == drive) return d.image_path;
    return {};
  }
  std::vector<std::string> StageRow(int row) {
    std::vector<std::string> r;
    for (int c = kFirstStageColumn; c < kFirstStageColumn + 7; ++c) r.push_back(presenter_->CellText(row, c));
    return r;
  }

  platform::RecordingSink sink;
  testing::ScriptedChooser chooser;
  testing::ScriptedDialogs dialogs;

 private:
  fs::path root_;
  platform::SteadyClock clock_ = platform::linux_host::MakeSystemClock();
  platform::linux_host::HostPathAccess access_;
  std::unique_ptr<cli::LoopStationBackend> backend_;
  std::unique_ptr<profile::CLineEngine> engine_;
  std::unique_ptr<LineToolPresenter> presenter_;
  std::unique_ptr<ProductionRun> run_;
};

// Writes zeros into a file on the volume until it is full; the bytes written.
std::uint64_t FillVolume(const std::string& folder) {
  const std::string path = folder + "/filler.bin";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  const std::vector<char> zeros(1 << 20, 0);
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t n = ::write(fd, zeros.data(), zeros.size());
    if (n <= 0) break;
    total += static_cast<std::uint64_t>(n);
  }
  ::fsync(fd);
  ::close(fd);
  return total;
}

// Changes one byte of the 4 KiB block of `data` at `at` where the disk image
// holds it; false when the image holds no such block.
bool CorruptInImage(const fs::path& image, const std::vector<char>& data, std::size_t at) {
  const int fd = ::open(image.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<char> block(4096);
  bool changed = false;
  for (off_t pos = ::lseek(fd, 0, SEEK_DATA); !changed && pos >= 0; pos = ::lseek(fd, pos, SEEK_DATA)) {
    const off_t hole = ::lseek(fd, pos, SEEK_HOLE);
    for (pos = pos / 4096 * 4096; !changed && pos < hole; pos += 4096) {
      if (::pread(fd, block.data(), block.size(), pos) != 4096) break;
      if (std::equal(block.begin(), block.end(), data.begin() + static_cast<std::ptrdiff_t>(at))) {
        block[1000] = static_cast<char>(~block[1000]);
        changed = ::pwrite(fd, block.data(), block.size(), pos) == 4096 && ::fsync(fd) == 0;
      }
    }
  }
  ::close(fd);
  return changed;
}

TEST(LoopFaults, EachFaultOnARealDiskFailsItsOwnPortOnly) {
  if (const auto why = LoopRunUnavailable(); !why.empty()) GTEST_SKIP() << why;
  // Port 3's disk changes under the write/read test's file once the file is
  // written, before it is read back.
  std::ifstream ref(fs::path(test_support::kResourceDir) / "wr_test.bin", std::ios::binary);
  const std::vector<char> reference{std::istreambuf_iterator<char>(ref), {}};
  ASSERT_GE(reference.size(), 2u * 4096);
  LoopRig* rig_of_files = nullptr;
  int corrupted = 0;
  WatchedFiles files([&](const std::string& path) {
    if (rig_of_files == nullptr || corrupted != 0 || !path.ends_with("/wr_test.bin")) return;
    const char letter = rig_of_files->Run().Table().records[3].drive_letter;
    if (path != rig_of_files->Backend().DriveRoot() + "/" + std::string(1, letter) + "/wr_test.bin") return;
    corrupted = CorruptInImage(rig_of_files->ImageOf(3), reference, reference.size() / 2 / 4096 * 4096) ? 1 : -1;
  });
  LoopRig rig(4, 64, &files);
  rig_of_files = &rig;
  ASSERT_TRUE(rig.Backend().Error().empty()) << rig.Backend().Error();
  rig.Presenter().Initialise();
  ASSERT_EQ(rig.Run().Table().device_count, 4u);

  // Port 0's disk goes once it is partitioned; port 1's volume fills up once
  // its write/read test passed. Grid cells are written by the port's own
  // worker, so each fault lands before that worker's next stage.
  const fs::path pulled = rig.ImageOf(0);
  const std::string pulled_loop = rig.Backend().LoopOf(pulled);
  ASSERT_FALSE(pulled_loop.empty());
  bool detached = false;
  std::uint64_t filled = 0;
  rig.Presenter().SetObserver([&](const PresenterEvent& e) {
    if (e.kind != PresenterEvent::Kind::kCell || e.text != P) return;
    if (e.row == 0 && e.column == kPartitionColumn) detached = rig.Backend().Detach(pulled);
    if (e.row == 1 && e.column == kWriteReadColumn) {
      const char letter = rig.Run().Table().records[1].drive_letter;
      filled = FillVolume(rig.Backend().DriveRoot() + "/" + std::string(1, letter));
    }
  });
  rig.Presenter().Command(1022);  // Start
  rig.Run().WaitIdle();
  rig.Presenter().SetObserver({});

  EXPECT_TRUE(detached);
  EXPECT_GT(filled, 0u);
  EXPECT_EQ(rig.StageRow(0), (std::vector<std::string>{P, P, P, P, F, F, F}));
  EXPECT_EQ(rig.StageRow(1), (std::vector<std::string>{P, P, P, P, P, P, F}));
  EXPECT_EQ(rig.StageRow(2), (std::vector<std::string>(7, P)));
  // The changed byte reached the read-back: nothing on the way kept the
  // written data.
  EXPECT_EQ(corrupted, 1) << "the written test file was not found on the disk image";
  EXPECT_EQ(rig.StageRow(3), (std::vector<std::string>{P, P, P, P, P, F, F}));
  // The preload's result is not counted.
  const Counters c = rig.Presenter().CounterValues();
  EXPECT_EQ(c.pass, 2u);
  EXPECT_EQ(c.fail, 2u);
  rig_of_files = nullptr;
  // The pulled device stays gone: nothing attached it again under the run.
  std::ifstream backing("/sys/block/" + fs::path(pulled_loop).filename().string() + "/loop/backing_file");
  std::string file;
  std::getline(backing, file);
  EXPECT_NE(file, fs::canonical(pulled).string());
}

}  // namespace
}  // namespace linetool::app
