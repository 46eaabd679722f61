// The Linux backend on a folder that looks like sysfs: two root hubs, an
// external hub, three bridges, an ordinary USB stick and the system disk. The
// SCSI requests go to the simulator's bridge model through the transport.

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "platform/linux/sysfs_station.h"
#include "sim_fixture.h"

namespace linetool::device {
namespace {

namespace fs = std::filesystem;
using sim::station::SimBridge;

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

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

class SysfsFixture : public ::testing::Test {
 protected:
  SysfsFixture() : sys(folder.path() / "sys"), dev(folder.path() / "dev") {
    Hub("usb1", 4, "1d6b", "0002", "480");
    Hub("usb2", 2, "1d6b", "0003", "5000");
    Hub("2-2", 4, "2e77", "0610", "5000");
    // The system disk, not on USB.
    Block(sys / "devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda", "sda", 500118192);
    Write(sys / "devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda1/partition", "1");
    Bridge("2-1", "BRIDGEA0001", "sdb", 62533296);
    Bridge("2-2.1", "BRIDGEB0002", "sdc", 976773168);
    Stick("1-3", "STICK0003", "sdd");
    Bridge("2-2.3", "BRIDGEC0004", "sde", 3907029168);
    // usb2 port 1 and usb1 port 2 are the two halves of one connector.
    Write(sys / "bus/usb/devices/usb1/1-0:1.0/usb1-port2/connect_type", "hotplug");
    fs::create_directory_symlink("../../../usb1/1-0:1.0/usb1-port2",
                                 sys / "bus/usb/devices/usb2/2-0:1.0/usb2-port1/peer");
  }

  void Device(const std::string& name, const std::string& vid, const std::string& pid, const std::string& speed,
              const std::string& klass) {
    const fs::path d = sys / "bus/usb/devices" / name;
    Write(d / "idVendor", vid);
    Write(d / "idProduct", pid);
    Write(d / "bcdDevice", "0100");
    Write(d / "speed", speed);
    Write(d / "bDeviceClass", klass);
  }
  void Hub(const std::string& name, int ports, const std::string& vid, const std::string& pid,
           const std::string& speed) {
    Device(name, vid, pid, speed, "09");
    Write(sys / "bus/usb/devices" / name / "maxchild", std::to_string(ports));
    const std::string itf = name.rfind("usb", 0) == 0 ? name.substr(3) + "-0:1.0" : name + ":1.0";
    for (int p = 1; p <= ports; ++p) {
      fs::create_directories(sys / "bus/usb/devices" / name / itf / (name + "-port" + std::to_string(p)));
    }
  }
  void Block(const fs::path& dir, const std::string& name, std::uint64_t sectors) {
    Write(dir / "size", std::to_string(sectors));
    Write(dir / "queue/logical_block_size", "512");
    fs::create_directories(sys / "block");
    fs::create_directory_symlink(dir.parent_path().parent_path(), dir / "device");
    fs::create_directory_symlink(dir, sys / "block" / name);
  }
  void Storage(const std::string& usb, const std::string& serial, const std::string& block, std::uint64_t sectors) {
    Write(sys / "bus/usb/devices" / usb / "serial", serial);
    Write(sys / "bus/usb/devices" / usb / "manufacturer", "VX Storage");
    Write(sys / "bus/usb/devices" / usb / "product", "VX7700 SATA Bridge");
    Block(sys / "bus/usb/devices" / usb / (usb + ":1.0") / "host7/target7:0:0/7:0:0:0/block" / block, block, sectors);
  }
  void Bridge(const std::string& usb, const std::string& serial, const std::string& block, std::uint64_t sectors) {
    Device(usb, "2e77", "7700", "5000", "00");
    Storage(usb, serial, block, sectors);
    SimBridge::Options o;
    o.disk = std::make_shared<sim::station::SimDisk>(folder.path() / (block + ".img"), sectors * 512, "ATA" + serial);
    transport.models[block] = std::make_shared<SimBridge>(o);
  }
  void Stick(const std::string& usb, const std::string& serial, const std::string& block) {
    Device(usb, "1d6b", "0a10", "480", "00");
    Storage(usb, serial, block, 31266816);
    SimBridge::Options o;
    o.vendor_commands = false;
    transport.models[block] = std::make_shared<SimBridge>(o);
  }

