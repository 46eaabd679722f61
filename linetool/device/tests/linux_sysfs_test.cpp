// The Linux backend on a sysfs tree laid out as the kernel lays it out
// (platform/linux/tests/kernel_sysfs_tree.h): one xHCI with its USB 2 and
// SuperSpeed root hubs, USB 3 hubs as two hub devices, bridges at SuperSpeed
// and at high speed, a CD-ROM bridge, an ordinary USB stick and the SATA
// system disk. The SCSI requests go to the simulator's bridge model.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <utility>

#include "platform/linux/sysfs_station.h"
#include "platform/linux/tests/kernel_sysfs_tree.h"
#include "sim_fixture.h"
#include "tools/testing/test_paths.h"

namespace linetool::device {
namespace {

namespace fs = std::filesystem;
using platform::linux_host::test_files::KernelSysfsTree;
using sim::station::SimBridge;

// Answers requests to "<dev>/sdX" with a simulated bridge (or stick), and
// counts the device nodes opened, the sessions still open and the requests.
class ModelTransport final : public platform::linux_host::ScsiTransport {
 public:
  class Session final : public platform::linux_host::ScsiSession {
   public:
    Session(ModelTransport& t, std::shared_ptr<SimBridge> model) : t_(t), model_(std::move(model)) { ++t_.open_now; }
    ~Session() override { --t_.open_now; }
    platform::ScsiResult Execute(const platform::ScsiRequest& r, std::span<std::uint8_t> data) override {
      ++t_.requests;
      return model_ ? model_->Execute(r, data, 1) : platform::ScsiResult{};
    }

   private:
    ModelTransport& t_;
    std::shared_ptr<SimBridge> model_;
  };

  std::unique_ptr<platform::linux_host::ScsiSession> Open(const std::string& node) override {
    ++opens;
    auto it = models.find(fs::path(node).filename().string());
    return std::make_unique<Session>(*this, it == models.end() ? nullptr : it->second);
  }
  std::map<std::string, std::shared_ptr<SimBridge>> models;
  int opens = 0;
  int open_now = 0;
  int requests = 0;
};

class KernelTree : public ::testing::Test {
 protected:
  KernelTree() : tree(folder.path() / "sys"), dev(folder.path() / "dev") {
    tree.Xhci("0000:00:04.0", 1, 2, 4);
    tree.SataDisk("sda", 500118192);
    tree.Partition("sda", 1, 2048, 500000000);
  }

  // A bridge at a hub port; `block` its disk ("sdb") or CD-ROM ("sr0").
  std::string Bridge(const std::string& hub, int port, const std::string& serial, const std::string& block,
                     std::uint64_t sectors, const std::string& speed = "5000") {
    KernelSysfsTree::Storage s;
    s.serial = serial;
    s.block = block;
    s.sectors = sectors;
    s.speed = speed;
    const std::string name = tree.UsbStorage(hub, port, s);
    SimBridge::Options o;
    o.presents_cdrom = block.rfind("sr", 0) == 0;
    if (!o.presents_cdrom) {
      o.disk = std::make_shared<sim::station::SimDisk>(folder.path() / (block + ".img"), sectors * 512,
                                                       "ATA" + serial);
    }
    o.link_speed = speed == "480" ? 1 : 2;
    transport.models[block] = std::make_shared<SimBridge>(o);
    return name;
  }
  void Stick(const std::string& hub, int port, const std::string& block) {
    KernelSysfsTree::Storage s;
    s.vendor = "0781";
    s.product_id = "5567";
    s.speed = "480";
    s.serial = "STICK0003";
    s.block = block;
    s.sectors = 31266816;
    tree.UsbStorage(hub, port, s);
    SimBridge::Options o;
    o.vendor_commands = false;
    transport.models[block] = std::make_shared<SimBridge>(o);
  }

  DeviceTable Refresh(platform::linux_host::SysfsStation& station) {
    CKelvUSBLib lib(station.Services());
    DeviceTable table;
    EXPECT_EQ(lib.Refresh(table, {}), kRefreshDone);
    return table;
  }

