// The station's single-instance lock on a lock file: held by one process at a
// time, usable by an operator when root made the file, and a file that
// cannot be used is said to be so, never taken for a running station.

#include "platform/linux/instance_lock_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "temp_tree.h"

using namespace platform::linux_host;

namespace {

// Runs `body` in a child process as an ordinary user (nobody, when this is
// root) and answers its exit status.
template <typename Body>
int AsAnotherUser(Body body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(90);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 91;
}

TEST(InstanceLockFile, AFileThisUserMayOnlyReadStillLocksAgainstOthers) {
  test_files::TempTree t;
  ::chmod(t.root().c_str(), 0755);
  const std::string path = (t.root() / "linetool.lock").string();
  {
    // Made by its first user (root, as a station run by root leaves it), then
    // kept from writing by anyone but root.
    InstanceLockFile first(path);
    ASSERT_TRUE(first.TryAcquire());
  }
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);

  InstanceLockFile mine(path);
  ASSERT_TRUE(mine.TryAcquire()) << mine.Fault();
  // While it is held, the other user finds a running station, not a fault.
  EXPECT_EQ(AsAnotherUser([&] {
              InstanceLockFile other(path);
              if (other.TryAcquire()) return 1;
              return other.Fault().empty() ? 0 : 2;
            }),
            0);
  mine.Release();
  // Let go, the other user takes it through its read-only opening.
  EXPECT_EQ(AsAnotherUser([&] {
              InstanceLockFile other(path);
              return other.TryAcquire() ? 0 : 1;
            }),
            0);
}

TEST(InstanceLockFile, AFileThatCannotBeOpenedIsAFaultNotARunningStation) {
  test_files::TempTree t;
  InstanceLockFile lock((t.root() / "gone" / "linetool.lock").string());
  EXPECT_FALSE(lock.TryAcquire());
  EXPECT_NE(lock.Fault().find("gone/linetool.lock: No such file or directory"), std::string::npos) << lock.Fault();
  // Once the folder is there, the same object claims it and the fault is gone.
  t.Folder("gone");
  EXPECT_TRUE(lock.TryAcquire());
  EXPECT_EQ(lock.Fault(), "");
}

}  // namespace
