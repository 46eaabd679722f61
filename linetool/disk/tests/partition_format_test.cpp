#include <gtest/gtest.h>

#include <map>

#include "linetool/disk/disk_queries.h"
#include "linetool/disk/format_step.h"
#include "linetool/disk/le_bytes.h"
#include "linetool/disk/partition_step.h"
#include "sim_station_fixture.h"

namespace disk_test {
namespace {

using linetool::disk::CFat32Format;
using linetool::disk::FormatStep;
using linetool::disk::kNoDriveLetter;
using linetool::disk::PartitionStep;
using linetool::disk::PortDisk;
using namespace std::chrono_literals;

class PartitionFormatTest : public SimStationTest {
 protected:
  std::vector<std::uint8_t> Mbr(int drive) {
    std::vector<std::uint8_t> s(512);
    EXPECT_TRUE(world_->DiskImage(drive)->Read(0, s));
    return s;
  }
  linetool::profile::ProfileSettings Settings(std::uint8_t fat32, const char* label) {
    linetool::profile::ProfileSettings st{};
    st.format_enable = 1;
    st.format_drive_type = fat32;
    std::snprintf(st.drive_label_name.data(), st.drive_label_name.size(), "%s", label);
    return st;
  }
  std::mutex partition_lock_;
};

TEST(PartitionScript, TextNameAndParameters) {
  EXPECT_EQ(PartitionStep::ScriptName(3), "DiskPartTarget3.sc");
  EXPECT_EQ(PartitionStep::ToolParameters(3), " /s DiskPartTarget3.sc");
  EXPECT_EQ(PartitionStep::ScriptText(3, 'G'),
            " list disk\n select disk 3\n clean \ncreate partition primary \n active\n select partition 1\n"
            " assign letter=G\n");
  EXPECT_EQ(FormatStep::FormatParameters('G', "NTFS"), " G:/Q /FS:NTFS /y");
  EXPECT_EQ(FormatStep::LabelParameters('G', "SHIP01"), "G: SHIP01");
}

TEST(PartitionScript, RealignsOnlyAnActiveFirstPartitionAtSector63) {
  std::vector<std::uint8_t> s(512, 0);
  s[510] = 0x55;
  s[511] = 0xAA;
  s[446] = 0x80;
  linetool::disk::PutLe32(s, 454, 63);
  linetool::disk::PutLe32(s, 458, 1'953'520'002);
  auto inactive = s;
  inactive[446] = 0;
  auto unsigned_sector = s;
  unsigned_sector[511] = 0;
  EXPECT_FALSE(PartitionStep::RealignFirstPartition(inactive));
  EXPECT_FALSE(PartitionStep::RealignFirstPartition(unsigned_sector));
  ASSERT_TRUE(PartitionStep::RealignFirstPartition(s));
  EXPECT_EQ(linetool::disk::GetLe32(s, 454), 64u);
  EXPECT_EQ(linetool::disk::GetLe32(s, 458), 1'953'520'000u);
  EXPECT_FALSE(PartitionStep::RealignFirstPartition(s));  // now at 64
}

TEST(FormatChoice, FileSystemAndClusterSizeByDiskSize) {
  using linetool::disk::SizeClass;
  using linetool::disk::SizeClassOf;
  EXPECT_EQ(SizeClassOf(0x7FFFFF), SizeClass::kSmall);
  EXPECT_EQ(SizeClassOf(0x800000), SizeClass::kLarge);
  EXPECT_EQ(SizeClassOf(linetool::disk::kUnknownMiB), SizeClass::kUnknown);
  EXPECT_STREQ(FormatStep::FileSystemFor(SizeClass::kLarge, 1), "NTFS");
  EXPECT_STREQ(FormatStep::FileSystemFor(SizeClass::kSmall, 1), "FAT32");
  EXPECT_STREQ(FormatStep::FileSystemFor(SizeClass::kSmall, 0), "NTFS");
  EXPECT_EQ(FormatStep::FatSectorsPerCluster(100'000), 16u);
  EXPECT_EQ(FormatStep::FatSectorsPerCluster(140'288), 16u);
  EXPECT_EQ(FormatStep::FatSectorsPerCluster(140'289), 32u);
  EXPECT_EQ(FormatStep::FatSectorsPerCluster(250'000), 32u);
  EXPECT_EQ(FormatStep::FatSectorsPerCluster(280'577), 64u);
  EXPECT_EQ(FormatStep::FatSectorsPerCluster(0), 64u);
  EXPECT_EQ(FormatStep::FatSectorsPerCluster(linetool::disk::kUnknownMiB), 64u);
  // Disks of 4,096-byte sectors get clusters of the same bytes.
  EXPECT_EQ(FormatStep::FatSectorsPerCluster(100'000, 4096), 2u);
  EXPECT_EQ(FormatStep::FatSectorsPerCluster(250'000, 4096), 4u);
  EXPECT_EQ(FormatStep::FatSectorsPerCluster(280'577, 4096), 8u);
  EXPECT_EQ(FormatStep::FatSectorsPerCluster(0, 4096), 8u);
}

TEST_F(PartitionFormatTest, DriveLettersFromEToZAndByDisk) {
  Build({32 * 1024 * kMiB, 32 * 1024 * kMiB, 32 * 1024 * kMiB});
  EXPECT_EQ(linetool::disk::FreeDriveLetter(*volumes_), 'E');
  PrepareVolume(2, 'E');
  PrepareVolume(3, 'G');
  EXPECT_EQ(linetool::disk::FreeDriveLetter(*volumes_), 'F');
  EXPECT_EQ(linetool::disk::DriveLetterOfDisk(*services_, 3), 'G');
  EXPECT_EQ(linetool::disk::DriveLetterOfDisk(*services_, 0), 'C');

  // A disk without a volume: five looks, one second apart.
  const auto before = clock_.Now();
  EXPECT_EQ(linetool::disk::DriveLetterOfDisk(*services_, 1), kNoDriveLetter);
  EXPECT_EQ(clock_.Now() - before, 4000ms);
}

// The partitioning tool does its work but ends with a failure, as sfdisk's
// table check does when the kernel kept the old partitions.
class FailingTools final : public platform::SystemTools {
 public:
  explicit FailingTools(platform::SystemTools& inner) : inner_(inner) {}
  class Failed final : public platform::ToolProcess {
   public:
    explicit Failed(std::unique_ptr<platform::ToolProcess> p) : p_(std::move(p)) {}
    bool Wait(std::chrono::milliseconds t) override { return p_->Wait(t); }
    int ExitCode() const override { return 1; }
    std::string FailureText() const override { return "the kernel kept sdb1 at 63 + 1000 sectors"; }

   private:
    std::unique_ptr<platform::ToolProcess> p_;
  };
  std::unique_ptr<platform::ToolProcess> Launch(const std::string& program, const std::string& parameters) override {
    auto p = inner_.Launch(program, parameters);
    return p ? std::make_unique<Failed>(std::move(p)) : nullptr;
  }

 private:
  platform::SystemTools& inner_;
};

TEST_F(PartitionFormatTest, AFailedPartitioningToolFailsTheStepWithItsReasonThoughTheTableReads) {
  Build({32 * 1024 * kMiB});
  FailingTools tools(*tools_);
  const linetool::disk::DiskServices s{*disks_, *volumes_, tools, *files_, access_, clock_, Workdir(), &polling_, {}};
  PartitionStep step;
  PortDisk port{1, kNoDriveLetter, 512};
  EXPECT_FALSE(step.Run(s, partition_lock_, port));
  EXPECT_EQ(step.LastFailure(), PartitionStep::Failure::kLaunch);
  EXPECT_EQ(step.Launches(), PartitionStep::kMaxLaunches);
  EXPECT_EQ(step.Reason(), "the partitioning tool failed 3 times: the kernel kept sdb1 at 63 + 1000 sectors");
  EXPECT_TRUE(linetool::disk::PartitionNumber(*disks_, 1).has_value());  // the table itself reads well
}

// Answers only the drive type of each letter.
class DriveTypes final : public platform::Volumes {
 public:
  std::map<char, platform::DriveType> types;
  platform::DriveType TypeOf(char l) override {
    auto it = types.find(l);
    return it == types.end() ? platform::DriveType::kNoRootDir : it->second;
  }
  std::optional<std::string> VolumeName(char) override { return std::nullopt; }
  std::optional<std::vector<platform::DiskExtent>> Extents(const std::string&) override { return std::nullopt; }
  std::optional<platform::VolumeInformation> Information(char) override { return std::nullopt; }
  bool SetLabel(char, const std::string&) override { return false; }
  std::optional<platform::FreeSpace> Free(char) override { return std::nullopt; }
  std::string DriveRoot() const override { return "/nonexistent"; }
  bool UnmountDisk(std::uint32_t) override { return true; }
};

// Letters only the station gives: a disk without one shows none, and the
// refresh of 16 bridges does not wait four seconds for each.
class StationLetters final : public platform::Volumes {
 public:
  std::map<char, std::uint32_t> disk_of;  // letter -> disk of its volume
  int looks = 0;
  platform::DriveType TypeOf(char l) override {
    return disk_of.count(l) ? platform::DriveType::kFixed : platform::DriveType::kNoRootDir;
  }
  std::optional<std::string> VolumeName(char l) override {
    ++looks;
    if (!disk_of.count(l)) return std::nullopt;
    return std::string(1, l);
  }
  std::optional<std::vector<platform::DiskExtent>> Extents(const std::string& n) override {
    return std::vector<platform::DiskExtent>{{disk_of.at(n[0]), 1048576, 1048576}};
  }
  std::optional<platform::VolumeInformation> Information(char) override { return std::nullopt; }
  bool SetLabel(char, const std::string&) override { return false; }
  std::optional<platform::FreeSpace> Free(char) override { return std::nullopt; }
  std::string DriveRoot() const override { return "/nonexistent"; }
  bool LetterMayAppear(std::uint32_t disk) override {
    for (const auto& [l, d] : disk_of)
      if (d == disk) return true;
    return false;
  }
  bool UnmountDisk(std::uint32_t) override { return true; }
};

TEST_F(PartitionFormatTest, DriveLetterOfDiskAnswersAtOnceWhereNoLetterCanAppear) {
  Build({32 * 1024 * kMiB});
  StationLetters v;
  v.disk_of = {{'E', 2}};
  const linetool::disk::DiskServices s{*disks_, v, *tools_, *files_, access_, clock_, Workdir(), nullptr, {}};
  const auto before = clock_.Now();
  EXPECT_EQ(linetool::disk::DriveLetterOfDisk(s, 2), 'E');
  EXPECT_EQ(linetool::disk::DriveLetterOfDisk(s, 3), kNoDriveLetter);
  EXPECT_EQ(clock_.Now(), before);
  EXPECT_EQ(v.looks, 3 + 24);  // C to E, then C to Z once
}

TEST(FreeDriveLetter, EveryKindOfVolumeTakesItsLetter) {
  DriveTypes v;
  using T = platform::DriveType;
  v.types = {{'E', T::kRemovable}, {'F', T::kRemote}, {'G', T::kCdRom}, {'H', T::kRamDisk}, {'I', T::kUnknown}};
  EXPECT_EQ(linetool::disk::FreeDriveLetter(v), 'I');  // an unknown kind counts as free
  for (char l = 'E'; l <= 'Z'; ++l) v.types[l] = T::kFixed;
  v.types['D'] = T::kNoRootDir;  // below E does not count
  EXPECT_EQ(linetool::disk::FreeDriveLetter(v), kNoDriveLetter);
}

TEST_F(PartitionFormatTest, PartitionsTheDiskUnderAFreeLetterAndNeverDriveZero) {
  Build({32 * 1024 * kMiB, 64 * 1024 * kMiB});
  PrepareVolume(2, 'E');
  PartitionStep step;

  // Drive 0 is the system's disk: no script, no tool.
  PortDisk system{0, kNoDriveLetter, 512};
  EXPECT_FALSE(step.Run(*services_, partition_lock_, system));
  EXPECT_EQ(step.LastFailure(), PartitionStep::Failure::kSystemDisk);
  EXPECT_TRUE(tools_->Launches().empty());

  PortDisk port{1, kNoDriveLetter, 512};
  ASSERT_TRUE(step.Run(*services_, partition_lock_, port));
  EXPECT_EQ(port.drive_letter, 'F');
  EXPECT_EQ(tools_->Launches(), std::vector<std::string>{"diskpart.exe  /s DiskPartTarget1.sc"});
  EXPECT_FALSE(fs::exists(fs::path(Workdir()) / "DiskPartTarget1.sc"));
  EXPECT_TRUE(polling_.load());
  // One active primary partition from 1 MiB to the end, under F.
  const auto mbr = Mbr(1);
  EXPECT_EQ(mbr[446], 0x80);
  EXPECT_EQ(linetool::disk::GetLe32(mbr, 454), 2048u);
  EXPECT_EQ(linetool::disk::GetLe32(mbr, 458), 32u * 1024 * 2048 - 2048);
  EXPECT_EQ(linetool::disk::DriveLetterOfDisk(*services_, 1), 'F');
}

TEST_F(PartitionFormatTest, RealignsAPartitionAtSector63AndWaitsForTheVolume) {
  Build({(1'953'520'002ull + 63) * 512});
  set_->SetAlignment(63);
  set_->SetReturnDelay(3000ms);
  PartitionStep step;
  PortDisk port{1, 'H', 512};
  const auto before = clock_.Now();
  ASSERT_TRUE(step.Run(*services_, partition_lock_, port));
  const auto mbr = Mbr(1);
  EXPECT_EQ(linetool::disk::GetLe32(mbr, 454), 64u);
  EXPECT_EQ(linetool::disk::GetLe32(mbr, 458), 1'953'520'000u);
  EXPECT_GE(clock_.Now() - before, 3000ms);
  EXPECT_LT(clock_.Now() - before, 4000ms);
}

TEST_F(PartitionFormatTest, PartitionFailsWhenTheToolOrTheVolumeDoNotAnswer) {
  Build({32 * 1024 * kMiB});
  PartitionStep step;
  PortDisk port{1, 'E', 512};

  // Two launches fail; the third one works.
  tools_->FailLaunches(2);
  EXPECT_TRUE(step.Run(*services_, partition_lock_, port));
  EXPECT_EQ(step.Launches(), 3);

  // The layout cannot be read after the tool: three launches in all, then false.
  set_->SetLayoutUnreadable(1, true);
  const auto launched = tools_->Launches().size();
  EXPECT_FALSE(step.Run(*services_, partition_lock_, port));
  EXPECT_EQ(step.LastFailure(), PartitionStep::Failure::kLaunch);
  EXPECT_EQ(tools_->Launches().size() - launched, 3u);
  set_->SetLayoutUnreadable(1, false);

  // The volume never comes back after the boot sector is written: the step
  // gives up after its bound instead of waiting for ever.
  set_->SetReturnDelay(std::nullopt);
  const auto before = clock_.Now();
  EXPECT_FALSE(step.Run(*services_, partition_lock_, port));
  EXPECT_EQ(step.LastFailure(), PartitionStep::Failure::kVolumeNotBack);
  EXPECT_GE(clock_.Now() - before, PartitionStep::kVolumeReturnLimit);
  EXPECT_LT(clock_.Now() - before, PartitionStep::kVolumeReturnLimit + 1s);
  EXPECT_TRUE(polling_.load());
}

TEST_F(PartitionFormatTest, FormatsFat32WithClusterSizeByDiskSize) {
  Build({100'000 * kMiB, 250'000 * kMiB});
  CFat32Format formatter(*disks_, clock_);
  FormatStep step;
  for (auto [drive, letter, spc] : {std::tuple{1, 'E', 16}, std::tuple{2, 'F', 32}}) {
    PrepareVolume(drive, letter);
    ASSERT_TRUE(step.Run(*services_, formatter, Settings(1, "Ship01"), PortDisk{drive, letter, 512}));
    EXPECT_EQ(step.FileSystem(), "FAT32");
    EXPECT_EQ(step.Attempts(), 1);
    const auto info = volumes_->Information(letter);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->file_system, "FAT32");
    EXPECT_EQ(info->label, "Ship01");
    std::vector<std::uint8_t> boot(512);
    ASSERT_TRUE(world_->DiskImage(drive)->Read(2048 * 512, boot));
    EXPECT_EQ(boot[13], spc);
    EXPECT_EQ(Mbr(drive)[446 + 4], 0x0C);  // partition type FAT32 (LBA)
  }
  EXPECT_TRUE(tools_->Launches().empty());  // FAT32 needs no system tool
  EXPECT_TRUE(step.Reason().empty());
}

TEST_F(PartitionFormatTest, ADiskTooSmallForFat32ClustersFailsWithTheFigures) {
  // 60 MiB at 8 KiB clusters is some 7,600 clusters: FAT drivers would read
  // such a volume as FAT16, so nothing is written and the step says why.
  Build({60 * kMiB});
  CFat32Format formatter(*disks_, clock_);
  FormatStep step;
  PrepareVolume(1, 'E');
  EXPECT_FALSE(step.Run(*services_, formatter, Settings(1, "SMALL"), PortDisk{1, 'E', 512}));
  EXPECT_EQ(formatter.LastFailure(), CFat32Format::Failure::kClusterCount);
  EXPECT_EQ(step.Reason(), "FAT32: " + formatter.FailureText());
  EXPECT_NE(step.Reason().find(" clusters of 16 sectors; FAT32 needs 65,525"), std::string::npos) << step.Reason();
  EXPECT_EQ(step.Reason().find("0 clusters"), std::string::npos) << step.Reason();
}

TEST_F(PartitionFormatTest, LargeDisksGetNtfsAndTheLabelIsReadBack) {
  Build({8ull << 40, 64 * 1024 * kMiB});
  CFat32Format formatter(*disks_, clock_);
  FormatStep step;
  PrepareVolume(1, 'E');
  // FAT32 asked for, but 8 TiB is NTFS.
  ASSERT_TRUE(step.Run(*services_, formatter, Settings(1, "BIGONE"), PortDisk{1, 'E', 512}));
  EXPECT_EQ(step.FileSystem(), "NTFS");
  EXPECT_EQ(tools_->Launches().back(), "format.com  E:/Q /FS:NTFS /y");
  EXPECT_EQ(volumes_->Information('E')->label, "BIGONE");

  // The label call fails and so does the label tool: both attempts fail.
  PrepareVolume(2, 'F');
  set_->SetFaults('F', {.label_fails = true});
  const auto launched = tools_->Launches().size();
  EXPECT_FALSE(step.Run(*services_, formatter, Settings(0, "NOLABEL"), PortDisk{2, 'F', 512}));
  EXPECT_EQ(step.Attempts(), 2);
  const auto launches = tools_->Launches();
  EXPECT_EQ(std::vector<std::string>(launches.begin() + static_cast<std::ptrdiff_t>(launched), launches.end()),
            (std::vector<std::string>{"format.com  F:/Q /FS:NTFS /y", "label.exe F: NOLABEL",
                                      "format.com  F:/Q /FS:NTFS /y", "label.exe F: NOLABEL"}));
  // Why the last attempt failed is kept for the operator: the volume as it
  // reads back, or the format tool that could not be started.
  EXPECT_EQ(step.Reason().rfind("the volume reads back as NTFS labelled \"", 0), 0u) << step.Reason();
  EXPECT_EQ(step.Reason().find("NOLABEL"), std::string::npos) << step.Reason();
  tools_->FailLaunches(4);
  EXPECT_FALSE(step.Run(*services_, formatter, Settings(0, "NOLABEL"), PortDisk{2, 'F', 512}));
  EXPECT_EQ(step.Reason(), "NTFS: the format tool could not be started");
  set_->SetFaults('F', {});
  ASSERT_TRUE(step.Run(*services_, formatter, Settings(0, "NOLABEL"), PortDisk{2, 'F', 512}));
  EXPECT_TRUE(step.Reason().empty()) << step.Reason();
}

TEST_F(PartitionFormatTest, ADiskTheSystemUsesIsRefusedWithItsReasonAndLeftAlone) {
  Build({32 * 1024 * kMiB, 64 * 1024 * kMiB});
  PrepareVolume(1, 'E');
  const auto before = Mbr(1);
  world_->DiskImage(1)->SetInUse("sdb1 is mounted at /home");
  PartitionStep step;
  PortDisk port{1, 'E', 512};
  EXPECT_FALSE(step.Run(*services_, partition_lock_, port));
  EXPECT_EQ(step.LastFailure(), PartitionStep::Failure::kDiskInUse);
  EXPECT_EQ(step.Reason(), "refused: sdb1 is mounted at /home");
  EXPECT_TRUE(tools_->Launches().empty());
  EXPECT_EQ(Mbr(1), before);
  EXPECT_TRUE(polling_.load());

  // Its neighbour is partitioned, and a disk the system lets go is again.
  PortDisk other{2, kNoDriveLetter, 512};
  EXPECT_TRUE(step.Run(*services_, partition_lock_, other));
  EXPECT_TRUE(step.Reason().empty());
  world_->DiskImage(1)->SetInUse({});
  EXPECT_TRUE(step.Run(*services_, partition_lock_, port));
}

TEST_F(PartitionFormatTest, DiskOf4096ByteSectorsIsPartitionedAndFormattedInItsOwnSectors) {
  Build({100'000 * kMiB}, {4096});
  PartitionStep partition;
  PortDisk port{1, kNoDriveLetter, 4096};
  ASSERT_TRUE(partition.Run(*services_, partition_lock_, port)) << static_cast<int>(partition.LastFailure());
  // The partition table counts 4,096-byte sectors: 1 MiB is sector 256.
  std::vector<std::uint8_t> mbr(4096);
  ASSERT_TRUE(world_->DiskImage(1)->Read(0, mbr));
  EXPECT_EQ(linetool::disk::GetLe32(mbr, 454), 256u);
  EXPECT_EQ(linetool::disk::GetLe32(mbr, 458), 100'000u * 256 - 256);
  EXPECT_EQ(mbr[446], 0x80);

  FormatStep format;
  CFat32Format formatter(*disks_, clock_);
  ASSERT_TRUE(format.Run(*services_, formatter, Settings(1, "SHIP4K"), port));
  EXPECT_EQ(format.FileSystem(), "FAT32");
  EXPECT_EQ(formatter.LastLayout().bytes_per_sector, 4096u);
  EXPECT_EQ(formatter.LastLayout().sectors_per_cluster, 2u);  // 8 KiB, as on a disk of 512-byte sectors
  std::vector<std::uint8_t> boot(4096);
  ASSERT_TRUE(world_->DiskImage(1)->Read(256ull * 4096, boot));
  EXPECT_EQ(linetool::disk::GetLe16(boot, 11), 4096u);
  EXPECT_EQ(boot[4094], 0x55);
  EXPECT_EQ(boot[4095], 0xAA);
  const auto info = volumes_->Information(port.drive_letter);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->label, "SHIP4K");
  EXPECT_EQ(linetool::disk::DiskSizeMiB(*disks_, 1), 100'000u);
}

TEST_F(PartitionFormatTest, NeverFormatsDriveCNorAPortWithoutLetter) {
  Build({32 * 1024 * kMiB});
  CFat32Format formatter(*disks_, clock_);
  FormatStep step;
  EXPECT_FALSE(step.Run(*services_, formatter, Settings(0, "X"), PortDisk{1, 'C', 512}));
  EXPECT_FALSE(step.Run(*services_, formatter, Settings(1, "X"), PortDisk{1, 'c', 512}));
  EXPECT_FALSE(step.Run(*services_, formatter, Settings(0, "X"), PortDisk{1, kNoDriveLetter, 512}));
  EXPECT_TRUE(tools_->Launches().empty());
  EXPECT_EQ(volumes_->Information('C')->file_system, "NTFS");
}

}  // namespace
}  // namespace disk_test