  testing::TempFolder folder;
  KernelSysfsTree tree;
  fs::path dev;
  ModelTransport transport;
};

TEST_F(KernelTree, OneControllerBridgesAtTheirConnectorsAtAnySpeedAndBehindTwoUsb3Hubs) {
  Bridge("usb2", 1, "BRIDGEA0001", "sdb", 62533296);            // SuperSpeed, root connector 1
  Bridge("usb1", 2, "BRIDGEB0002", "sdc", 976773168, "480");    // high speed, root connector 2
  const auto outer = tree.Usb3Hub("usb1", "usb2", 3, 4);        // 1-3 and 2-3
  const auto inner = tree.Usb3Hub(outer.first, outer.second, 4, 4);  // 1-3.4 and 2-3.4
  Bridge(inner.second, 2, "BRIDGEC0004", "sde", 3907029168);    // 2-3.4.2
  Stick(inner.first, 1, "sdd");                                 // 1-3.4.1, no vendor commands

  platform::linux_host::DriveNaming naming((tree.Root() / "block").string(), dev.string(), "sda");
  platform::linux_host::SysfsStation station(tree.Root(), dev, transport, naming);
  // The two root hubs of the xHCI are one controller, named by its USB 2 half.
  EXPECT_EQ(station.HostControllerPaths(), std::vector<std::string>{"usb1"});

  const DeviceTable table = Refresh(station);
  ASSERT_EQ(table.device_count, 3u);
  struct Want {
    const char* serial;
    int location;
    int port;
    const char* hub_path;
    int drive;
    std::int64_t bytes;
    const char* speed;
  };
  const Want want[] = {{"BRIDGEA0001", 1, 1, "\\\\.\\usb1", 1, 62533296LL * 512, "SUPER"},
                       {"BRIDGEB0002", 2, 2, "\\\\.\\usb1", 2, 976773168LL * 512, "HIGH"},
                       {"BRIDGEC0004", 22, 2, "\\\\?\\1-3.4", 4, 3907029168LL * 512, "SUPER"}};
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& r = table.records[i];
    SCOPED_TRACE(want[i].serial);
    EXPECT_EQ(r.serial_number, want[i].serial);
    EXPECT_EQ(r.location, want[i].location);
    EXPECT_EQ(r.port, want[i].port);
    EXPECT_EQ(r.hub_path, want[i].hub_path);
    EXPECT_EQ(r.physical_drive_number, want[i].drive);
    EXPECT_EQ(r.capacity, want[i].bytes);
    EXPECT_EQ(r.vendor_id, "2E77");
    EXPECT_EQ(r.product_id, "7700");
    EXPECT_EQ(r.manufacturer, "VX Storage");
    EXPECT_EQ(r.firmware_version, "121105100000");
    EXPECT_EQ(r.usb_speed, want[i].speed);
  }
  EXPECT_EQ(station.DiskCount(), 5u);  // sda to sde

}

TEST_F(KernelTree, ABridgeThatComesBackAtAnotherSpeedIsAtItsRecordedPort) {
  Bridge("usb2", 1, "BRIDGEA0001", "sdb", 62533296);
  platform::linux_host::DriveNaming naming((tree.Root() / "block").string(), dev.string(), "sda");
  platform::linux_host::SysfsStation station(tree.Root(), dev, transport, naming);
  const DeviceTable before = Refresh(station);
  ASSERT_EQ(before.device_count, 1u);
  const auto& r = before.records[0];

  // After its restart the bridge links at high speed on the same connector:
  // "1-1" on the USB 2 root hub, with a new disk.
  tree.Unplug("2-1");
  Bridge("usb1", 1, "BRIDGEA0001", "sdf", 62533296, "480");
  auto hub = station.OpenHub(r.hub_path);
  ASSERT_TRUE(hub);
  const auto c = hub->Connection(r.port);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->status, platform::kUsbDeviceConnected);
  EXPECT_EQ(c->speed, platform::UsbSpeed::kHigh);
  EXPECT_EQ(DecodeDescriptors(*hub, r.port, c->descriptor).serial_number, "BRIDGEA0001");

  const DeviceTable after = Refresh(station);
  ASSERT_EQ(after.device_count, 1u);
  EXPECT_EQ(after.records[0].location, r.location);
  EXPECT_EQ(after.records[0].port, r.port);
  EXPECT_EQ(after.records[0].hub_path, r.hub_path);
  EXPECT_EQ(after.records[0].usb_speed, "HIGH");
  EXPECT_EQ(after.records[0].physical_drive_number, naming.DriveNumberOf("sdf"));
}

