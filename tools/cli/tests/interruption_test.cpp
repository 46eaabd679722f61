// Ctrl-C and SIGTERM as the programs take them: the first signal stops the
// work under way, also work that is named only after the signal came (a
// window still starting up when it was told to close).

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "tools/cli/interruption.h"

namespace {

bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST(Interruption, ASignalStopsTheWorkNamedBeforeItAndTheWorkNamedAfterIt) {
  // Run in a child: the test process must not be ended by a second signal.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    command_line::Interruption interruption;
    std::atomic<int> stopped{0};
    ::kill(::getpid(), SIGTERM);
    if (!WaitUntil([&] { return interruption.Requested(); })) ::_exit(3);
    // Nothing was named when the signal came; naming the work now stops it.
    interruption.OnStop([&] { ++stopped; });
    ::_exit(stopped.load() == 1 ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3: the signal was not noted; 4: the work named after it was not stopped";
}

}  // namespace
