// The day's log of a run reaches the medium record by record: each port's
// record is flushed before the next one is written, and all of them before
// the counters show the run.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "run_fixture.h"

namespace linetool::app {
namespace {

using testing::RunRig;

// What happened to the log file, and the Total counter at that moment.
struct LogStep {
  std::string what;  // "write" or "flush"
  int total_shown = 0;
};

// Passes file work on and notes the writes and flushes of ".log" files.
class LogWatch final : public platform::HostFiles {
 public:
  RunRig::ServicesHook Hook() {
    return [this](StationServices s) {
      inner_ = &s.files;
      return StationServices{s.devices, s.disks, s.volumes, s.tools, *this, s.access, s.clock};
    };
  }
  void SeeCounters(std::function<int()> total) { total_ = std::move(total); }
  std::vector<LogStep> Steps() {
    std::lock_guard lock(mutex_);
    return steps_;
  }

  std::unique_ptr<platform::HostFile> Open(const std::string& path, platform::FileOpen mode) override {
    auto f = inner_->Open(path, mode);
    if (!f || path.size() < 4 || path.substr(path.size() - 4) != ".log") return f;
    return std::make_unique<Watched>(*this, std::move(f));
  }
  bool Exists(const std::string& path) override { return inner_->Exists(path); }
  bool RemoveFile(const std::string& path) override { return inner_->RemoveFile(path); }
  bool CreateFolder(const std::string& path) override { return inner_->CreateFolder(path); }
  bool RemoveFolder(const std::string& path) override { return inner_->RemoveFolder(path); }
  std::optional<std::vector<platform::FolderEntry>> List(const std::string& path) override {
    return inner_->List(path);
  }

 private:
  class Watched final : public platform::HostFile {
   public:
    Watched(LogWatch& watch, std::unique_ptr<platform::HostFile> inner) : watch_(watch), inner_(std::move(inner)) {}
    std::optional<std::uint64_t> Size() override { return inner_->Size(); }
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override {
      return inner_->ReadAt(offset, data);
    }
    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
      watch_.Note("write");
      return inner_->WriteAt(offset, data);
    }
    bool Flush() override {
      const bool ok = inner_->Flush();
      watch_.Note("flush");
      return ok;
    }

   private:
    LogWatch& watch_;
    std::unique_ptr<platform::HostFile> inner_;
  };

  void Note(const char* what) {
    const int total = total_ ? total_() : -1;
    std::lock_guard lock(mutex_);
    steps_.push_back({what, total});
  }

  platform::HostFiles* inner_ = nullptr;
  std::function<int()> total_;
  std::mutex mutex_;
  std::vector<LogStep> steps_;
};

TEST(ProductionRunLog, EveryRecordIsOnTheMediumBeforeTheNextAndBeforeTheCounters) {
  LogWatch watch;
  RunRig rig(4, watch.Hook());
  rig.Initialise();
  auto& s = rig.Engine().Settings();
  s.format_enable = s.wr_test_enable = s.preload_enable = 0;
  watch.SeeCounters([&] { return rig.Presenter().CounterValues().total; });
  rig.StartAndWait();
  ASSERT_EQ(rig.Presenter().CounterValues().total, 4);

  const std::vector<LogStep> steps = watch.Steps();
  ASSERT_EQ(steps.size(), 8u);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i].what, i % 2 == 0 ? "write" : "flush") << "step " << i;
    EXPECT_EQ(steps[i].total_shown, 0) << "step " << i << ": the counters showed the run before its log was kept";
  }

  // A second run appends to the same day's file in the same order; the
  // counters then still show the first run while its records are written.
  rig.StartAndWait();
  const std::vector<LogStep> again = watch.Steps();
  ASSERT_EQ(again.size(), 16u);
  for (std::size_t i = 8; i < again.size(); ++i) {
    EXPECT_EQ(again[i].what, i % 2 == 0 ? "write" : "flush") << "step " << i;
    EXPECT_EQ(again[i].total_shown, 4) << "step " << i;
  }
  EXPECT_EQ(rig.Presenter().CounterValues().total, 8);
}

}  // namespace
}  // namespace linetool::app