TEST_F(KernelTree, BridgesWithOneDefaultSerialArePairedWithTheDiskOfTheirOwnPort) {
  // Unconfigured bridges all carry the same serial; the kernel named the
  // disk of the second port first.
  Bridge("usb2", 2, "DEFAULT00000000", "sdb", 1000000);
  Bridge("usb2", 1, "DEFAULT00000000", "sdc", 2000000);
  platform::linux_host::DriveNaming naming((tree.Root() / "block").string(), dev.string(), "sda");
  platform::linux_host::SysfsStation station(tree.Root(), dev, transport, naming);
  const DeviceTable table = Refresh(station);
  ASSERT_EQ(table.device_count, 2u);
  EXPECT_EQ(table.records[0].port, 1);
  EXPECT_EQ(table.records[0].physical_drive_number, naming.DriveNumberOf("sdc"));
  EXPECT_EQ(table.records[0].capacity, 2000000LL * 512);
  EXPECT_EQ(table.records[1].port, 2);
  EXPECT_EQ(table.records[1].physical_drive_number, naming.DriveNumberOf("sdb"));
  EXPECT_EQ(table.records[1].capacity, 1000000LL * 512);
}

TEST_F(KernelTree, ACdRomBridgeIsListedByItsCdRomNumber) {
  Bridge("usb1", 3, "BRIDGECD0005", "sr0", 0, "480");
  platform::linux_host::DriveNaming naming((tree.Root() / "block").string(), dev.string(), "sda");
  platform::linux_host::SysfsStation station(tree.Root(), dev, transport, naming);
  const DeviceTable table = Refresh(station);
  ASSERT_EQ(table.device_count, 1u);
  EXPECT_EQ(table.records[0].presents_cdrom, 1);
  EXPECT_EQ(table.records[0].cdrom_number, 0);
  EXPECT_EQ(table.records[0].location, 3);
  EXPECT_EQ(table.cd_rom_present, 1);
  EXPECT_EQ(station.DiskCount(), 1u);  // sda only
}

// A device node is opened once per handle, not once per request: each close
// of a disk opened for writing makes udev re-read its partition table.
TEST_F(KernelTree, AHandleKeepsOneDeviceNodeOpenForAllItsRequests) {
  Bridge("usb2", 1, "BRIDGEA0001", "sdb", 62533296);
  Bridge("usb2", 2, "BRIDGEB0002", "sdc", 976773168);
  platform::linux_host::DriveNaming naming((tree.Root() / "block").string(), dev.string(), "sda");
  platform::linux_host::SysfsStation station(tree.Root(), dev, transport, naming);
  CKelvUSBLib lib(station.Services());
  DeviceTable table;
  ASSERT_EQ(lib.Refresh(table, {}), kRefreshDone);
  ASSERT_EQ(table.device_count, 2u);
  EXPECT_EQ(transport.open_now, 0);  // every handle of the walk is closed again

  transport.opens = transport.requests = 0;
  {
    auto h = station.Open({PhysicalDrivePath(1), platform::kAccessRead | platform::kAccessWrite,
                           platform::kShareRead | platform::kShareWrite, platform::kOpenNoBuffering});
    ASSERT_TRUE(h);
    std::array<std::uint8_t, 7> version{};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(lib.Device().ReadRegisters(h.get(), kRegFirmwareVersion, version, 7), kCmdDone);
    EXPECT_EQ(transport.open_now, 1);
  }
  EXPECT_EQ(transport.opens, 1);
  EXPECT_EQ(transport.requests, 3);
  EXPECT_EQ(transport.open_now, 0);
}

