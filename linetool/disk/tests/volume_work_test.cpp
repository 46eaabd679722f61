// The work done on a formatted volume: the write/read test, the preload copy,
// and the daily log.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "linetool/disk/fat32_format.h"
#include "linetool/disk/format_step.h"
#include "linetool/disk/preload_copy.h"
#include "linetool/disk/production_log.h"
#include "linetool/disk/write_read_test.h"
#include "platform/linux/posix_files.h"
#include "tools/testing/scratch_dir.h"
#include "sim_station_fixture.h"

namespace disk_test {
namespace {

using linetool::disk::PreloadCopy;
using linetool::disk::WriteReadTest;
using namespace std::chrono_literals;

// Reports a chosen free space (in MiB), everything else from the simulator;
// runs `before_drop` where the device's cache would be dropped, between the
// write/read test's writing and its read-back.
class RoomOverride final : public platform::Volumes {
 public:
  explicit RoomOverride(platform::Volumes& inner) : inner_(inner) {}
  std::optional<std::uint32_t> free_mib;
  bool unknown = false;
  std::function<void()> before_drop;
  platform::DriveType TypeOf(char l) override { return inner_.TypeOf(l); }
  std::optional<std::string> VolumeName(char l) override { return inner_.VolumeName(l); }
  std::optional<std::vector<platform::DiskExtent>> Extents(const std::string& n) override { return inner_.Extents(n); }
  std::optional<platform::VolumeInformation> Information(char l) override { return inner_.Information(l); }
  bool SetLabel(char l, const std::string& t) override { return inner_.SetLabel(l, t); }
  std::optional<platform::FreeSpace> Free(char l) override {
    if (unknown) return std::nullopt;
    if (!free_mib) return inner_.Free(l);
    // 4 KiB clusters: free clusters / 1024 * 4096 / 1024 = free MiB.
    return platform::FreeSpace{8, 512, *free_mib * 256u, *free_mib * 256u};
  }
  std::string DriveRoot() const override { return inner_.DriveRoot(); }
  bool DropDeviceCache(char l) override {
    if (before_drop) before_drop();
    return inner_.DropDeviceCache(l);
  }
  bool LetterMayAppear(std::uint32_t d) override { return inner_.LetterMayAppear(d); }
  bool UnmountDisk(std::uint32_t d) override { return inner_.UnmountDisk(d); }

 private:
  platform::Volumes& inner_;
};

// Files of another HostFiles, passed through but for the files it opens,
// which the watchers below wrap.
class PassThroughFiles : public platform::HostFiles {
 public:
  explicit PassThroughFiles(platform::HostFiles& inner) : inner_(inner) {}
  bool Exists(const std::string& p) override { return inner_.Exists(p); }
  bool RemoveFile(const std::string& p) override { return inner_.RemoveFile(p); }
  bool CreateFolder(const std::string& p) override { return inner_.CreateFolder(p); }
  bool RemoveFolder(const std::string& p) override { return inner_.RemoveFolder(p); }
  std::optional<std::vector<platform::FolderEntry>> List(const std::string& p) override { return inner_.List(p); }

 protected:
  platform::HostFiles& inner_;
};

// Counts the writes of files and the bytes of each; where asked, the reads
// that must come from the medium hand back one byte changed.
class CountingFiles final : public PassThroughFiles {
 public:
  using PassThroughFiles::PassThroughFiles;
  std::vector<std::size_t> writes;
  std::optional<std::uint64_t> change_read_at;  // file offset of the changed byte
  std::unique_ptr<platform::HostFile> Open(const std::string& p, platform::FileOpen m) override {
    auto f = inner_.Open(p, m);
    if (!f) return f;
    const auto change = m == platform::FileOpen::kReadExistingUncached ? change_read_at : std::nullopt;
    return std::make_unique<File>(std::move(f), writes, change);
  }

