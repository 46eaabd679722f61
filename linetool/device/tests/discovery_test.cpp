// The discovery walk against simulated stations.

#include <gtest/gtest.h>

#include <set>

#include "sim_fixture.h"

namespace linetool::device {
namespace {

using sim::station::BridgeSpec;
using sim::station::ControllerSpec;
using sim::station::DefaultBridge;
using sim::station::DefaultWorld;
using sim::station::HubSpec;
using sim::station::PortSpec;
using sim::station::WorldSpec;
using testing::SimStation;

PortSpec BridgeAt(int port, BridgeSpec b) { return PortSpec{port, std::move(b), nullptr}; }
PortSpec HubAt(int port, HubSpec h) { return PortSpec{port, std::nullopt, std::make_shared<HubSpec>(std::move(h))}; }

TEST(Discovery, FillsRecordsInWalkOrderWithDescriptorsDrivesAndDisks) {
  SimStation s(DefaultWorld(4));
  ASSERT_EQ(s.Refresh(false, [](std::uint8_t drive) { return drive == 2 ? 'E' : kNoDriveLetter; }), kRefreshDone);
  ASSERT_EQ(s.table.device_count, 4u);
  EXPECT_EQ(s.table.left_out, 0u);
  const int expected_location[] = {1, 2, 3, 11};
  for (int i = 0; i < 4; ++i) {
    const auto& r = s.table.records[static_cast<std::size_t>(i)];
    const BridgeSpec spec = DefaultBridge(i);
    EXPECT_EQ(r.slot, i);
    EXPECT_EQ(r.physical_drive_number, i + 1);  // never drive 0, the system disk
    EXPECT_EQ(r.location, expected_location[i]);
    EXPECT_EQ(r.serial_number, spec.factory.serial);
    EXPECT_EQ(r.vendor_id, "2E77");
    EXPECT_EQ(r.product_id, "7700");
    EXPECT_EQ(r.device_release, "0100");
    EXPECT_EQ(r.manufacturer, "VX Storage");
    EXPECT_EQ(r.firmware_version, "121105100000");
    EXPECT_EQ(r.usb_speed, "SUPER");
    EXPECT_EQ(r.capacity, static_cast<std::int64_t>(spec.disk_size));
    EXPECT_EQ(r.media_type_text, "Fixed hard disk media.");
    EXPECT_EQ(r.bytes_per_sector, 512u);
    EXPECT_EQ(r.drive_letter, i == 1 ? 'E' : kNoDriveLetter);
  }
  EXPECT_EQ(s.table.records[3].port, 1);
  EXPECT_EQ(s.table.records[3].hub_path.rfind("\\\\?\\", 0), 0u);
  EXPECT_FALSE(s.table.records[4].Present());
  EXPECT_EQ(CapacityText(s.table.records[0].capacity), "32 GB");
}

TEST(Discovery, IgnoresWhatIsNoBridgeOrCarriesNoSerial) {
  WorldSpec w;
  ControllerSpec c;
  c.root_hub.port_count = 6;
  BridgeSpec stick = DefaultBridge(0);
  stick.mass_storage_only = true;
  BridgeSpec no_serial = DefaultBridge(1);
  no_serial.factory.serial.clear();
  BridgeSpec disk_class = DefaultBridge(2);
  disk_class.driver_key_class = platform::kDiskDriveClassGuid;
  BridgeSpec blank_slot = DefaultBridge(3);  // matched through its disk's serial
  blank_slot.factory.serial = blank_slot.ata_serial;
  blank_slot.instance_id = "7&3a1f0c2&0&1";
  BridgeSpec good = DefaultBridge(4);
  BridgeSpec slow = DefaultBridge(5);
  slow.speed = platform::UsbSpeed::kHigh;
  c.root_hub.ports = {BridgeAt(1, stick), BridgeAt(2, no_serial), BridgeAt(3, disk_class),
                      BridgeAt(4, blank_slot), BridgeAt(5, good), BridgeAt(6, slow)};
  w.controllers.push_back(c);
  SimStation s(w);
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  ASSERT_EQ(s.table.device_count, 3u);
  EXPECT_EQ(s.table.records[0].serial_number, blank_slot.ata_serial);
  EXPECT_EQ(s.table.records[0].location, 4);
  EXPECT_EQ(s.table.records[1].location, 5);
  EXPECT_EQ(s.table.records[2].usb_speed, "HIGH");

  // Once IDENTIFY is refused, that bridge can no longer be tied to its disk.
  s.world.WithDevice(3, [](sim::station::SimBridge& b) { b.Faults().reject_identify = true; });
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  EXPECT_EQ(s.table.device_count, 2u);
  EXPECT_EQ(s.table.records[0].location, 5);
}

TEST(Discovery, SameSerialGetsDifferentDrivesAndLocationsFollowControllersAndHubs) {
  WorldSpec w;
  ControllerSpec c0;
  c0.root_hub.port_count = 5;
  BridgeSpec a = DefaultBridge(0);
  BridgeSpec b = DefaultBridge(1);
  // Both carry the same serial number in configuration slot 0.
  b.factory.serial = a.factory.serial;
  a.config_slot0 = sim::station::ConfigBlockFor(a.factory);
  b.config_slot0 = sim::station::ConfigBlockFor(b.factory);
  c0.root_hub.ports = {BridgeAt(2, a), BridgeAt(5, b)};
  ControllerSpec c1;
  c1.root_hub.port_count = 2;
  HubSpec hub;
  hub.port_count = 4;
  hub.ports = {BridgeAt(1, DefaultBridge(2))};
  c1.root_hub.ports = {HubAt(2, hub)};
  w.controllers = {c0, c1};
  SimStation s(w);
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  ASSERT_EQ(s.table.device_count, 3u);
  EXPECT_EQ(s.table.records[0].serial_number, s.table.records[1].serial_number);
  EXPECT_NE(s.table.records[0].physical_drive_number, s.table.records[1].physical_drive_number);
  EXPECT_EQ(s.table.records[1].location, 5);
  EXPECT_EQ(s.table.records[2].location, 111);
}

TEST(Discovery, CdRomBridgeSetsTheFlagAndStopsLaterControllers) {
  WorldSpec w;
  ControllerSpec c0;
  BridgeSpec cd = DefaultBridge(0);
  cd.presents_cdrom = true;
  c0.root_hub.ports = {BridgeAt(1, cd), BridgeAt(2, DefaultBridge(1))};
  ControllerSpec c1;
  c1.root_hub.ports = {BridgeAt(1, DefaultBridge(2))};
  w.controllers = {c0, c1};
  SimStation s(w);
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  ASSERT_EQ(s.table.device_count, 2u);
  EXPECT_EQ(s.table.cd_rom_present, 1);
  const auto& r = s.table.records[0];
  EXPECT_EQ(r.presents_cdrom, 1);
  EXPECT_EQ(r.cdrom_number, 0);
  EXPECT_EQ(r.physical_drive_number, kNoDriveNumber);
  EXPECT_EQ(r.capacity, -1);
  EXPECT_EQ(r.DevicePath(), "\\\\.\\CDROM0");
  EXPECT_EQ(s.table.records[1].location, 2);
}

TEST(Discovery, SeventeenthBridgeIsLeftOutAndCounted) {
  SimStation s(DefaultWorld(18));
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  EXPECT_EQ(s.table.device_count, 16u);
  EXPECT_EQ(s.table.left_out, 2u);
  EXPECT_EQ(s.table.records[15].slot, 15);
  std::set<int> drives;
  for (const auto& r : s.table.records) drives.insert(r.physical_drive_number);
  EXPECT_EQ(drives.size(), 16u);
  // A second refresh starts from an empty table.
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  EXPECT_EQ(s.table.device_count, 16u);
  EXPECT_EQ(s.table.left_out, 2u);
}

TEST(Discovery, RefusesTooOldASystemAndLeavesTheTableAlone) {
  SimStation s(DefaultWorld(2));
  ASSERT_EQ(s.Refresh(), kRefreshDone);
  s.world.SetOsVersion({2, 4, 0});
  s.table.records[0].stage_results[0] = 9;
  EXPECT_EQ(s.Refresh(), kRefreshUnsupportedSystem);
  EXPECT_EQ(s.table.device_count, 2u);
  EXPECT_EQ(s.table.records[0].stage_results[0], 9);
  s.world.SetOsVersion({2, 5, 0});
  EXPECT_EQ(s.Refresh(), kRefreshDone);
  EXPECT_EQ(s.table.records[0].stage_results[0], 0);
}

TEST(Records, CapacityTextAndMediaTypes) {
  EXPECT_EQ(CapacityText(1073741824), "1024 MB");
  EXPECT_EQ(CapacityText(1074790400), "1 GB");
  EXPECT_EQ(CapacityText(2000398934016), "1863 GB");
  EXPECT_EQ(CapacityText(-1), "");
  EXPECT_STREQ(MediaTypeText(11), "Removable media other than floppy.");
  EXPECT_STREQ(MediaTypeText(26), "Format is unknown");

  BridgeDeviceRecord r;
  r.slot = 3;
  r.stage_results = {1, 1, 1, 1, 1, 1, 1};
  r.test_write_buffer.resize(10);
  ClearRecord(r);
  EXPECT_FALSE(r.Present());
  EXPECT_EQ(r.stage_results, (std::array<std::uint8_t, 7>{0, 0, 0, 0, 0, 0, 1}));
  EXPECT_TRUE(r.test_write_buffer.empty());
}

}  // namespace
}  // namespace linetool::device