// Trees copied from a real kernel's /sys (the kernel rig's guest: qemu's xHCI
// with its USB 2 and SuperSpeed root hubs, a bridge of the device server), one
// bridge each: on a SuperSpeed root port, and the same at high speed. Hubs and
// CD-ROM bridges are laid out by KernelSysfsTree above.
class CapturedTree : public ::testing::Test {
 protected:
  static fs::path Tree(const std::string& name) {
    return fs::path(test_support::kResourceDir) / ".." / "platform/linux/tests/data" / ("sysfs_" + name);
  }
  // Refreshes the station over the captured tree; the bridge's disk or
  // CD-ROM answers through the simulated bridge model.
  // `link_speed`: what the bridge's link-speed register reads (2 SuperSpeed, 1 high).
  DeviceTable Refresh(const std::string& name, const std::string& block, bool cdrom, std::uint8_t link_speed) {
    SimBridge::Options o;
    o.presents_cdrom = cdrom;
    o.link_speed = link_speed;
    if (!cdrom) o.disk = std::make_shared<sim::station::SimDisk>(folder.path() / "disk.img", 64ULL << 20, "ATAFIX");
    transport.models[block] = std::make_shared<SimBridge>(o);
    // The guest's root is on 9p: no disk is the system's.
    naming = std::make_unique<platform::linux_host::DriveNaming>((Tree(name) / "block").string(),
                                                                   (folder.path() / "dev").string(),
                                                                   platform::linux_host::SystemDisks{});
    station = std::make_unique<platform::linux_host::SysfsStation>(Tree(name), folder.path() / "dev", transport,
                                                                   *naming);
    CKelvUSBLib lib(station->Services());
    DeviceTable table;
    EXPECT_EQ(lib.Refresh(table, {}), kRefreshDone);
    return table;
  }

  testing::TempFolder folder;
  ModelTransport transport;
  std::unique_ptr<platform::linux_host::DriveNaming> naming;
  std::unique_ptr<platform::linux_host::SysfsStation> station;
};

TEST_F(CapturedTree, ABridgeOnARootPortIsAtItsConnectorAtSuperSpeedAndAtHighSpeed) {
  struct Case {
    const char* name;
    const char* speed;
    std::uint8_t link_speed;
  };
  for (const Case& c : {Case{"super_root_port", "SUPER", 2}, Case{"high_root_port", "HIGH", 1}}) {
    const std::string name = c.name, speed = c.speed;
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::exists(Tree(name) / "bus/usb/devices"));
    const DeviceTable table = Refresh(name, "sda", false, c.link_speed);
    // One controller of two root hubs: the bridge is found once.
    EXPECT_EQ(station->HostControllerPaths().size(), 1u);
    ASSERT_EQ(table.device_count, 1u);
    const auto& r = table.records[0];
    EXPECT_EQ(r.serial_number, "FIX0001");
    EXPECT_EQ(r.port, 2);
    EXPECT_EQ(r.location, 2);
    EXPECT_EQ(r.usb_speed, speed);
    EXPECT_EQ(r.vendor_id, "2E77");
    EXPECT_EQ(r.product_id, "7700");
    EXPECT_EQ(r.physical_drive_number, 1);
    EXPECT_EQ(r.capacity, 64LL << 20);
  }
}

// qemu's hubs are full speed: the bridge two hubs down links at full speed,
// and its location counts the hubs above it (port + 10 x hub depth).
TEST_F(CapturedTree, ABridgeBehindTwoHubsIsAtItsHubsPortWithTheHubDepthInItsLocation) {
  ASSERT_TRUE(fs::exists(Tree("behind_two_hubs") / "bus/usb/devices/1-1.3.2"));
  const DeviceTable table = Refresh("behind_two_hubs", "sda", false, 0);
  EXPECT_EQ(station->HostControllerPaths().size(), 1u);
  ASSERT_EQ(table.device_count, 1u);
  const auto& r = table.records[0];
  EXPECT_EQ(r.serial_number, "FIX0001");
  EXPECT_EQ(r.port, 2);
  EXPECT_EQ(r.location, 22);
  EXPECT_EQ(r.usb_speed, "FULL");
  EXPECT_EQ(r.physical_drive_number, 1);
  EXPECT_EQ(r.capacity, 64LL << 20);
}

TEST_F(CapturedTree, ACdRomBridgeIsFoundByItsCdRomAndHasNoDisk) {
  ASSERT_TRUE(fs::exists(Tree("cdrom_bridge") / "block/sr0"));
  const DeviceTable table = Refresh("cdrom_bridge", "sr0", true, 2);
  ASSERT_EQ(table.device_count, 1u);
  const auto& r = table.records[0];
  EXPECT_EQ(r.serial_number, "FIX0001");
  EXPECT_EQ(r.location, 1);
  EXPECT_EQ(r.usb_speed, "SUPER");
  EXPECT_EQ(r.presents_cdrom, 1);
  EXPECT_EQ(r.cdrom_number, 0);
  EXPECT_EQ(table.cd_rom_present, 1);
  EXPECT_EQ(station->DiskCount(), 0u);
}

}  // namespace
}  // namespace linetool::device