 private:
  class File final : public platform::HostFile {
   public:
    File(std::unique_ptr<platform::HostFile> f, std::vector<std::size_t>& w, std::optional<std::uint64_t> change)
        : f_(std::move(f)), w_(w), change_(change) {}
    std::optional<std::uint64_t> Size() override { return f_->Size(); }
    std::optional<std::size_t> ReadAt(std::uint64_t o, std::span<std::uint8_t> d) override {
      const auto n = f_->ReadAt(o, d);
      if (n && change_ && *change_ >= o && *change_ < o + *n) d[*change_ - o] ^= 0x20;
      return n;
    }
    bool WriteAt(std::uint64_t o, std::span<const std::uint8_t> d) override {
      w_.push_back(d.size());
      return f_->WriteAt(o, d);
    }
    bool Flush() override { return f_->Flush(); }

   private:
    std::unique_ptr<platform::HostFile> f_;
    std::vector<std::size_t>& w_;
    std::optional<std::uint64_t> change_;
  };
};

class VolumeWorkTest : public SimStationTest {
 protected:
  // Disk 1 partitioned and formatted FAT32 under E.
  void SetUp() override {
    Build({32 * 1024 * kMiB});
    PrepareVolume(1, 'E');
    linetool::disk::CFat32Format formatter(*disks_, clock_);
    ASSERT_TRUE(formatter.SetTarget('E', 0));
    ASSERT_TRUE(formatter.Format("LINE"));
    ASSERT_EQ(volumes_->Information('E')->file_system, "FAT32");
  }
  linetool::disk::DiskServices With(platform::Volumes& v) {
    linetool::disk::DiskServices s = *services_;
    return linetool::disk::DiskServices{s.disks, v, s.tools, s.files, s.access, s.clock, s.host_workdir, s.polling_allowed, {}};
  }
  linetool::disk::DiskServices With(platform::HostFiles& f) {
    linetool::disk::DiskServices s = *services_;
    return linetool::disk::DiskServices{s.disks, s.volumes, s.tools, f, s.access, s.clock, s.host_workdir, s.polling_allowed, {}};
  }
  std::mutex preload_lock_;
};

TEST_F(VolumeWorkTest, WriteReadTestCyclesAndTheirFailures) {
  MakeFile(fs::path(Workdir()) / "wr.bin", 3 * kMiB + 5, true);
  WriteReadTest test;
  EXPECT_EQ(test.Run(*services_, 'E', "wr.bin", 3 * kMiB + 5, 3), WriteReadTest::Outcome::kPassed);
  EXPECT_EQ(test.CyclesPassed(), 3);
  EXPECT_FALSE(fs::exists(DriveFolder('E') / "wr.bin"));  // deleted after each cycle
  EXPECT_EQ(test.Run(*services_, 'E', "wr.bin", 3 * kMiB + 5, 0), WriteReadTest::Outcome::kPassed);

  EXPECT_EQ(test.Run(*services_, linetool::disk::kNoDriveLetter, "wr.bin", 3 * kMiB + 5, 1),
            WriteReadTest::Outcome::kNoLetter);
  EXPECT_EQ(test.Run(*services_, 'E', "missing.bin", 10, 1), WriteReadTest::Outcome::kReferenceUnusable);

  // The disk hands back something else in the file's last byte.
  set_->SetFaults('E', {.corrupt_reads = true});
  EXPECT_EQ(test.Run(*services_, 'E', "wr.bin", 3 * kMiB + 5, 3), WriteReadTest::Outcome::kMismatch);
  EXPECT_EQ(test.CyclesPassed(), 0);
  EXPECT_TRUE(fs::exists(DriveFolder('E') / "wr.bin"));  // left behind by the failed cycle

  // A full volume: the free-space check stops it before the first cycle.
  set_->SetFaults('E', {.full = true});
  EXPECT_EQ(test.Run(*services_, 'E', "wr.bin", 3 * kMiB + 5, 1), WriteReadTest::Outcome::kTooLittleRoom);
}

TEST_F(VolumeWorkTest, WriteReadTestComparesEveryByteAndStopsCleanlyOnAShortReference) {
  constexpr std::uint32_t kLength = 3 * kMiB + 5;
  MakeFile(fs::path(Workdir()) / "wr.bin", kLength, true);
  CountingFiles files(*files_);
  const auto s = With(files);
  WriteReadTest test;
  // One byte changed on the way back, wherever it lies: first, last of a
  // megabyte, first of the next, the very last.
  for (const std::uint64_t at : {std::uint64_t{0}, std::uint64_t{kMiB - 1}, std::uint64_t{kMiB}, std::uint64_t{kLength - 1}}) {
    files.change_read_at = at;
    EXPECT_EQ(test.Run(s, 'E', "wr.bin", kLength, 1), WriteReadTest::Outcome::kMismatch) << "changed byte at " << at;
  }
  files.change_read_at.reset();
  // What was written is the reference, byte for byte.
  EXPECT_EQ(test.Run(s, 'E', "wr.bin", kLength, 2), WriteReadTest::Outcome::kPassed);
  EXPECT_FALSE(fs::exists(DriveFolder('E') / "wr.bin"));
  files.change_read_at = kLength;  // past the file: nothing changes
  EXPECT_EQ(test.Run(s, 'E', "wr.bin", kLength, 1), WriteReadTest::Outcome::kPassed);

  // The reference shrank after its length was measured: the test fails on
  // reading it, and the writing of the target ends with it.
  fs::resize_file(fs::path(Workdir()) / "wr.bin", 2 * kMiB + 100);
  EXPECT_EQ(test.Run(s, 'E', "wr.bin", kLength, 1), WriteReadTest::Outcome::kReadReference);
  // A longer one: only the measured length takes part.
  MakeFile(fs::path(Workdir()) / "wr.bin", kLength + 1000, true);
  EXPECT_EQ(test.Run(s, 'E', "wr.bin", kLength, 1), WriteReadTest::Outcome::kPassed);
  // An empty reference passes: nothing to write, nothing to compare.
  MakeFile(fs::path(Workdir()) / "empty.bin", 0);
  EXPECT_EQ(test.Run(s, 'E', "empty.bin", 0, 1), WriteReadTest::Outcome::kPassed);
}

TEST_F(VolumeWorkTest, WriteReadTestComparesWithTheReferenceItWrote) {
  constexpr std::uint32_t kLength = 2 * kMiB + 7;
  const fs::path reference = fs::path(Workdir()) / "wr.bin";
  MakeFile(reference, kLength, true);
  RoomOverride hook(*volumes_);
  CountingFiles files(*files_);
  const linetool::disk::DiskServices& d = *services_;
  const linetool::disk::DiskServices s{d.disks, hook, d.tools, files, d.access, d.clock, d.host_workdir, d.polling_allowed, {}};
  WriteReadTest test;
  EXPECT_EQ(test.Run(s, 'E', "wr.bin", kLength, 1), WriteReadTest::Outcome::kPassed);
  // Whole megabytes but the last, so that every write but the tail goes
  // past the cache in whole units.
  EXPECT_EQ(files.writes, (std::vector<std::size_t>{kMiB, kMiB, 7}));

  // The station's file changed while the volume held the copy: the copy no
  // longer matches it, and the test fails rather than pass on bytes it did
  // not write.
  hook.before_drop = [&] {
    std::fstream f(reference, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(kMiB + 3);
    const char c = static_cast<char>(f.get());
    f.seekp(kMiB + 3);
    f.put(static_cast<char>(c ^ 0x01));
  };
  EXPECT_EQ(test.Run(s, 'E', "wr.bin", kLength, 1), WriteReadTest::Outcome::kMismatch);
  EXPECT_TRUE(fs::exists(DriveFolder('E') / "wr.bin"));  // left behind by the failed cycle
  // Gone before the read-back: the compare cannot be made.
  hook.before_drop = [&] { fs::remove(reference); };
  EXPECT_EQ(test.Run(s, 'E', "wr.bin", kLength, 1), WriteReadTest::Outcome::kReadReference);
  EXPECT_EQ(test.CyclesPassed(), 0);
}

TEST_F(VolumeWorkTest, ReferenceFileOfAtMost180MiB) {
  using linetool::disk::CheckReferenceFile;
  using linetool::disk::ReferenceCheck;
  std::uint32_t length = 1;
  MakeFile(fs::path(Workdir()) / "max.bin", 188'743'680);
  EXPECT_EQ(CheckReferenceFile(*services_, "max.bin", length), ReferenceCheck::kOk);
  EXPECT_EQ(length, 188'743'680u);
  MakeFile(fs::path(Workdir()) / "over.bin", 188'743'681);
  EXPECT_EQ(CheckReferenceFile(*services_, "over.bin", length), ReferenceCheck::kTooLarge);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(CheckReferenceFile(*services_, "none.bin", length), ReferenceCheck::kUnusable);
  fs::create_directories(fs::path(Workdir()) / "folder.bin");
  EXPECT_EQ(CheckReferenceFile(*services_, "folder.bin", length), ReferenceCheck::kUnreadable);
}

TEST_F(VolumeWorkTest, WriteReadTestNeedsTenTimesTheFileInRoom) {
  MakeFile(fs::path(Workdir()) / "wr100.bin", 100 * kMiB);
  RoomOverride room(*volumes_);
  const auto s = With(room);
  WriteReadTest test;
  room.free_mib = 999;
  EXPECT_EQ(test.Run(s, 'E', "wr100.bin", 100 * kMiB, 1), WriteReadTest::Outcome::kTooLittleRoom);
  room.free_mib = 1000;
  EXPECT_EQ(test.Run(s, 'E', "wr100.bin", 100 * kMiB, 0), WriteReadTest::Outcome::kPassed);
  room.unknown = true;  // unknown free space: the test runs anyway
  EXPECT_EQ(test.Run(s, 'E', "wr100.bin", 100 * kMiB, 0), WriteReadTest::Outcome::kPassed);
  EXPECT_EQ(linetool::disk::FreeSpaceMiB(room, 'E'), linetool::disk::kUnknownMiB);

  // The write stops where the volume runs out of room.
  MakeFile(fs::path(Workdir()) / "wr1.bin", kMiB);
  set_->SetFaults('E', {.full = true});
  EXPECT_EQ(test.Run(s, 'E', "wr1.bin", kMiB, 1), WriteReadTest::Outcome::kWriteTarget);
}

TEST_F(VolumeWorkTest, PreloadCopiesTheTreeInChunksAndSkipsLinks) {
  const fs::path src = fs::path(Workdir()) / "preload";
  MakeFile(src / "big.img", 150 * kMiB);
  MakeFile(src / "docs" / "a" / "readme.txt", 1000, true);
  fs::create_directories(src / "empty");
  fs::create_symlink(Workdir(), src / "station");                      // a link to a folder
  fs::create_symlink(src / "docs" / "a" / "readme.txt", src / "link.txt");  // and to a file

  CountingFiles counting(*files_);
  const auto s = With(counting);
  PreloadCopy copy;
  linetool::disk::PortDisk port{1, linetool::disk::kNoDriveLetter, 512};
  // A trailing backslash is dropped.
  EXPECT_EQ(copy.Run(s, preload_lock_, port, "preload\\"), PreloadCopy::Outcome::kCopied);
  EXPECT_EQ(port.drive_letter, 'E');
  EXPECT_EQ(fs::file_size(DriveFolder('E') / "big.img"), 150 * kMiB);
  EXPECT_EQ(fs::file_size(DriveFolder('E') / "docs" / "a" / "readme.txt"), 1000u);
  EXPECT_TRUE(fs::is_directory(DriveFolder('E') / "empty"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(DriveFolder('E') / "station")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(DriveFolder('E') / "link.txt")));
  EXPECT_EQ(copy.LastReport().links_skipped, 2u);
  EXPECT_EQ(copy.LastReport().files, 2u);
  std::vector<std::size_t> big;
  for (auto w : counting.writes) {
    if (w >= kMiB) big.push_back(w);
  }
  EXPECT_EQ(big, (std::vector<std::size_t>{64 * kMiB, 64 * kMiB, 22 * kMiB}));
  // The volume is mounted afresh after the copy.
  EXPECT_EQ(linetool::disk::DriveLetterOfDisk(*services_, 1), 'E');

  // The same folder again replaces what is there.
  EXPECT_EQ(copy.Run(*services_, preload_lock_, port, "preload"), PreloadCopy::Outcome::kCopied);
}

TEST_F(VolumeWorkTest, PreloadRefusesBeforeCopyingAndCopiesAnEmptyFolder) {
  linetool::disk::PortDisk port{1, 'E', 512};
  PreloadCopy copy;
  fs::create_directories(fs::path(Workdir()) / "nothing");
  EXPECT_EQ(copy.Run(*services_, preload_lock_, port, "nothing"), PreloadCopy::Outcome::kCopied);
  EXPECT_EQ(copy.LastReport().files, 0u);
  EXPECT_EQ(copy.Run(*services_, preload_lock_, port, "absent"), PreloadCopy::Outcome::kSourceUnusable);

  MakeFile(fs::path(Workdir()) / "twogig" / "image.bin", 2000 * kMiB);
  RoomOverride room(*volumes_);
  room.free_mib = 1999;
  EXPECT_EQ(copy.Run(With(room), preload_lock_, port, "twogig"), PreloadCopy::Outcome::kTooLittleRoom);
  EXPECT_FALSE(fs::exists(DriveFolder('E') / "image.bin"));

  // A volume that fills up during the copy fails the step; the files copied
  // before stay.
  MakeFile(fs::path(Workdir()) / "two" / "a.bin", 10);
  MakeFile(fs::path(Workdir()) / "two" / "b.bin", 10);
  set_->SetFaults('E', {.full = true});
  room.free_mib = 1000;
  EXPECT_EQ(copy.Run(With(room), preload_lock_, port, "two"), PreloadCopy::Outcome::kCopyFailed);

  // No volume on the disk: no letter.
  set_->SetFaults('E', {});
  ASSERT_EQ(tools_->RunScript(" select disk 1\n clean\n"), 0);
  EXPECT_EQ(copy.Run(*services_, preload_lock_, port, "two"), PreloadCopy::Outcome::kNoLetter);
  EXPECT_EQ(port.drive_letter, linetool::disk::kNoDriveLetter);
}

// The log lines as fields (record lines without their CR LF).
std::vector<std::vector<std::string>> Records(const std::string& text) {
  std::vector<std::vector<std::string>> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find("\r\n", start);
    const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::vector<std::string> fields;
    std::size_t f = 0;
    for (auto tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', f)) {
      fields.push_back(line.substr(f, tab - f));
      f = tab + 1;
    }
    fields.push_back(line.substr(f));  // after the last tab: empty
    out.push_back(fields);
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return out;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Watches the files a copy writes: which of them were put on the medium, how
// many were written and not yet flushed at the worst moment, and one path
// whose flush fails when asked.
class FlushWatch final : public PassThroughFiles {
 public:
  using PassThroughFiles::PassThroughFiles;
  std::map<std::string, int> flushes;  // by path, for every file opened to write
  std::size_t unflushed = 0;
  std::size_t most_unflushed = 0;
  std::string failing;
  std::unique_ptr<platform::HostFile> Open(const std::string& p, platform::FileOpen m) override {
    auto f = inner_.Open(p, m);
    if (!f || m == platform::FileOpen::kReadExisting) return f;
    flushes[p] = 0;
    most_unflushed = std::max(most_unflushed, ++unflushed);
    return std::make_unique<File>(std::move(f), *this, p);
  }

 private:
  class File final : public platform::HostFile {
   public:
    File(std::unique_ptr<platform::HostFile> f, FlushWatch& w, std::string p) : f_(std::move(f)), w_(w), p_(std::move(p)) {}
    ~File() override {
      if (w_.flushes[p_] == 0) --w_.unflushed;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    std::optional<std::uint64_t> Size() override { return f_->Size(); }
    std::optional<std::size_t> ReadAt(std::uint64_t o, std::span<std::uint8_t> d) override { return f_->ReadAt(o, d); }
    bool WriteAt(std::uint64_t o, std::span<const std::uint8_t> d) override { return f_->WriteAt(o, d); }
    bool Flush() override {
      if (p_ == w_.failing || !f_->Flush()) return false;
      if (w_.flushes[p_]++ == 0) --w_.unflushed;
      return true;
    }

   private:
    std::unique_ptr<platform::HostFile> f_;
    FlushWatch& w_;
    std::string p_;
  };
};

// The copy on the host's own files, past the cache where the file system
// takes it: every byte arrives, whatever the file's length against the
// direct transfers' units, and every file is on the medium before the copy
// answers, also those of a last batch that is not full.
TEST_F(VolumeWorkTest, PreloadOnHostFilesArrivesWholeAndIsFlushedBeforeItSucceeds) {
  const fs::path root = test_support::ScratchDir("preload_host_files");
  const fs::path src = root / "src", dst = root / "dst";
  const std::uint64_t sizes[] = {0, 1, 4095, 4096, 4097, kMiB + 3, 3 * kMiB};
  std::vector<std::pair<fs::path, std::string>> expected;
  const std::size_t count = 2 * PreloadCopy::kFlushBatch + 5;
  for (std::size_t i = 0; i < count; ++i) {
    std::string bytes(sizes[i % std::size(sizes)], '\0');
    for (std::size_t b = 0; b < bytes.size(); ++b) bytes[b] = static_cast<char>((b * 31 + i * 7 + b / 4096) & 0xFF);
    const fs::path rel = fs::path(i % 2 ? "a" : "b") / ("f" + std::to_string(i) + ".bin");
    fs::create_directories((src / rel).parent_path());
    std::ofstream(src / rel, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    expected.emplace_back(rel, std::move(bytes));
  }
  platform::linux_host::PosixFiles posix;
  FlushWatch watch(posix);
  const auto host = With(watch);
  PreloadCopy copy;
  fs::create_directories(dst);
  ASSERT_TRUE(copy.CopyFolder(host, src.string(), dst.string()));
  EXPECT_EQ(copy.LastReport().files, count);
  EXPECT_EQ(watch.flushes.size(), count);
  for (const auto& [path, n] : watch.flushes) EXPECT_EQ(n, 1) << path;
  EXPECT_LE(watch.most_unflushed, PreloadCopy::kFlushBatch);
  for (const auto& [rel, bytes] : expected) {
    const std::string got = ReadAll(dst / rel);
    EXPECT_TRUE(got == bytes) << rel << ": " << got.size() << " bytes of " << bytes.size();
  }

  // A file that does not reach the medium fails the copy and is named; the
  // files flushed before it count.
  PreloadCopy again;
  watch.failing = (dst / expected[PreloadCopy::kFlushBatch + 2].first).string();
  EXPECT_FALSE(again.CopyFolder(host, src.string(), dst.string()));
  EXPECT_EQ(again.LastReport().failed_path, (src / expected[PreloadCopy::kFlushBatch + 2].first).string());
  EXPECT_LT(again.LastReport().files, count);
}

TEST_F(VolumeWorkTest, DailyLogHeaderOnceAndItsGroups) {
  platform::LocalTime t;
  t.year = 2026;
  t.month = 3;
  t.day = 12;
  t.hour = 9;
  t.minute = 5;
  t.second = 7;
  clock_.SetLocalTime(t);
  linetool::profile::ProfileSettings st{};
  st.config_enable = 1;
  st.config_format = 1;
  std::snprintf(st.vendor_id.data(), 255, "%s", "1234");
  std::snprintf(st.serial_number.data(), 255, "%s", "SN0001");
  st.serial_number_increase = 1;
  st.wr_test_enable = 1;
  std::snprintf(st.wr_test_binary_name.data(), 255, "%s", "wr.bin");
  st.wr_test_count = 3;
  linetool::disk::LogPort port;
  port.slot = 2;
  port.usb_port = 7;
  port.vid = "174C";
  port.drive_number = 3;
  port.drive_letter = 'F';
  port.results = {1, 0, 0, 0, 0, 0, 1};

  ASSERT_TRUE(linetool::disk::WriteLogRecord(*services_, port, st));
  st.config_enable = 0;
  st.wr_test_enable = 0;
  ASSERT_TRUE(linetool::disk::WriteLogRecord(*services_, port, st));

  const std::string text = ReadAll(fs::path(Workdir()) / "20260312.log");
  EXPECT_NE(text.back(), '\n');  // no line break after the last record
  const auto lines = Records(text);
  ASSERT_EQ(lines.size(), 3u);  // header, then one line per record
  ASSERT_EQ(lines[0].size(), 35u);
  EXPECT_EQ(lines[0][0], "Date");
  EXPECT_EQ(lines[0][7], "iManugacturer");
  EXPECT_EQ(lines[0][33], "DoPreloadResult");
  for (const auto& r : {lines[1], lines[2]}) {
    ASSERT_EQ(r.size(), 36u);  // 34 columns, the blank field, then the line's end
    EXPECT_EQ(r[0], "20260312");
    EXPECT_EQ(r[1], "09:05:07");
    EXPECT_EQ(r[2], "02");
    EXPECT_EQ(r[3], "07");
    EXPECT_EQ(r[4], "174C");
    EXPECT_EQ(r[12], "03");
    EXPECT_EQ(r[13], "F");
    EXPECT_EQ(r[20], " ");  // the serial number column is always blank
    EXPECT_EQ(r[23], " ");  // format group off
    EXPECT_EQ(r[30], " ");
    EXPECT_EQ(r[33], " ");  // preload off: its result is not written
    EXPECT_EQ(r[34], " ");
    EXPECT_EQ(r[35], "");
  }
  EXPECT_EQ(lines[1][14], "1");
  EXPECT_EQ(lines[1][15], "1234");
  EXPECT_EQ(lines[1][21], "1");
  EXPECT_EQ(lines[1][25], "wr.bin");
  EXPECT_EQ(lines[1][26], "3");
  EXPECT_EQ(lines[1][27], "PASS");
  EXPECT_EQ(lines[1][32], "FAIL");
  for (int c = 14; c <= 21; ++c) EXPECT_EQ(lines[2][static_cast<std::size_t>(c)], " ") << c;
  EXPECT_EQ(lines[2][27], " ");
  EXPECT_EQ(lines[2][32], " ");

  // A new day starts a new file with its header; an overlong record is cut.
  clock_.Advance(24h);
  std::string long_text(254, 'x');
  port.vid = port.pid = port.product = port.manufacturer = port.serial_number = long_text;
  ASSERT_TRUE(linetool::disk::WriteLogRecord(*services_, port, st));
  const std::string next = ReadAll(fs::path(Workdir()) / "20260313.log");
  EXPECT_EQ(next.size(), linetool::disk::kLogTextLimit);
  EXPECT_EQ(next.rfind("Date\t", 0), 0u);
}

}  // namespace
}  // namespace disk_test
