// The device server against qemu's side of usbredir played by a test guest:
// enumeration data, Bulk-Only Transport, its error recovery, plug events and
// the programmer's bulk link.

#include "sim/usb/device_server.h"

#include <gtest/gtest.h>

#include "sim/station/world_description.h"
#include "sim/usb/tests/redir_guest.h"
#include "sim/usb/tests/test_disk_target.h"
#include "tools/testing/scratch_dir.h"

namespace sim::usb {
namespace {

using testing::GuestReply;
using testing::RedirGuest;

constexpr std::uint8_t kIn = 0x81;
constexpr std::uint8_t kOut = 0x02;

std::vector<std::uint8_t> Cbw(std::uint32_t tag, std::uint32_t length, bool in, std::vector<std::uint8_t> cdb) {
  std::vector<std::uint8_t> w = {'U', 'S', 'B', 'C'};
  for (auto v : {tag, length}) {
    for (int i = 0; i < 4; ++i) w.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  w.push_back(in ? 0x80 : 0x00);
  w.push_back(0);
  w.push_back(static_cast<std::uint8_t>(cdb.size()));
  cdb.resize(16, 0);
  w.insert(w.end(), cdb.begin(), cdb.end());
  return w;
}

std::uint32_t Le32(const std::vector<std::uint8_t>& d, std::size_t at) {
  return std::uint32_t{d[at]} | (std::uint32_t{d[at + 1]} << 8) | (std::uint32_t{d[at + 2]} << 16) |
         (std::uint32_t{d[at + 3]} << 24);
}

station::BridgeSpec Bridge(int index, platform::UsbSpeed speed) {
  auto b = station::DefaultBridge(index);
  b.speed = speed;
  b.disk_size = 64ULL << 20;
  return b;
}

// Two bridges on root ports 1 and 2 (the second without a serial), a third
// behind a four-port hub on root port 3.
station::WorldSpec SmallWorld() {
  station::WorldSpec w;
  station::ControllerSpec c;
  c.root_hub.port_count = 4;
  c.root_hub.ports.push_back({1, Bridge(0, platform::UsbSpeed::kSuper), nullptr});
  auto unnamed = Bridge(1, platform::UsbSpeed::kHigh);
  unnamed.factory.serial.clear();
  c.root_hub.ports.push_back({2, unnamed, nullptr});
  auto hub = std::make_shared<station::HubSpec>();
  hub->port_count = 4;
  hub->ports.push_back({2, Bridge(2, platform::UsbSpeed::kSuper), nullptr});
  c.root_hub.ports.push_back({3, std::nullopt, hub});
  w.controllers.push_back(std::move(c));
  w.reload_delay_ms = 50;
  return w;
}

class DeviceServerTest : public ::testing::Test {
 protected:
  void Start(station::WorldSpec world, bool programmer = false) {
    // One folder per test: CTest runs tests of this suite at the same time.
    dir_ = test_support::ScratchDir(std::string("sim_usb_server_") +
                                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ServerOptions o;
    o.world = std::move(world);
    o.disk_folder = dir_ / "disks";
    o.dir = dir_ / "s";
    if (programmer) {
      romwright::ChipRecord chip{};
      chip.capacity = 4096;
      o.chip = chip;
    }
    server_ = std::make_unique<DeviceServer>(
        std::move(o), [](std::shared_ptr<station::SimBridge> m) { return std::make_unique<testing::TestDiskTarget>(m); },
        clock_);
    std::string error;
    ASSERT_TRUE(server_->Start(error)) << error;
  }
  std::unique_ptr<RedirGuest> Guest(const std::string& socket, int connects = 1) {
    auto g = std::make_unique<RedirGuest>((dir_ / "s" / socket).string());
    EXPECT_TRUE(g->Connected());
    EXPECT_TRUE(g->Hello());
    if (connects > 0) {
      EXPECT_TRUE(g->ConnectsReach(connects));
    }
    return g;
  }
  // One command: CBW, data phase, CSW; the data and the CSW.
  static std::pair<GuestReply, GuestReply> Command(RedirGuest& g, std::uint32_t tag, std::uint32_t length, bool in,
                                                   std::vector<std::uint8_t> cdb,
                                                   std::vector<std::uint8_t> out = {}) {
    EXPECT_EQ(g.Bulk(kOut, Cbw(tag, length, in, std::move(cdb)))->status, usb_redir_success);
    GuestReply data;
    if (length > 0) data = in ? *g.Bulk(kIn, {}, length) : *g.Bulk(kOut, std::move(out));
    return {data, *g.Bulk(kIn, {}, 13)};
  }

  platform::SteadyClock clock_{[] { return platform::LocalTime{}; }};
  std::filesystem::path dir_;
  std::unique_ptr<DeviceServer> server_;
};

TEST_F(DeviceServerTest, EachBridgeConnectsAtItsPortsSpeedWithItsDescriptors) {
  Start(SmallWorld());
  {
    auto g = Guest("dev-0.sock");
    EXPECT_EQ(g->Connect().speed, usb_redir_speed_super);
    EXPECT_EQ(g->Connect().vendor_id, 0x2E77);
    EXPECT_EQ(g->Connect().product_id, 0x7700);
    EXPECT_EQ(g->InterfaceInfo().interface_class[0], 0x08);
    EXPECT_EQ(g->InterfaceInfo().interface_subclass[0], 0x06);
    EXPECT_EQ(g->InterfaceInfo().interface_protocol[0], 0x50);
    EXPECT_EQ(g->EpInfo().type[0x11], usb_redir_type_bulk);  // 0x81
    EXPECT_EQ(g->EpInfo().max_packet_size[0x11], 1024);
    const auto device = g->Descriptor(1, 0, 18);
    ASSERT_TRUE(device);
    ASSERT_EQ(device->data.size(), 18u);
    EXPECT_EQ(device->data[2] | (device->data[3] << 8), 0x0300);
    EXPECT_EQ(device->data[7], 9);
    EXPECT_EQ(device->data[16], 3);  // iSerialNumber
    const auto config = g->Descriptor(2, 0, 255);
    ASSERT_TRUE(config);
    // configuration, interface, then endpoint + companion twice
    ASSERT_EQ(config->data.size(), 9u + 9u + 2u * (7u + 6u));
    EXPECT_EQ(config->data[2], config->data.size());
    EXPECT_EQ(config->data[18 + 1], 5);
    EXPECT_EQ(config->data[18 + 7 + 1], 48);
    EXPECT_EQ(config->data[18 + 4] | (config->data[18 + 5] << 8), 1024);
    const auto bos = g->Descriptor(15, 0, 255);
    ASSERT_TRUE(bos);
    ASSERT_EQ(bos->status, usb_redir_success);
    EXPECT_EQ(bos->data[4], 2);
    EXPECT_EQ(bos->data[5 + 7 + 2], 0x03);  // SuperSpeed device capability
    const auto serial = g->Descriptor(3, 3);
    ASSERT_TRUE(serial);
    std::string text;
    for (std::size_t i = 2; i + 1 < serial->data.size(); i += 2) text.push_back(static_cast<char>(serial->data[i]));
    EXPECT_EQ(text, station::DefaultBridge(0).factory.serial);
    // A truncated request gets what it asked for.
    EXPECT_EQ(g->Descriptor(2, 0, 9)->data.size(), 9u);
  }
  {
    auto g = Guest("dev-1.sock");
    EXPECT_EQ(g->Connect().speed, usb_redir_speed_high);
    const auto device = g->Descriptor(1, 0, 18);
    EXPECT_EQ(device->data[2] | (device->data[3] << 8), 0x0210);
    EXPECT_EQ(device->data[16], 0) << "no serial string";
    EXPECT_EQ(g->Descriptor(3, 3)->status, usb_redir_stall);
    EXPECT_EQ(g->EpInfo().max_packet_size[0x11], 512);
  }
  {
    auto g = Guest("dev-2.sock");
    EXPECT_EQ(g->Connect().speed, usb_redir_speed_full) << "behind qemu's full-speed hub";
    const auto device = g->Descriptor(1, 0, 18);
    EXPECT_EQ(device->data[2] | (device->data[3] << 8), 0x0200);
    EXPECT_EQ(device->data[7], 64);
    EXPECT_EQ(g->Descriptor(15)->status, usb_redir_stall);
    EXPECT_EQ(g->EpInfo().max_packet_size[0x11], 64);
    // Its link speed register (0x9002, read with E4) says full speed too.
    auto [speed, csw] = Command(*g, 1, 1, true, {0xE4, 1, 0, 0x90, 0x02, 0});
    ASSERT_EQ(speed.data.size(), 1u);
    EXPECT_EQ(speed.data[0], 0);
  }
}

TEST_F(DeviceServerTest, CommandsRunThroughBulkOnlyTransport) {
  Start(SmallWorld());
  auto g = Guest("dev-0.sock");
  EXPECT_EQ(g->Control(0xA1, 0xFE, 0, 0, 1)->data, std::vector<std::uint8_t>{0});  // GET MAX LUN

  auto [inquiry, csw] = Command(*g, 7, 36, true, {0x12, 0, 0, 0, 36, 0});
  EXPECT_EQ(inquiry.status, usb_redir_success);
  ASSERT_EQ(inquiry.data.size(), 36u);
  EXPECT_EQ(std::string(inquiry.data.begin() + 8, inquiry.data.begin() + 16), "VX      ");
  ASSERT_EQ(csw.data.size(), 13u);
  EXPECT_EQ(Le32(csw.data, 0), 0x53425355u);
  EXPECT_EQ(Le32(csw.data, 4), 7u);
  EXPECT_EQ(Le32(csw.data, 8), 0u);
  EXPECT_EQ(csw.data[12], 0);

  std::vector<std::uint8_t> sector(512);
  for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<std::uint8_t>(i * 7 + 1);
  auto [written, wcsw] = Command(*g, 8, 512, false, {0x2A, 0, 0, 0, 0, 5, 0, 0, 1, 0}, sector);
  EXPECT_EQ(written.status, usb_redir_success);
  EXPECT_EQ(wcsw.data[12], 0);
  // The data phase of a read may come in several IN transfers.
  EXPECT_EQ(g->Bulk(kOut, Cbw(9, 512, true, {0x28, 0, 0, 0, 0, 5, 0, 0, 1, 0}))->status, usb_redir_success);
  auto first = *g->Bulk(kIn, {}, 256);
  auto second = *g->Bulk(kIn, {}, 256);
  first.data.insert(first.data.end(), second.data.begin(), second.data.end());
  EXPECT_EQ(first.data, sector);
  EXPECT_EQ(g->Bulk(kIn, {}, 13)->data[12], 0);

  // The device has less than the host asked for: a short transfer and the
  // rest as residue.
  auto [capacity, ccsw] = Command(*g, 10, 64, true, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(capacity.data.size(), 8u);
  EXPECT_EQ(Le32(ccsw.data, 8), 56u);
  EXPECT_EQ(ccsw.data[12], 0);
  // The host asks for data of a command that has none.
  auto [none, ncsw] = Command(*g, 11, 512, true, {0x00, 0, 0, 0, 0, 0});
  EXPECT_TRUE(none.data.empty());
  EXPECT_EQ(Le32(ncsw.data, 8), 512u);
  // OUT data the device does not take is taken and counted.
  auto [unused, ucsw] = Command(*g, 12, 100, false, {0x00, 0, 0, 0, 0, 0}, std::vector<std::uint8_t>(100, 0xAA));
  EXPECT_EQ(unused.status, usb_redir_success);
  EXPECT_EQ(Le32(ucsw.data, 8), 100u);
  // A refused command ends with status 1.
  auto [refused, rcsw] = Command(*g, 13, 0, true, {0xE8, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(rcsw.data[12], 1);
}

TEST_F(DeviceServerTest, PhaseErrorsAndInvalidWrappersNeedTheResetRecovery) {
  Start(SmallWorld());
  auto g = Guest("dev-0.sock");
  const auto clear_halt = [&](std::uint8_t ep) { return g->Control(0x02, 1, 0, ep, 0)->status; };
  const auto endpoint_halted = [&](std::uint8_t ep) { return g->Control(0x82, 0, 0, ep, 2)->data.at(0) == 1; };

  // A lost command: the IN data phase stalls, the status says phase error.
  EXPECT_EQ(g->Bulk(kOut, Cbw(20, 512, true, {testing::kLostOpcode, 0, 0, 0, 0, 0}))->status, usb_redir_success);
  EXPECT_EQ(g->Bulk(kIn, {}, 512)->status, usb_redir_stall);
  EXPECT_TRUE(endpoint_halted(kIn));
  EXPECT_EQ(clear_halt(kIn), usb_redir_success);
  const auto csw = g->Bulk(kIn, {}, 13);
  EXPECT_EQ(csw->data.at(12), 2);
  // Until the reset recovery both endpoints stall, a clear alone does not help.
  EXPECT_EQ(g->Bulk(kOut, Cbw(21, 0, true, {0x00, 0, 0, 0, 0, 0}))->status, usb_redir_stall);
  EXPECT_EQ(clear_halt(kOut), usb_redir_success);
  EXPECT_TRUE(endpoint_halted(kOut));
  EXPECT_EQ(g->Control(0x21, 0xFF, 0, 0, 0)->status, usb_redir_success);  // Bulk-Only Mass Storage Reset
  EXPECT_TRUE(endpoint_halted(kOut));
  clear_halt(kIn);
  clear_halt(kOut);
  EXPECT_FALSE(endpoint_halted(kOut));
  auto [inquiry, icsw] = Command(*g, 22, 36, true, {0x12, 0, 0, 0, 36, 0});
  EXPECT_EQ(inquiry.data.size(), 36u);
  EXPECT_EQ(icsw.data[12], 0);

  // An invalid CBW (30 bytes) halts both at once.
  auto cbw = Cbw(23, 0, true, {0x00, 0, 0, 0, 0, 0});
  cbw.pop_back();
  EXPECT_EQ(g->Bulk(kOut, cbw)->status, usb_redir_stall);
  EXPECT_EQ(g->Bulk(kIn, {}, 13)->status, usb_redir_stall);
  g->Control(0x21, 0xFF, 0, 0, 0);
  clear_halt(kIn);
  clear_halt(kOut);
  EXPECT_EQ(Command(*g, 24, 0, true, {0x00, 0, 0, 0, 0, 0}).second.data.at(12), 0);

  // A wrapper asking for 4 GiB is refused before anything is held for it.
  EXPECT_EQ(g->Bulk(kOut, Cbw(25, 0xFFFFFFFF, true, {0x28, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0}))->status, usb_redir_stall);
  EXPECT_EQ(g->Bulk(kIn, {}, 13)->status, usb_redir_stall);
}

TEST_F(DeviceServerTest, RestartLeavesTheBusAfterTheStatusAndComesBackWithSlotZerosIdentity) {
  auto world = SmallWorld();
  station::BridgeIdentity next;
  next.vendor_id = 0x1234;
  next.product_id = 0x5678;
  next.serial = "NEWSERIAL01";
  next.manufacturer = "Line";
  next.product = "Box";
  station::BridgesOf(world)[0]->config_slot0 = station::ConfigBlockFor(next);
  station::BridgesOf(world)[0]->factory.vendor_id = 0x2E77;
  Start(world);
  auto g = Guest("dev-0.sock");
  // Slot 0 is valid from the start: the bridge came up with it.
  EXPECT_EQ(g->Connect().vendor_id, 0x1234);
  // Write the factory identity into slot 0 (E1), then restart (E8 00).
  auto block = station::ConfigBlockFor(station::DefaultBridge(0).factory);
  std::vector<std::uint8_t> bytes(block.begin(), block.end());
  EXPECT_EQ(Command(*g, 30, 128, false, {0xE1, 0, 0, 0, 0, 0}, bytes).second.data.at(12), 0);
  // The kernel sends a command without data with the OUT flag.
  const auto [none, csw] = Command(*g, 31, 0, false, {0xE8, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(csw.data.at(12), 0) << "the status comes before the bridge goes";
  ASSERT_TRUE(g->DisconnectsReach(1));
  EXPECT_EQ(g->Connects(), 1);
  ASSERT_TRUE(g->ConnectsReach(2)) << "back after the world's 50 ms";
  EXPECT_EQ(g->Connect().vendor_id, 0x2E77);
  const auto serial = g->Descriptor(3, 3);
  std::string text;
  for (std::size_t i = 2; i + 1 < serial->data.size(); i += 2) text.push_back(static_cast<char>(serial->data[i]));
  EXPECT_EQ(text, station::DefaultBridge(0).factory.serial);
}

TEST_F(DeviceServerTest, ControlSocketUnplugsAndPlugs) {
  Start(SmallWorld());
  auto g = Guest("dev-1.sock");
  std::string error;
  const auto status = SendControl(dir_ / "s", "status", error);
  ASSERT_TRUE(status) << error;
  EXPECT_NE(status->find("ok 3\n0 connected 2E77:7700 " + station::DefaultBridge(0).factory.serial + " no-vm"),
            std::string::npos)
      << *status;
  EXPECT_NE(status->find("\n1 connected 2E77:7700 - vm"), std::string::npos) << *status;
  // A pending IN transfer ends before the device goes.
  const auto pending = g->SendBulk(kIn, {}, 13);
  g->Drain(std::chrono::milliseconds(20));
  EXPECT_EQ(SendControl(dir_ / "s", "unplug 1", error), "ok unplug 1");
  ASSERT_TRUE(g->DisconnectsReach(1));
  EXPECT_EQ(g->Wait(pending)->status, usb_redir_cancelled);
  EXPECT_NE(SendControl(dir_ / "s", "status", error)->find("\n1 unplugged"), std::string::npos);
  EXPECT_EQ(SendControl(dir_ / "s", "plug 1", error), "ok plug 1");
  EXPECT_TRUE(g->ConnectsReach(2));
  EXPECT_EQ(SendControl(dir_ / "s", "unplug 3", error), "error no device 3");
  EXPECT_EQ(SendControl(dir_ / "s", "unplug programmer", error), "error no programmer");
  EXPECT_EQ(SendControl(dir_ / "s", "eject 1", error)->rfind("error", 0), 0u);
}

TEST_F(DeviceServerTest, ProgrammerAnswersThroughItsBulkEndpoints) {
  Start(station::WorldSpec{}, true);
  auto g = Guest("programmer.sock");
  EXPECT_EQ(g->Connect().vendor_id, 0x10C4);
  EXPECT_EQ(g->Connect().product_id, 0xF5A0);
  EXPECT_EQ(g->Connect().speed, usb_redir_speed_full);
  EXPECT_EQ(g->InterfaceInfo().interface_class[0], 0xFF);
  EXPECT_EQ(g->EpInfo().max_packet_size[0x12], 64);  // 0x82
  // A read waits for data without holding the device up.
  const auto read = g->SendBulk(0x82, {}, 128);
  g->Drain(std::chrono::milliseconds(20));
  EXPECT_FALSE(g->Answered(read));
  EXPECT_EQ(g->Bulk(0x01, {0x18, 0x00})->status, usb_redir_success);  // SERIAL
  const auto reply = g->Wait(read);
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->data.size(), 20u);
  EXPECT_EQ(reply->data[0], 0x18);
  EXPECT_EQ(std::string(reply->data.begin() + 2, reply->data.begin() + 13), "FPR71000421");
  // The host gives up a read: it ends as cancelled.
  const auto abandoned = g->SendBulk(0x82, {}, 64);
  g->Drain(std::chrono::milliseconds(20));
  g->CancelPacket(abandoned);
  EXPECT_EQ(g->Wait(abandoned)->status, usb_redir_cancelled);
  // Unplugged mid-read: the read ends, then the device goes; it comes back on plug.
  const auto cut = g->SendBulk(0x82, {}, 64);
  g->Drain(std::chrono::milliseconds(20));
  std::string error;
  EXPECT_EQ(SendControl(dir_ / "s", "unplug programmer", error), "ok unplug programmer");
  ASSERT_TRUE(g->DisconnectsReach(1));
  // The read in flight ends either way a host sees a device go: cancelled by
  // the unplug, or failed when the programmer left the bus first.
  const auto ended = g->Wait(cut);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(ended->status == usb_redir_cancelled || ended->status == usb_redir_ioerror) << int{ended->status};
  EXPECT_EQ(SendControl(dir_ / "s", "plug programmer", error), "ok plug programmer");
  EXPECT_TRUE(g->ConnectsReach(2));
}

TEST(QemuArgumentsTest, TopologyOfControllersHubsAndDevices) {
  std::string error;
  const auto args = QemuArguments(SmallWorld(), "/d", true, error);
  ASSERT_TRUE(args) << error;
  const std::vector<std::string> expected = {
      "-device", "qemu-xhci,id=xhci0,p2=4,p3=4",
      "-chardev", "socket,id=ud0,path=/d/dev-0.sock", "-device", "usb-redir,chardev=ud0,bus=xhci0.0,port=1",
      "-chardev", "socket,id=ud1,path=/d/dev-1.sock", "-device", "usb-redir,chardev=ud1,bus=xhci0.0,port=2",
      "-device", "usb-hub,bus=xhci0.0,port=3,ports=4",
      "-chardev", "socket,id=ud2,path=/d/dev-2.sock", "-device", "usb-redir,chardev=ud2,bus=xhci0.0,port=3.2",
      "-device", "qemu-xhci,id=xhci-prog,p2=1,p3=1",
      "-chardev", "socket,id=uprog,path=/d/programmer.sock", "-device", "usb-redir,chardev=uprog,bus=xhci-prog.0,port=1"};
  EXPECT_EQ(*args, expected);

  auto wide = SmallWorld();
  wide.controllers[0].root_hub.ports[2].hub->port_count = 9;
  EXPECT_FALSE(QemuArguments(wide, "/d", false, error));
  EXPECT_NE(error.find("1 to 8"), std::string::npos) << error;
  auto many = SmallWorld();
  many.controllers[0].root_hub.port_count = 16;
  EXPECT_FALSE(QemuArguments(many, "/d", false, error));
}

}  // namespace
}  // namespace sim::usb
