// romwright-cli update-firmware on a simulated programmer in virtual time: it
// waits for the programmer in its boot state as the window does.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <unistd.h>

#include "platform/message_sink.h"
#include "romwright/app/cli/cli_command.h"
#include "romwright/chips/chip_database.h"
#include "romwright/link/tests/link_test_support.h"
#include "romwright/testing/test_files.h"
#include "sim/programmer/sim_programmer.h"
#include "tools/testing/test_paths.h"

namespace romwright::cli {
namespace {

using Millis = platform::Clock::Millis;

class CliUpdateFirmwareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = app::testing::FreshDir();
    // The command's log file is taken against the current folder.
    ASSERT_EQ(::getcwd(cwd_, sizeof cwd_), cwd_);
    ASSERT_EQ(::chdir(dir_.c_str()), 0);
    app::ChipDatabase db;
    ASSERT_TRUE(db.LoadDatabase(test_support::kChipDb));
    const auto chip = db.FindByName("EN25T80");
    ASSERT_TRUE(chip);
    sim::programmer::SimProgrammerOptions options;
    options.bytes_per_second = 10000;  // the image takes half a second
    sim_ = std::make_unique<sim::programmer::SimProgrammer>(clock_, *chip, options);
    image_.assign(5000, 0);
    for (std::size_t i = 0; i < image_.size(); ++i) image_[i] = static_cast<std::uint8_t>(i * 7);
    std::ofstream(dir_ / "fw.fpr", std::ios::binary)
        .write(reinterpret_cast<const char*>(image_.data()), static_cast<std::streamsize>(image_.size()));
  }
  void TearDown() override { ASSERT_EQ(::chdir(cwd_), 0); }

  int Run() {
    CliDevices devices{clock_, *sim_};
    CliContext ctx{GlobalOptions{}, out_, err_, sink_, &devices};
    return RunCommandLine({"--db", test_support::kChipDb, "update-firmware", (dir_ / "fw.fpr").string()}, ctx);
  }

  std::filesystem::path dir_;
  char cwd_[4096] = {};
  romwright::testing::VirtualClock clock_;
  std::unique_ptr<sim::programmer::SimProgrammer> sim_;
  std::vector<std::uint8_t> image_;
  std::ostringstream out_;
  std::ostringstream err_;
  platform::RecordingSink sink_;
};

const char kPrompt[] = "Please click \"OK\", and link programmer to computer in 10 seconds!";

TEST_F(CliUpdateFirmwareTest, WaitsForTheProgrammerInItsBootStateWithProgress) {
  // Nothing linked at the start; the boot loader appears before the prompt.
  sim_->Unplug();
  sim_->PlugAt(clock_.Now() + Millis{3000}, true);
  EXPECT_EQ(Run(), 0) << err_.str();
  EXPECT_EQ(sim_->FirmwareUpdates(), 1);
  EXPECT_EQ(sim_->FirmwareImage(), image_);
  const std::string out = out_.str();
  EXPECT_NE(out.find("Wait for linking!\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Firmware updating...\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Progress: 81%\n"), std::string::npos) << out;  // after the first 4096 bytes
  EXPECT_NE(out.find("Firmware update ok!   Elapsed time: "), std::string::npos) << out;
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Firmware update ok!"});
}

TEST_F(CliUpdateFirmwareTest, PromptsAndGoesOnWaitingWhenTheProgrammerComesLate) {
  sim_->Unplug();
  sim_->PlugAt(clock_.Now() + Millis{12000}, true);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(sink_.Texts(), (std::vector<std::string>{kPrompt, "Firmware update ok!"}));
  EXPECT_EQ(sim_->FirmwareUpdates(), 1);
}

TEST_F(CliUpdateFirmwareTest, GivesUpWhenTheProgrammerNeverAppears) {
  sim_->Unplug();
  const auto before = clock_.Now();
  EXPECT_EQ(Run(), 1);
  EXPECT_GE(clock_.Now() - before, Millis{15000});
  EXPECT_EQ(sink_.Texts(), (std::vector<std::string>{kPrompt, "Firmware update error!"}));
  EXPECT_NE(out_.str().find("! Firmware update error!"), std::string::npos) << out_.str();
  EXPECT_EQ(sim_->FirmwareUpdates(), 0);
}

}  // namespace
}  // namespace romwright::cli
