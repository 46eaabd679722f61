// Flash and register operations on simulated bridges: chip variants, the
// restart and re-find on the test clock, and one whole device sequence.

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "linetool/profile/line_engine.h"
#include "linetool/profile/station_files.h"
#include "sim_fixture.h"
#include "tools/testing/test_paths.h"

namespace linetool::device {
namespace {

using namespace std::chrono_literals;
using sim::station::DefaultWorld;
using sim::station::SimBridge;
using testing::SimStation;

TEST(ChipVariant, CodeFromRegisterAndMatchFlag) {
  struct Case {
    std::uint8_t reg;
    const char* code;
  };
  const Case cases[] = {{0x11, "001"}, {0x10, "001_B0"}, {0x00, "00"}, {0x70, "111"}, {0x40, "00"}, {0x2F, "010"}};
  for (const auto& c : cases) {
    SimStation s(DefaultWorld(1));
    s.world.WithDevice(0, [&](SimBridge& b) { b.SetRegister(0xC8FF, c.reg); });
    ASSERT_EQ(s.Refresh(), kRefreshDone);
    auto ops = s.Operations();
    std::string code;
    bool match = true;
    ASSERT_EQ(ops.ReadChipVariant(0, "10", code, match), 1);
    EXPECT_EQ(code, c.code) << int{c.reg};
    EXPECT_EQ(match, c.reg == 0x11 || c.reg == 0x10) << int{c.reg};
  }
  SimStation s(DefaultWorld(1));
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  s.world.WithDevice(0, [](SimBridge& b) { b.Faults().fail_from_call[0xE4] = 1; });
  std::string code = "keep";
  bool match = true;
  EXPECT_EQ(s.Operations().ReadChipVariant(0, "10", code, match), 0);
  EXPECT_EQ(code, "keep");
  EXPECT_FALSE(match);
}

TEST(Reload, BridgeThatNeverComesBackFailsAfterSixtySecondsOfTestClock) {
  SimStation s(DefaultWorld(2));
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  s.world.WithDevice(0, [](SimBridge& b) { b.Faults().never_returns = true; });
  auto ops = s.Operations();
  const auto start = s.clock.Now();
  EXPECT_EQ(ops.FirmwareReload(0, 2, static_cast<int>(s.world.DiskCount()) - 1), 0);
  const auto took = s.clock.Now() - start;
  EXPECT_GT(took, 60s);
  EXPECT_LT(took, 62s);
  EXPECT_EQ(s.table.records[0].physical_drive_number, 1);  // the old number stays
  EXPECT_EQ(s.reload_count, 1);
}

TEST(Reload, RefusedTagWriteEndsWithoutRestart) {
  SimStation s(DefaultWorld(1));
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  // The first E5 (tag byte 1) passes, the second (tag byte 2) fails.
  s.world.WithDevice(0, [](SimBridge& b) { b.Faults().fail_from_call[0xE5] = 2; });
  EXPECT_EQ(s.Operations().FirmwareReload(0, 1, 1), 0);
  EXPECT_EQ(s.world.WithDevice(0, [](SimBridge& b) { return b.Calls(0xE8); }), 0u);
  EXPECT_TRUE(s.world.Online(0));
  EXPECT_EQ(s.reload_count, 0);
}

TEST(Reload, TwoPortsReloadingAtOnceAreFoundOneAfterTheOtherByTheirSlot) {
  SimStation s(DefaultWorld(3));
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  // Port 0 comes back late, after port 1, and takes the lower free number.
  s.world.WithDevice(0, [](SimBridge& b) { b.Faults().return_delay_ms = 4000; });
  s.world.WithDevice(1, [](SimBridge& b) { b.Faults().return_delay_ms = 1000; });
  s.world.WithDevice(0, [](SimBridge& b) { b.SetRegister(0xCA02, 0x31); });
  const int m = static_cast<int>(s.world.DiskCount()) - 1;
  auto ops = s.Operations();
  std::uint8_t r0 = 0, r1 = 0;
  {
    std::jthread t0([&] { r0 = ops.FirmwareReload(0, 2, m); });
    std::jthread t1([&] { r1 = ops.FirmwareReload(1, 2, m); });
  }
  EXPECT_EQ(r0, 1);
  EXPECT_EQ(r1, 1);
  EXPECT_EQ(s.reload_count, 2);
  // Each record follows its own bridge, whatever number it came back with.
  EXPECT_EQ(s.table.records[0].physical_drive_number, *s.world.DriveNumberOf(0));
  EXPECT_EQ(s.table.records[1].physical_drive_number, *s.world.DriveNumberOf(1));
  EXPECT_NE(s.table.records[0].physical_drive_number, s.table.records[1].physical_drive_number);
  // The old tags are back.
  EXPECT_EQ(s.world.WithDevice(0, [](SimBridge& b) { return b.Register(0xCA02); }), 0x31);
  EXPECT_EQ(s.world.WithDevice(1, [](SimBridge& b) { return b.Register(0xCA03); }), 0x00);
}

TEST(Reload, ABridgeThatStillCarriesTheSameTagsIsNotTakenForTheRestartedOne) {
  // Bridge 1 was plugged in after the walk (a run was busy, so nobody looked)
  // and still holds the tags of a restart that never ended: count 1, slot 0.
  SimStation s(DefaultWorld(2));
  s.world.Unplug(1);
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  ASSERT_EQ(s.table.device_count, 1u);
  s.world.Plug(1);
  s.world.WithDevice(1, [](SimBridge& b) {
    b.SetRegister(0xCA02, 1);
    b.SetRegister(0xCA03, 0);
  });
  s.world.WithDevice(0, [](SimBridge& b) { b.SetRegister(0xCA02, 0x31); });
  // Bridge 0 restarts and comes back late.
  s.world.WithDevice(0, [](SimBridge& b) { b.Faults().return_delay_ms = 3000; });
  ASSERT_EQ(s.Operations().FirmwareReload(0, 1, static_cast<int>(s.world.DiskCount()) - 1), 1);
  EXPECT_EQ(s.table.records[0].physical_drive_number, *s.world.DriveNumberOf(0));
  // Each bridge keeps its own tags: bridge 0 its old ones, bridge 1 the stale ones.
  EXPECT_EQ(s.world.WithDevice(0, [](SimBridge& b) { return b.Register(0xCA02); }), 0x31);
  EXPECT_EQ(s.world.WithDevice(1, [](SimBridge& b) { return b.Register(0xCA02); }), 1);

  // A bridge that never comes back is not replaced by the one with its tags.
  s.world.WithDevice(0, [](SimBridge& b) { b.Faults().never_returns = true; });
  s.world.WithDevice(1, [](SimBridge& b) { b.SetRegister(0xCA02, 1); });
  EXPECT_EQ(s.Operations().FirmwareReload(0, 1, static_cast<int>(s.world.DiskCount()) - 1), 0);
  EXPECT_NE(s.table.records[0].physical_drive_number, *s.world.DriveNumberOf(1));
}

TEST(Reload, StopRequestEndsTheSearch) {
  SimStation s(DefaultWorld(1), /*auto_advance=*/false);
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  s.world.WithDevice(0, [](SimBridge& b) { b.Faults().never_returns = true; });
  auto ops = s.Operations();
  std::uint8_t result = 9;
  std::jthread worker([&](std::stop_token stop) { result = ops.FirmwareReload(0, 1, 1, -1, stop); });
  while (s.clock.Waiters() == 0) std::this_thread::yield();
  worker.request_stop();
  worker.join();
  EXPECT_EQ(result, 0);
}

TEST(DeviceSequence, ConfigFirmwareReloadRefindAndRestoreOnOneBridge) {
  SimStation s(DefaultWorld(1));
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  s.world.WithDevice(0, [](SimBridge& b) {
    b.SetRegister(0xCA02, 0x44);
    b.SetRegister(0xCA03, 0x55);
  });

  // The engine composes the block and the image as a run does.
  platform::RecordingSink sink;
  struct AllAccess : platform::PathAccess {
    platform::PathState Check(const std::string&) const override { return platform::PathState::kReadWrite; }
  } access;
  profile::CLineEngine engine(sink, access, s.folder.path().string());
  engine.Reset();
  engine.SetConfigType(0);
  auto& set = engine.Settings();
  const auto text = [](profile::ProfileText& t, const char* v) { std::snprintf(t.data(), t.size(), "%s", v); };
  text(set.vendor_id, "1A2B");
  text(set.product_id, "3C4D");
  text(set.device_revision, "0205");
  text(set.manufacturer_string, "Acme Drives");
  text(set.product_string, "Dock Pro");
  text(set.serial_number, "AC0000000017");
  ASSERT_TRUE(engine.ComposePortBlock(0, s.table.records[0].config));
  engine.SetFirmwarePath(std::string(test_support::kResourceDir) + "/121105_10_0000.bin");
  engine.SetChipCode("001");
  ASSERT_TRUE(engine.ComposeImageFile(false, ""));

  auto ops = s.Operations();
  ASSERT_EQ(ops.ConfigSlotTransfer(0, 1, s.table.records[0].config, 0), 1);
  ASSERT_EQ(ops.FirmwareWrite(0, 0), 1);
  const auto image = profile::ReadFileBytes(engine.ImageFilePath());
  ASSERT_TRUE(image);
  EXPECT_EQ(s.world.WithDevice(0, [](SimBridge& b) { return b.FirmwareSlot(0); }), *image);

  ASSERT_EQ(ops.FirmwareReload(0, 1, static_cast<int>(s.world.DiskCount()) - 1), 1);
  const auto& r = s.table.records[0];
  EXPECT_EQ(r.vendor_id, "1A2B");
  EXPECT_EQ(r.product_id, "3C4D");
  EXPECT_EQ(r.device_release, "0205");
  EXPECT_EQ(r.manufacturer, "Acme Drives");
  EXPECT_EQ(r.product, "Dock Pro");
  EXPECT_EQ(r.serial_number, "AC0000000017");
  EXPECT_EQ(r.physical_drive_number, 1);
  EXPECT_EQ(s.world.WithDevice(0, [](SimBridge& b) { return b.Register(0xCA02); }), 0x44);
  EXPECT_EQ(s.world.WithDevice(0, [](SimBridge& b) { return b.Register(0xCA03); }), 0x55);

  // Reading the slot back gives the block written; safe removal takes it off.
  profile::ConfigBlock back{};
  ASSERT_EQ(ops.ConfigSlotTransfer(0, 0, back, 0), 1);
  EXPECT_EQ(back, r.config);
  ASSERT_EQ(ops.SafeRemoveBridge(0), 1);
  EXPECT_FALSE(s.world.Online(0));
  EXPECT_EQ(ops.ConfigSlotTransfer(0, 0, back, 0), 0);
  // A missing image file fails the firmware step without a request.
  std::filesystem::remove(engine.ImageFilePath());
  EXPECT_EQ(ops.FirmwareWrite(0, 0), 0);
}

TEST(FirmwareWrite, OnlyAWholeComposedImageWithFirmwareReachesTheFlash) {
  SimStation s(DefaultWorld(1));
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  auto ops = s.Operations();
  const auto temp = s.folder.path() / "Temp";
  std::filesystem::create_directories(temp);
  auto write_image = [&](std::vector<std::uint8_t> bytes) {
    std::ofstream(temp / "TempBinData.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  auto e3_requests = [&] {
    return s.world.WithDevice(0, [](SimBridge& b) {
      std::size_t n = 0;
      for (const auto& e : b.Log())
        if (e.request.cdb_length > 0 && e.request.cdb[0] == 0xE3) ++n;
      return n;
    });
  };
  // Empty (what a failed composition leaves), cut short, without firmware, or
  // with bytes beyond its length: no request, the step fails.
  for (const auto& bad : std::vector<std::vector<std::uint8_t>>{
           {}, {0x10, 0x00, 1, 2, 3}, {0x00, 0x00, 0x4B, 0x00}, {0x01, 0x00, 0xAA, 0x4B, 0xAA, 0x00, 0x00}}) {
    write_image(bad);
    EXPECT_EQ(ops.FirmwareWrite(0, 0), 0) << bad.size();
  }
  EXPECT_EQ(e3_requests(), 0u);
  // One firmware byte, type byte and sum: streamed, with or without a CRC.
  write_image({0x01, 0x00, 0xAA, 0x4B, 0xAA});
  EXPECT_EQ(ops.FirmwareWrite(0, 0), 1);
  write_image({0x01, 0x00, 0xAA, 0xB4, 0xAA, 1, 2, 3, 4});
  EXPECT_EQ(ops.FirmwareWrite(0, 1), 1);
  EXPECT_EQ(e3_requests(), 2u);
}

}  // namespace
}  // namespace linetool::device

namespace linetool::device {
namespace {

TEST(Reload, CdRomBridgeIsLookedForOnePastTheHighestCdRomAndOnItsOwnNumber) {
  sim::station::WorldSpec w;
  sim::station::ControllerSpec c;
  auto cd = sim::station::DefaultBridge(0);
  cd.presents_cdrom = true;
  c.root_hub.ports = {{1, cd, nullptr}, {2, sim::station::DefaultBridge(1), nullptr}};
  w.controllers = {c};
  SimStation s(w);
  ASSERT_EQ(s.Refresh(true), kRefreshDone);
  ASSERT_EQ(s.table.records[0].presents_cdrom, 1);
  const int m = static_cast<int>(s.world.DiskCount()) - 1;  // system disk and one bridge disk
  ASSERT_EQ(s.Operations().FirmwareReload(0, 1, m, /*highest_cdrom=*/0), 1);
  EXPECT_EQ(s.table.records[0].cdrom_number, 0);
  EXPECT_EQ(s.table.records[0].physical_drive_number, kNoDriveNumber);
  EXPECT_EQ(s.reload_count, 1);
  // With one candidate only the number one past the highest is tried: the
  // bridge, back on its own number 0, is not found there.
  EXPECT_EQ(s.Operations().FirmwareReload(0, 1, 0, /*highest_cdrom=*/5), 0);
  EXPECT_EQ(s.table.records[0].cdrom_number, 0);
}

}  // namespace
}  // namespace linetool::device