  testing::TempFolder folder;
  fs::path sys, dev;
  ModelTransport transport;
};

TEST_F(SysfsFixture, FindsTheBridgesWithLocationsDescriptorsAndDrivesButNeverTheSystemDisk) {
  platform::linux_host::DriveNaming naming((sys / "block").string(), dev.string(), "sda");
  platform::linux_host::SysfsStation station(sys, dev, transport, naming);
  CKelvUSBLib lib(station.Services());
  DeviceTable table;
  ASSERT_EQ(lib.Refresh(table, {}), kRefreshDone);
  ASSERT_EQ(table.device_count, 3u);
  struct Want {
    const char* serial;
    int location;
    int drive;
    std::int64_t bytes;
  };
  const Want want[] = {{"BRIDGEA0001", 101, 1, 62533296LL * 512},
                       {"BRIDGEB0002", 111, 2, 976773168LL * 512},
                       {"BRIDGEC0004", 113, 4, 3907029168LL * 512}};
  for (int i = 0; i < 3; ++i) {
    const auto& r = table.records[static_cast<std::size_t>(i)];
    EXPECT_EQ(r.serial_number, want[i].serial);
    EXPECT_EQ(r.location, want[i].location);
    EXPECT_EQ(r.physical_drive_number, want[i].drive);
    EXPECT_EQ(r.capacity, want[i].bytes);
    EXPECT_EQ(r.vendor_id, "2E77");
    EXPECT_EQ(r.product_id, "7700");
    EXPECT_EQ(r.manufacturer, "VX Storage");
    EXPECT_EQ(r.firmware_version, "121105100000");
    EXPECT_EQ(r.usb_speed, "SUPER");
    EXPECT_NE(r.physical_drive_number, 0);
  }
  EXPECT_EQ(table.records[1].hub_path, "\\\\?\\2-2");
  EXPECT_EQ(station.DiskCount(), 5u);  // sda, sdb, sdc, sdd, sde

  // The bridge on usb2 port 1 restarts and comes back on the high-speed half
  // of its connector (usb1 port 2): its hub path still finds it.
  fs::rename(sys / "bus/usb/devices/2-1", sys / "bus/usb/devices/1-2");
  auto hub = station.OpenHub(table.records[0].hub_path);
  ASSERT_TRUE(hub);
  const auto c = hub->Connection(table.records[0].port);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->status, platform::kUsbDeviceConnected);
  EXPECT_EQ(DecodeDescriptors(*hub, table.records[0].port, c->descriptor).serial_number, "BRIDGEA0001");
  // Drive numbers stay with their disks: sdc leaves, sde keeps drive 4 and
  // a new disk takes 5.
  fs::remove(sys / "block/sdc");
  Block(sys / "bus/usb/devices/2-2.4/2-2.4:1.0/host9/target9:0:0/9:0:0:0/block/sdf", "sdf", 1000);
  const auto open = [&](int n) {
    return station.Open({PhysicalDrivePath(n), platform::kAccessRead | platform::kAccessWrite,
                         platform::kShareRead | platform::kShareWrite, platform::kOpenPlain});
  };
  EXPECT_FALSE(open(2));
  ASSERT_TRUE(open(4));
  EXPECT_EQ(open(4)->DeviceNumber()->device_number, 4u);
  EXPECT_EQ(naming.DriveNumberOf("sdf"), 5);
  EXPECT_EQ(station.DiskCount(), 6u);
}

// A device node is opened once per handle, not once per request: each close
// of a disk opened for writing makes udev re-read its partition table.
TEST_F(SysfsFixture, AHandleKeepsOneDeviceNodeOpenForAllItsRequests) {
  platform::linux_host::DriveNaming naming((sys / "block").string(), dev.string(), "sda");
  platform::linux_host::SysfsStation station(sys, dev, transport, naming);
  CKelvUSBLib lib(station.Services());
  DeviceTable table;
  ASSERT_EQ(lib.Refresh(table, {}), kRefreshDone);
  ASSERT_EQ(table.device_count, 3u);
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

}  // namespace
}  // namespace linetool::device
