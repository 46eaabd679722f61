#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/replace_file.h"
#include "tools/testing/scratch_dir.h"

namespace fs = std::filesystem;
using platform::ReplaceFile;
using platform::WriteOutcome;

namespace {

fs::path FreshDir() {
  return test_support::ScratchDir("platform_replace_" +
                                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
}

std::string Content(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::size_t EntriesIn(const fs::path& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

}  // namespace

TEST(ReplaceFile, NewAndOldFilesAreReplacedWholeWithNothingLeftBeside) {
  const auto dir = FreshDir();
  const auto file = dir / "out.bin";
  EXPECT_EQ(ReplaceFile(file.string(), std::string_view("first")), WriteOutcome::kWritten);
  EXPECT_EQ(Content(file), "first");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::uint8_t bytes[] = {0, 1, 2};
  EXPECT_EQ(ReplaceFile(file.string(), std::span<const std::uint8_t>(bytes)), WriteOutcome::kWritten);
  EXPECT_EQ(Content(file), std::string("\0\1\2", 3));
  // The replaced file keeps the permissions it had, and no temporary stays.
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(EntriesIn(dir), 1u);

  EXPECT_EQ(ReplaceFile((dir / "no" / "out.bin").string(), std::string_view("x")), WriteOutcome::kFolderMissing);
  EXPECT_EQ(EntriesIn(dir), 1u);

  // A failed write (here: no room in a 250-character name for the
  // temporary's suffix) leaves the old file as it was.
  const auto long_name = dir / (std::string(246, 'n') + ".bin");
  std::ofstream(long_name) << "old";
  EXPECT_EQ(ReplaceFile(long_name.string(), std::string_view("new")), WriteOutcome::kFailed);
  EXPECT_EQ(Content(long_name), "old");
  EXPECT_EQ(EntriesIn(dir), 2u);
}

TEST(ReplaceFile, FollowsLinksAndWritesDevicesInPlace) {
  const auto dir = FreshDir();
  fs::create_directories(dir / "real");
  const auto target = dir / "real" / "image.bin";
  std::ofstream(target) << "old";
  fs::create_symlink(target, dir / "link.bin");
  EXPECT_EQ(ReplaceFile((dir / "link.bin").string(), std::string_view("new")), WriteOutcome::kWritten);
  EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
  EXPECT_EQ(Content(target), "new");
  EXPECT_EQ(EntriesIn(dir / "real"), 1u);

  // Renaming over a pipe or a device (-o /dev/stdout) would put a plain file
  // in its place: such a target is written in place.
  const auto fifo = dir / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDWR | O_NONBLOCK);  // keeps the writer's open from blocking
  ASSERT_GE(reader, 0);
  EXPECT_EQ(ReplaceFile(fifo.string(), std::string_view("through")), WriteOutcome::kWritten);
  char got[16] = {};
  EXPECT_EQ(read(reader, got, sizeof got), 7);
  EXPECT_EQ(std::string(got), "through");
  close(reader);
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST(ReplaceFile, AWriterKilledWhileTheDataGoLeavesNothingBesideTheTarget) {
  const auto dir = FreshDir();
  const auto file = dir / "image.bin";
  std::ofstream(file) << "old";
  // A writer of 192 MiB is killed a moment after it began, many times: the
  // folder then holds the old file or the new one, and nothing else.
  const std::string big(192u << 20, 'n');
  int cut_mid_write = 0;
  for (int round = 0; round < 6; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      const char go = 1;
      if (write(ready[1], &go, 1) != 1) _exit(2);
      _exit(ReplaceFile(file.string(), big) == WriteOutcome::kWritten ? 0 : 1);
    }
    close(ready[1]);
    char go = 0;
    ASSERT_EQ(read(ready[0], &go, 1), 1);
    close(ready[0]);
    usleep(static_cast<useconds_t>(2000 + 4000 * round));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFSIGNALED(status)) ++cut_mid_write;
    EXPECT_EQ(EntriesIn(dir), 1u) << "round " << round;
    const auto size = fs::file_size(file);
    EXPECT_TRUE(size == 3 || size == big.size()) << size;
    std::ofstream(file, std::ios::trunc) << "old";
  }
  if (cut_mid_write == 0) GTEST_SKIP() << "every writer had finished before its kill: nothing shown";
}
