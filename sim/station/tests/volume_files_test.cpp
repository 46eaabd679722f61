#include "sim/station/sim_volume_files.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <random>

#include "sim/station/sim_volume_set.h"
#include "sim/station/station_world.h"

namespace sim::station {
namespace {

namespace fs = std::filesystem;

// One bridge whose disk holds an NTFS volume E.
class PulledVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("sim_volume_files_" + std::to_string(rd()));
    world_ = std::make_unique<StationWorld>(DefaultWorld(1), clock_, root_ / "disks");
    set_ = &SimVolumeSet::AttachTo(*world_, root_ / "drives");
    ASSERT_TRUE(set_->CreatePrimaryPartition(1));
    ASSERT_TRUE(set_->AssignLetter(1, 'E'));
    ASSERT_TRUE(set_->FormatNtfs('E'));
    fs::create_directories(set_->FolderOf('E'));
  }
  void TearDown() override {
    world_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string OnE(const std::string& name) const { return (set_->FolderOf('E') / name).string(); }

  fs::path root_;
  platform::ManualClock clock_;
  std::unique_ptr<StationWorld> world_;
  SimVolumeSet* set_ = nullptr;
};

TEST_F(PulledVolumeTest, OpenFilesFailOnceTheBridgeIsPulledAndNewOpensAreRefused) {
  SimVolumeFiles files(*set_);
  const std::array<std::uint8_t, 4> bytes{1, 2, 3, 4};
  std::array<std::uint8_t, 4> back{};
  auto file = files.Open(OnE("a.bin"), platform::FileOpen::kOpenAlways);
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->WriteAt(0, bytes));
  ASSERT_TRUE(file->Flush());

  world_->Unplug(0);
  EXPECT_FALSE(file->WriteAt(4, bytes));
  EXPECT_FALSE(file->ReadAt(0, back).has_value());
  EXPECT_FALSE(file->Size().has_value());
  EXPECT_FALSE(file->Flush());
  EXPECT_FALSE(files.Open(OnE("a.bin"), platform::FileOpen::kReadExisting));

  // Plugged in again, the volume is there with what was written before.
  world_->Plug(0);
  auto again = files.Open(OnE("a.bin"), platform::FileOpen::kReadExisting);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Size(), 4u);
}

TEST_F(PulledVolumeTest, PulledAtTheNthWriteFailsThatWriteAndTakesTheBridgeOff) {
  SimVolumeFiles files(*set_);
  VolumeFaults faults;
  faults.pulled_at_write = 3;
  set_->SetFaults('E', faults);
  const std::array<std::uint8_t, 4> bytes{1, 2, 3, 4};
  auto file = files.Open(OnE("b.bin"), platform::FileOpen::kCreateAlways);
  ASSERT_TRUE(file);
  EXPECT_TRUE(file->WriteAt(0, bytes));
  EXPECT_TRUE(file->WriteAt(4, bytes));
  EXPECT_TRUE(world_->Online(0));
  EXPECT_FALSE(file->WriteAt(8, bytes));
  EXPECT_FALSE(world_->Online(0));
  EXPECT_FALSE(set_->MountedDisk('E').has_value());
  EXPECT_FALSE(file->WriteAt(8, bytes));

  // Set again, the count starts over.
  world_->Plug(0);
  set_->SetFaults('E', faults);
  auto other = files.Open(OnE("c.bin"), platform::FileOpen::kCreateAlways);
  ASSERT_TRUE(other);
  EXPECT_TRUE(other->WriteAt(0, bytes));
  EXPECT_TRUE(world_->Online(0));
}

}  // namespace
}  // namespace sim::station
