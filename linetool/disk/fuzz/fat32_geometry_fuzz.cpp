// The FAT32 formatter on a volume of any geometry, partition and cluster
// size: it refuses what FAT32 cannot describe, and what it formats stays
// inside the partition and reads back, as a FAT driver reads a boot sector,
// to the layout it computed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "linetool/disk/fat32_format.h"
#include "linetool/disk/le_bytes.h"
#include "platform/clock.h"
#include "platform/disk_requests.h"
#include "tools/fuzz/fuzz_input.h"

namespace {

using linetool::disk::CFat32Format;

// A volume that keeps the single sectors and root blocks written to it; the
// formatter's runs of zeros are only checked for their place.
class FuzzVolume final : public platform::DiskDevice {
 public:
  platform::DriveGeometry geometry{};
  platform::PartitionInfo partition{};
  std::map<std::uint64_t, std::vector<std::uint8_t>> written;
  int writes = 0;
  bool outside = false;

  std::optional<platform::DriveGeometry> Geometry() override { return geometry; }
  std::optional<platform::PartitionInfo> PartitionInformation() override { return partition; }
  std::optional<std::vector<platform::PartitionInfo>> DriveLayout() override {
    return std::vector<platform::PartitionInfo>{partition};
  }
  bool SetPartitionType(std::uint8_t type) override {
    partition.type = type;
    return true;
  }
  bool UpdateProperties() override { return true; }
  bool Lock() override { return true; }
  bool Dismount() override { return true; }
  bool Unlock() override { return true; }
  bool ReadAt(std::uint64_t, std::span<std::uint8_t> data) override {
    std::fill(data.begin(), data.end(), 0);
    return true;
  }
  bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    ++writes;
    if (offset + data.size() > partition.length || offset + data.size() < offset) outside = true;
    if (data.size() <= 8192) written[offset].assign(data.begin(), data.end());
    return true;
  }
};

class NoDisks final : public platform::DiskRequests {
 public:
  std::unique_ptr<platform::DiskDevice> Open(const platform::DeviceOpenRequest&) override { return nullptr; }
  std::optional<std::string> InUse(int) override { return std::nullopt; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using linetool::disk::GetLe16;
  using linetool::disk::GetLe32;
  fuzz::FuzzInput in(data, size);
  FuzzVolume volume;
  // Mostly the sector sizes disks have, now and then any number.
  static constexpr std::uint32_t kSectorSizes[] = {512, 1024, 2048, 4096, 8192, 65536, 256, 0};
  volume.geometry.bytes_per_sector = in.Flag() ? in.Number<std::uint32_t>() : kSectorSizes[in.Choice(8)];
  volume.geometry.sectors_per_track = in.Number<std::uint32_t>();
  volume.geometry.tracks_per_cylinder = in.Number<std::uint32_t>();
  volume.geometry.cylinders = in.Number<std::uint64_t>();
  volume.partition.length = in.Flag() ? in.Number<std::uint64_t>() : in.Number<std::uint32_t>() * 4096ull;
  volume.partition.hidden_sectors = in.Number<std::uint32_t>();
  const std::uint32_t spc = in.Flag() ? in.Number<std::uint32_t>() : (1u << in.Choice(8)) >> in.Choice(2);
  const std::string label = in.Text(16);

  platform::ManualClock clock;
  NoDisks disks;
  CFat32Format format(disks, clock);
  const bool target = format.SetTarget('E', spc);
  fuzz::Check(target == (spc <= 64 && (spc & (spc - 1)) == 0), "a cluster size taken or refused wrongly");
  if (!target) return 0;
  if (!format.FormatDevice(volume, label)) {
    fuzz::Check(volume.writes == 0, "a refused format wrote to the volume");
    return 0;
  }
  fuzz::Check(!volume.outside, "a format wrote beyond its partition");
  fuzz::Check(volume.partition.type == CFat32Format::kPartitionTypeFat32Lba, "a format left the partition type");
  const auto& layout = format.LastLayout();
  const auto boot = volume.written.find(0);
  fuzz::Check(boot != volume.written.end(), "a format wrote no boot sector");
  const std::vector<std::uint8_t>& bs = boot->second;
  const std::uint32_t bps = GetLe16(bs, 11);
  const std::uint32_t cluster = bs[13];
  const std::uint32_t reserved = GetLe16(bs, 14);
  const std::uint32_t total = GetLe32(bs, 32);
  const std::uint32_t fat_size = GetLe32(bs, 36);
  fuzz::Check(bps == volume.geometry.bytes_per_sector && bps >= 512 && bps <= 4096,
              "the boot sector's sector size is not the volume's");
  fuzz::Check(cluster == layout.sectors_per_cluster && cluster != 0, "the boot sector's cluster size is wrong");
  fuzz::Check(static_cast<std::uint64_t>(total) * bps <= volume.partition.length,
              "the file system is larger than its partition");
  fuzz::Check(fat_size == layout.fat_size && bs[16] == CFat32Format::kNumberOfFats, "the boot sector's FATs are wrong");
  const std::uint64_t clusters = (total - reserved - 2ull * fat_size) / cluster;
  fuzz::Check(clusters == layout.cluster_count, "a FAT driver counts other clusters than the formatter");
  fuzz::Check(clusters >= CFat32Format::kMinimumClusters && clusters <= CFat32Format::kMaximumClusters,
              "a cluster count FAT drivers do not read as FAT32");
  fuzz::Check(static_cast<std::uint64_t>(fat_size) * bps / 4 >= clusters + 2, "a FAT without an entry per cluster");
  fuzz::Check(bs[510] == 0x55 && bs[511] == 0xAA, "a boot sector without its signature");
  return 0;
}
