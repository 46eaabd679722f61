#include "linetool/disk/fat32_format.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "linetool/disk/le_bytes.h"
#include "platform/linux/image_disk.h"
#include "platform/linux/loop_device.h"

namespace fs = std::filesystem;
using linetool::disk::CFat32Format;
using linetool::disk::GetLe16;
using linetool::disk::GetLe32;

namespace {

// A volume kept in memory sector by sector, with the answers and faults a
// test asks for. Records the order of lock, dismount and unlock.
class MemoryVolume final : public platform::DiskDevice {
 public:
  MemoryVolume(std::uint64_t sectors, std::uint32_t bytes_per_sector = 512, std::uint32_t hidden = 0)
      : bps_(bytes_per_sector) {
    partition_.length = sectors * bytes_per_sector;
    partition_.hidden_sectors = hidden;
    partition_.starting_offset = static_cast<std::uint64_t>(hidden) * bytes_per_sector;
    partition_.number = 1;
    partition_.type = 0x07;
  }
  std::optional<platform::DriveGeometry> Geometry() override {
    platform::DriveGeometry g;
    g.bytes_per_sector = bps_;
    g.sectors_per_track = 63;
    g.tracks_per_cylinder = 255;
    return g;
  }
  std::optional<platform::PartitionInfo> PartitionInformation() override { return partition_; }
  std::optional<std::vector<platform::PartitionInfo>> DriveLayout() override {
    return std::vector{partition_};
  }
  bool SetPartitionType(std::uint8_t type) override {
    partition_.type = type;
    return true;
  }
  bool UpdateProperties() override {
    events.push_back("update");
    return true;
  }
  bool Lock() override {
    events.push_back("lock");
    return !refuse_lock;
  }
  bool Dismount() override {
    events.push_back("dismount");
    return true;
  }
  bool Unlock() override {
    events.push_back("unlock");
    return true;
  }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override {
    for (std::size_t i = 0; i < data.size(); i += bps_) {
      auto it = sectors_.find((offset + i) / bps_);
      std::fill_n(data.begin() + static_cast<std::ptrdiff_t>(i), bps_, 0);
      if (it != sectors_.end()) std::copy(it->second.begin(), it->second.end(), data.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return true;
  }
  bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (fail_writes_from && offset >= *fail_writes_from) return false;
    bytes_written += data.size();
    for (std::size_t i = 0; i < data.size(); i += bps_) {
      auto first = data.begin() + static_cast<std::ptrdiff_t>(i);
      if (std::all_of(first, first + bps_, [](std::uint8_t b) { return b == 0; })) {
        sectors_.erase((offset + i) / bps_);
      } else {
        sectors_[(offset + i) / bps_].assign(first, first + bps_);
      }
    }
    return true;
  }
  std::vector<std::uint8_t> Sector(std::uint64_t n) {
    std::vector<std::uint8_t> s(bps_);
    ReadAt(n * bps_, s);
    return s;
  }

  platform::PartitionInfo partition_;
  std::vector<std::string> events;
  bool refuse_lock = false;
  std::optional<std::uint64_t> fail_writes_from;
  std::uint64_t bytes_written = 0;

 private:
  std::uint32_t bps_;
  std::map<std::uint64_t, std::vector<std::uint8_t>> sectors_;
};

class CountingDisks final : public platform::DiskRequests {
 public:
  std::unique_ptr<platform::DiskDevice> Open(const platform::DeviceOpenRequest& request) override {
    opened.push_back(request.name);
    return nullptr;
  }
  std::optional<std::string> InUse(int) override { return std::nullopt; }
  std::vector<std::string> opened;
};

platform::LocalTime SampleTime() {
  platform::LocalTime t;
  t.year = 2026;
  t.month = 3;
  t.day = 12;
  t.hour = 14;
  t.minute = 37;
  t.second = 51;
  t.millisecond = 480;
  return t;
}

class Fat32FormatTest : public ::testing::Test {
 protected:
  Fat32FormatTest() { clock_.SetLocalTime(SampleTime()); }
  platform::ManualClock clock_;
  CountingDisks disks_;
  CFat32Format formatter_{disks_, clock_};
};

}  // namespace

TEST_F(Fat32FormatTest, SizesFollowTheFatFormulaAndClusterTable) {
  // 40,000,000 sectors at 64 per cluster.
  MemoryVolume v(40'000'000);
  ASSERT_TRUE(formatter_.SetTarget('E', 64));
  ASSERT_TRUE(formatter_.FormatDevice(v, "DISK"));
  EXPECT_EQ(formatter_.LastLayout().fat_size, 4882u);
  EXPECT_EQ(formatter_.LastLayout().cluster_count, 624'846u);
  EXPECT_EQ(formatter_.LastLayout().system_area, 32u + 2 * 4882 + 64);

  // 32 GiB at 32 per cluster: the formula's FAT lacks the entry of the last
  // cluster, so it grows by one sector.
  MemoryVolume v32(64ull << 20);
  ASSERT_TRUE(formatter_.SetTarget('E', 32));
  ASSERT_TRUE(formatter_.FormatDevice(v32, "DISK"));
  EXPECT_EQ(CFat32Format::FatSizeSectors(64ull << 20, 32, 512), 16376u);
  EXPECT_EQ(formatter_.LastLayout().fat_size, 16377u);
  EXPECT_GE(formatter_.LastLayout().fat_size * 128ull, formatter_.LastLayout().cluster_count + 2ull);

  // No requested size: 20,000 MiB gets 16 KiB clusters.
  MemoryVolume v20(20'000ull * 2048);
  ASSERT_TRUE(formatter_.SetTarget('E', 0));
  ASSERT_TRUE(formatter_.FormatDevice(v20, "DISK"));
  EXPECT_EQ(formatter_.LastLayout().sectors_per_cluster, 32u);

  // The steps of the size table, at their upper edges and just past them.
  const std::uint64_t mib = 1048576;
  EXPECT_EQ(CFat32Format::DefaultSectorsPerCluster(512 * mib, 512), 1u);
  EXPECT_EQ(CFat32Format::DefaultSectorsPerCluster(513 * mib, 512), 8u);
  EXPECT_EQ(CFat32Format::DefaultSectorsPerCluster(8192 * mib, 512), 8u);
  EXPECT_EQ(CFat32Format::DefaultSectorsPerCluster(8193 * mib, 512), 16u);
  EXPECT_EQ(CFat32Format::DefaultSectorsPerCluster(16385 * mib, 512), 32u);
  EXPECT_EQ(CFat32Format::DefaultSectorsPerCluster(32769 * mib, 512), 64u);
  EXPECT_EQ(CFat32Format::DefaultSectorsPerCluster(32769 * mib, 4096), 8u);
  EXPECT_EQ(CFat32Format::DefaultSectorsPerCluster(513 * mib, 4096), 1u);
}

TEST_F(Fat32FormatTest, WritesTheSystemAreaAsLaidOut) {
  MemoryVolume v(4'000'000, 512, 2048);
  ASSERT_TRUE(formatter_.SetTarget('E', 8));
  ASSERT_TRUE(formatter_.FormatDevice(v, "DISK"));
  const auto& l = formatter_.LastLayout();

  const auto bs = v.Sector(0);
  EXPECT_EQ(std::vector<std::uint8_t>(bs.begin(), bs.begin() + 3), (std::vector<std::uint8_t>{0xEB, 0x5A, 0x90}));
  EXPECT_EQ(std::string(bs.begin() + 3, bs.begin() + 11), "MSWIN4.1");
  EXPECT_EQ(GetLe16(bs, 11), 512);
  EXPECT_EQ(bs[13], 8);
  EXPECT_EQ(GetLe16(bs, 14), 32);
  EXPECT_EQ(bs[16], 2);
  EXPECT_EQ(bs[21], 0xF8);
  EXPECT_EQ(GetLe16(bs, 24), 63);
  EXPECT_EQ(GetLe16(bs, 26), 255);
  EXPECT_EQ(GetLe32(bs, 28), 2048u);
  EXPECT_EQ(GetLe32(bs, 32), 4'000'000u);
  EXPECT_EQ(GetLe32(bs, 36), l.fat_size);
  EXPECT_EQ(GetLe32(bs, 44), 2u);
  EXPECT_EQ(GetLe16(bs, 48), 1);
  EXPECT_EQ(GetLe16(bs, 50), 6);
  EXPECT_EQ(bs[64], 0x80);
  EXPECT_EQ(bs[66], 0x29);
  EXPECT_EQ(GetLe32(bs, 67), l.volume_id);
  EXPECT_EQ(std::string(bs.begin() + 71, bs.begin() + 90), "NO NAME    FAT32   ");
  EXPECT_EQ(bs[510], 0x55);
  EXPECT_EQ(bs[511], 0xAA);
  EXPECT_EQ(v.Sector(6), bs);

  const auto fsi = v.Sector(1);
  EXPECT_EQ(GetLe32(fsi, 0), 0x41615252u);
  EXPECT_EQ(GetLe32(fsi, 484), 0x61417272u);
  EXPECT_EQ(GetLe32(fsi, 488), l.cluster_count - 1);
  EXPECT_EQ(GetLe32(fsi, 492), 3u);
  EXPECT_EQ(GetLe32(fsi, 508), 0xAA550000u);
  EXPECT_EQ(v.Sector(7), fsi);

  for (std::uint64_t fat_start : {32ull, 32ull + l.fat_size}) {
    const auto fat = v.Sector(fat_start);
    EXPECT_EQ(GetLe32(fat, 0), 0x0FFFFFF8u);
    EXPECT_EQ(GetLe32(fat, 4), 0x0FFFFFFFu);
    EXPECT_EQ(GetLe32(fat, 8), 0x0FFFFFFFu);
    EXPECT_EQ(GetLe32(fat, 12), 0u);
  }

  // A four-character label is followed by seven blanks; time and date come
  // from the local time.
  const auto root = v.Sector(32 + 2ull * l.fat_size);
  EXPECT_EQ(std::string(root.begin(), root.begin() + 11), "DISK       ");
  EXPECT_EQ(root[11], 0x08);
  EXPECT_EQ(GetLe16(root, 22), 14 * 2048 + 37 * 32 + 25);
  EXPECT_EQ(GetLe16(root, 24), 46 * 512 + 3 * 32 + 12);
  EXPECT_EQ(GetLe32(root, 26), 0u);
  // Identifier: low = 12 + 3*256 + 48 + 51*256, high = 37 + 14*256 + 2026.
  EXPECT_EQ(l.volume_id, ((37u + 14 * 256 + 2026) << 16) | (12u + 3 * 256 + 48 + 51 * 256));

  EXPECT_EQ(v.partition_.type, 0x0C);
  EXPECT_EQ(v.events, (std::vector<std::string>{"lock", "dismount", "unlock", "update"}));
  // Only the system area and the 4 KiB root block are written.
  EXPECT_EQ(v.bytes_written, (static_cast<std::uint64_t>(l.system_area) + 6 + 8) * 512);
}

TEST_F(Fat32FormatTest, LargeSectorsCarryTheSignatureTwice) {
  MemoryVolume v(1'000'000, 4096);
  ASSERT_TRUE(formatter_.SetTarget('E', 0));
  ASSERT_TRUE(formatter_.FormatDevice(v, "DISK"));
  const auto bs = v.Sector(0);
  EXPECT_EQ(bs[510], 0x55);
  EXPECT_EQ(bs[4094], 0x55);
  EXPECT_EQ(bs[4095], 0xAA);
}

TEST_F(Fat32FormatTest, SectorSizesFat32CannotDescribeAreRefused) {
  // The boot sector keeps bytes per sector in 16 bits, and FAT32 knows 512 to
  // 4,096: 65,536 would be stored as 0 and 8,192 is read by no FAT driver.
  ASSERT_TRUE(formatter_.SetTarget('E', 0));
  for (const std::uint32_t bps : {256u, 768u, 8192u, 65536u}) {
    MemoryVolume v(1'000'000, bps);
    EXPECT_FALSE(formatter_.FormatDevice(v, "DISK")) << bps;
    EXPECT_EQ(formatter_.LastFailure(), CFat32Format::Failure::kSectorSize) << bps;
    EXPECT_EQ(v.bytes_written, 0u) << bps;
    EXPECT_EQ(v.events, (std::vector<std::string>{"lock", "unlock"})) << bps;
  }
  for (const std::uint32_t bps : {1024u, 2048u}) {
    MemoryVolume v(1'000'000, bps);
    EXPECT_TRUE(formatter_.FormatDevice(v, "DISK")) << bps;
    EXPECT_EQ(GetLe16(v.Sector(0), 11), bps);
  }
}

TEST_F(Fat32FormatTest, RefusesWhatCannotBeFormatted) {
  // Drive C: false without opening anything.
  ASSERT_TRUE(formatter_.SetTarget('C', 0));
  EXPECT_FALSE(formatter_.Format("DISK"));
  ASSERT_TRUE(formatter_.SetTarget('c', 0));
  EXPECT_FALSE(formatter_.Format("DISK"));
  EXPECT_TRUE(disks_.opened.empty());

  // Other letters open their volume device.
  ASSERT_TRUE(formatter_.SetTarget('F', 0));
  EXPECT_FALSE(formatter_.Format("DISK"));
  EXPECT_EQ(disks_.opened, std::vector<std::string>{"\\\\.\\F:"});
  EXPECT_EQ(formatter_.LastFailure(), CFat32Format::Failure::kOpen);

  // Cluster sizes above 64 or not a power of two invalidate the target.
  EXPECT_FALSE(formatter_.SetTarget('E', 128));
  EXPECT_EQ(formatter_.DriveLetter(), linetool::disk::kNoDriveLetter);
  EXPECT_FALSE(formatter_.Format("DISK"));
  EXPECT_FALSE(formatter_.SetTarget('E', 24));

  // Below 65,536 sectors, and past the 32-bit sector count.
  ASSERT_TRUE(formatter_.SetTarget('E', 1));
  MemoryVolume small(65'535);
  EXPECT_FALSE(formatter_.FormatDevice(small, "DISK"));
  EXPECT_EQ(formatter_.LastFailure(), CFat32Format::Failure::kSize);
  EXPECT_EQ(small.bytes_written, 0u);
  EXPECT_EQ(small.events, (std::vector<std::string>{"lock", "unlock"}));
  ASSERT_TRUE(formatter_.SetTarget('E', 64));
  MemoryVolume huge(0xFFFFFFFFull);
  EXPECT_FALSE(formatter_.FormatDevice(huge, "DISK"));
  EXPECT_EQ(formatter_.LastFailure(), CFat32Format::Failure::kSize);

  // 65,536 sectors at 64 per cluster would be about a thousand clusters,
  // which no FAT driver reads as FAT32.
  MemoryVolume few(65'536);
  EXPECT_FALSE(formatter_.FormatDevice(few, "DISK"));
  EXPECT_EQ(formatter_.LastFailure(), CFat32Format::Failure::kClusterCount);
}

TEST_F(Fat32FormatTest, DeviceFailuresFailTheFormatAndLeaveItUnlocked) {
  ASSERT_TRUE(formatter_.SetTarget('E', 0));
  MemoryVolume locked(1'000'000);
  locked.refuse_lock = true;
  EXPECT_FALSE(formatter_.FormatDevice(locked, "DISK"));
  EXPECT_EQ(locked.bytes_written, 0u);
  EXPECT_EQ(formatter_.LastFailure(), CFat32Format::Failure::kLock);

  // A write that fails is not reported as a finished format.
  MemoryVolume broken(1'000'000);
  broken.fail_writes_from = 64 * 512;
  EXPECT_FALSE(formatter_.FormatDevice(broken, "DISK"));
  EXPECT_EQ(formatter_.LastFailure(), CFat32Format::Failure::kWrite);
  EXPECT_EQ(broken.events.back(), "update");
  EXPECT_NE(std::find(broken.events.begin(), broken.events.end(), "unlock"), broken.events.end());
}

TEST_F(Fat32FormatTest, ImageFileTakesRoomOnlyForTheSystemArea) {
  // A 64 GiB sparse image: only the system area may take room on the host.
  const fs::path img = fs::temp_directory_path() / ("fat32_img_" + std::to_string(::getpid()) + ".img");
  {
    std::FILE* f = std::fopen(img.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  fs::resize_file(img, 64ull << 30);
  std::string error;
  auto disk = platform::linux_host::ImageDisk::Open(img.string(), error);
  ASSERT_TRUE(disk) << error;
  ASSERT_TRUE(formatter_.SetTarget('E', 64));
  ASSERT_TRUE(formatter_.FormatDevice(*disk, "BIG"));
  disk.reset();
  struct stat st{};
  ASSERT_EQ(::stat(img.c_str(), &st), 0);
  const std::uint64_t allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
  const std::uint64_t system_bytes = static_cast<std::uint64_t>(formatter_.LastLayout().system_area) * 512;
  EXPECT_LE(allocated, system_bytes + (1 << 20));
  fs::remove(img);
}

// Passes every request on to a real disk; the device's own zeroing can be
// turned off, and what it answered is kept.
class ZeroingSwitch final : public platform::DiskDevice {
 public:
  ZeroingSwitch(platform::DiskDevice& disk, bool allow_zeroing) : disk_(disk), allow_(allow_zeroing) {}
  std::optional<platform::DriveGeometry> Geometry() override { return disk_.Geometry(); }
  std::optional<platform::PartitionInfo> PartitionInformation() override { return disk_.PartitionInformation(); }
  std::optional<std::vector<platform::PartitionInfo>> DriveLayout() override { return disk_.DriveLayout(); }
  bool SetPartitionType(std::uint8_t type) override { return disk_.SetPartitionType(type); }
  bool UpdateProperties() override { return disk_.UpdateProperties(); }
  bool Lock() override { return disk_.Lock(); }
  bool Dismount() override { return disk_.Dismount(); }
  bool Unlock() override { return disk_.Unlock(); }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override { return disk_.ReadAt(offset, data); }
  bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    written += data.size();
    return disk_.WriteAt(offset, data);
  }
  bool ZeroRange(std::uint64_t offset, std::uint64_t length) override {
    zeroed = allow_ && disk_.ZeroRange(offset, length);
    return zeroed;
  }
  bool zeroed = false;
  std::uint64_t written = 0;

 private:
  platform::DiskDevice& disk_;
  bool allow_;
};

// A 40 MiB image whose first 2 MiB hold old data (0xA5), as a used disk's do.
class UsedImage {
 public:
  explicit UsedImage(const std::string& tag)
      : path_(fs::temp_directory_path() / ("fat32_used_" + tag + std::to_string(::getpid()) + ".img")) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    const std::vector<char> old(2 << 20, static_cast<char>(0xA5));
    std::fwrite(old.data(), 1, old.size(), f);
    std::fclose(f);
    fs::resize_file(path_, 40ull << 20);
  }
  ~UsedImage() { fs::remove(path_); }
  const fs::path& path() const { return path_; }
  std::vector<char> Bytes() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

 private:
  fs::path path_;
};

TEST_F(Fat32FormatTest, ZeroingByTheDeviceAndWritingZerosGiveTheSameBytes) {
  // At one sector per cluster the two FATs and the root cluster fill some
  // 630 KiB of old data.
  ASSERT_TRUE(formatter_.SetTarget('E', 1));
  std::vector<char> images[2];
  for (bool device_zeroes : {true, false}) {
    UsedImage img(device_zeroes ? "zero" : "write");
    std::string error;
    auto disk = platform::linux_host::ImageDisk::Open(img.path().string(), error);
    ASSERT_TRUE(disk) << error;
    ZeroingSwitch device(*disk, device_zeroes);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    formatter_.on_zero_progress = [&](std::uint64_t done, std::uint64_t total) { progress.emplace_back(done, total); };
    ASSERT_TRUE(formatter_.FormatDevice(device, "SAME"));
    EXPECT_EQ(device.zeroed, device_zeroes);
    // Progress while zeros are written, rising to the whole system area.
    if (device_zeroes) {
      EXPECT_TRUE(progress.empty());
    } else {
      ASSERT_GT(progress.size(), 1u);
      for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_GT(progress[i].first, progress[i - 1].first);
      const std::uint64_t total = static_cast<std::uint64_t>(formatter_.LastLayout().system_area) * 512;
      EXPECT_EQ(progress.back(), std::make_pair(total, total));
    }
    // Only the few sectors with content cross the bus when the device zeroes.
    const std::uint64_t system_bytes = static_cast<std::uint64_t>(formatter_.LastLayout().system_area) * 512;
    if (device_zeroes) {
      EXPECT_LT(device.written, 32u * 1024) << device.written;
    } else {
      EXPECT_GE(device.written, system_bytes);
    }
    disk.reset();
    images[device_zeroes ? 0 : 1] = img.Bytes();
  }
  ASSERT_EQ(images[0].size(), images[1].size());
  EXPECT_TRUE(images[0] == images[1]);
  // The old data past the root directory's first block is left alone by both.
  const std::size_t end = static_cast<std::size_t>(formatter_.LastLayout().first_data_sector) * 512 + 4096;
  ASSERT_LT(end, std::size_t{2} << 20);
  EXPECT_EQ(images[0][end], static_cast<char>(0xA5));
  EXPECT_EQ(images[0][end - 1], 0);

  // A block device zeroes on request too (BLKZEROOUT): a loop device over a
  // used image ends with the same bytes.
  if (const auto why = platform::linux_host::LoopDevicesUnavailable(); !why.empty()) GTEST_SKIP() << why;
  UsedImage img("loop");
  std::string error;
  auto loop = platform::linux_host::LoopDevice::Attach(img.path().string(), error);
  ASSERT_TRUE(loop) << error;
  {
    auto disk = platform::linux_host::ImageDisk::Open(loop->Path(), error);
    ASSERT_TRUE(disk) << error;
    ASSERT_TRUE(disk->is_block_device());
    ZeroingSwitch device(*disk, true);
    ASSERT_TRUE(formatter_.FormatDevice(device, "SAME"));
    EXPECT_TRUE(device.zeroed);
  }
  loop.reset();
  EXPECT_TRUE(img.Bytes() == images[1]);
}
