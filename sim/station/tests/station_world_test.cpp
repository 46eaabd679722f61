#include "sim/station/station_world.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <set>
#include <filesystem>
#include <random>

#include "sim/station/world_file.h"
#include "tools/testing/test_paths.h"

namespace sim::station {
namespace {

using namespace std::chrono_literals;

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("sim_world_" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

platform::ScsiRequest Cdb(std::initializer_list<std::uint8_t> bytes, platform::ScsiDirection dir,
                          std::uint32_t length) {
  platform::ScsiRequest r;
  std::size_t i = 0;
  for (auto b : bytes) r.cdb[i++] = b;
  r.cdb_length = static_cast<std::uint8_t>(i);
  r.direction = dir;
  r.transfer_length = length;
  r.timeout_seconds = 3;
  return r;
}

std::unique_ptr<platform::DeviceHandle> OpenDrive(StationWorld& w, int n,
                                                  std::uint32_t share = platform::kShareRead |
                                                                        platform::kShareWrite) {
  return w.Open({"\\\\.\\PHYSICALDRIVE" + std::to_string(n), platform::kAccessRead | platform::kAccessWrite,
                 share, platform::kOpenPlain});
}

TEST(StationWorld, DefaultWorldNumbersDisksAfterTheSystemDiskWithSparseImages) {
  TempDir dir;
  platform::ManualClock clock;
  StationWorld world(DefaultWorld(4), clock, dir.path());

  const auto disks = world.Disks();
  ASSERT_EQ(disks.size(), 5u);
  EXPECT_TRUE(disks[0].system_disk);
  EXPECT_EQ(disks[0].drive_number, 0);
  EXPECT_EQ(world.DiskCount(), 5u);
  std::set<std::uint64_t> sizes;
  for (std::size_t i = 1; i < disks.size(); ++i) {
    EXPECT_EQ(disks[i].drive_number, static_cast<int>(i));
    EXPECT_EQ(disks[i].device_index, static_cast<int>(i - 1));
    EXPECT_EQ(disks[i].sector_size, 512u);
    sizes.insert(disks[i].size_bytes);
    // Sparse: the file is as long as the disk but takes (almost) no blocks.
    EXPECT_EQ(std::filesystem::file_size(disks[i].image_path), disks[i].size_bytes);
    struct stat st {};
    ASSERT_EQ(::stat(disks[i].image_path.c_str(), &st), 0);
    EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, 1024u * 1024u);
  }
  EXPECT_EQ(sizes.size(), 4u);
  EXPECT_GE(*sizes.begin(), 32ULL << 30);

  auto h = OpenDrive(world, 2);
  ASSERT_TRUE(h);
  auto g = h->Geometry();
  ASSERT_TRUE(g);
  EXPECT_EQ(g->disk_size, disks[2].size_bytes);
  EXPECT_EQ(g->bytes_per_sector, 512u);
  std::vector<std::uint8_t> sector(512, 0xAB), back(512);
  auto image = world.DiskImage(2);
  ASSERT_TRUE(image);
  ASSERT_TRUE(image->Write(4096, sector));
  ASSERT_TRUE(image->Read(4096, back));
  EXPECT_EQ(back, sector);
  EXPECT_FALSE(image->Read(disks[2].size_bytes, back));  // past the end
  EXPECT_FALSE(OpenDrive(world, 9));
}

TEST(StationWorld, DefaultWorldSpreadsBridgesOverRootAndExternalHubs) {
  TempDir dir;
  platform::ManualClock clock;
  StationWorld world(DefaultWorld(18), clock, dir.path());
  EXPECT_EQ(world.DeviceCount(), 18u);
  auto paths = world.HostControllerPaths();
  ASSERT_EQ(paths.size(), 1u);
  auto root = world.OpenHub("\\\\.\\" + *world.OpenHostController(paths[0])->RootHubName());
  ASSERT_TRUE(root);
  EXPECT_EQ(root->PortCount(), 6);
  int bridges_on_root = 0, hubs = 0;
  std::set<std::string> serials;
  for (int p = 1; p <= *root->PortCount(); ++p) {
    auto c = root->Connection(p);
    ASSERT_TRUE(c);
    if (c->is_hub) {
      ++hubs;
      auto hub = world.OpenHub("\\\\?\\" + *root->ExternalHubName(p));
      ASSERT_TRUE(hub);
      for (int q = 1; q <= *hub->PortCount(); ++q) {
        if (hub->Connection(q)->status == platform::kUsbDeviceConnected) {
          auto s = hub->StringDescriptor(q, 3, 0x0409, 255);
          ASSERT_TRUE(s);
          serials.insert(std::string(s->begin(), s->end()));
        }
      }
    } else if (c->status == platform::kUsbDeviceConnected) {
      ++bridges_on_root;
    }
  }
  EXPECT_EQ(bridges_on_root, 3);
  EXPECT_EQ(hubs, 3);
  EXPECT_EQ(serials.size(), 15u);
}

// A valid type-0 configuration block for slot 0: `serial`, VID 0x1234.
SimConfigBlock SlotZeroBlock(const std::string& serial) {
  SimConfigBlock block;
  block.fill(0xFF);
  std::copy(serial.begin(), serial.end(), block.begin() + 4);
  block[0x50] = 0x34;
  block[0x51] = 0x12;
  block[0x57] = 0x00;
  block[0x58] = 0x02;
  block[126] = 0x5A;
  unsigned sum = 0;
  for (int i = 4; i <= 126; ++i) sum += block[static_cast<std::size_t>(i)];
  block[127] = static_cast<std::uint8_t>(sum);
  return block;
}

TEST(StationWorld, RestartTakesBridgeOffTheBusAndBringsItBackWithSlotZeroDescriptors) {
  TempDir dir;
  platform::ManualClock clock;
  StationWorld world(DefaultWorld(2), clock, dir.path());
  world.SetReloadDelay(3000ms);
  std::vector<platform::DeviceEvent> events;
  const int id = world.Subscribe([&](const platform::DeviceEvent& e) { events.push_back(e); });

  // Slot 0 gets a valid type-0 block: serial "NEWSERIAL", VID 0x1234.
  const SimConfigBlock block = SlotZeroBlock("NEWSERIAL");

  auto h = OpenDrive(world, 1);
  ASSERT_TRUE(h);
  std::vector<std::uint8_t> data(block.begin(), block.end());
  EXPECT_TRUE(h->Scsi(Cdb({0xE1, 0, 0, 0, 0, 0}, platform::ScsiDirection::kOut, 128), data).Good());
  // Tags survive the restart.
  EXPECT_TRUE(h->Scsi(Cdb({0xE5, 0x07, 0, 0xCA, 0x02, 0}, platform::ScsiDirection::kOut, 0), data).Good());
  EXPECT_TRUE(h->Scsi(Cdb({0xE8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, platform::ScsiDirection::kIn, 0), data)
                  .Good());
  EXPECT_FALSE(world.Online(0));
  EXPECT_FALSE(h->Scsi(Cdb({0x12, 0, 0, 0, 38, 0}, platform::ScsiDirection::kIn, 38), data).ok);
  EXPECT_EQ(world.DiskCount(), 2u);
  // Bridge 1 (drive 2) stays; drive 1 is free while bridge 0 is away.
  EXPECT_FALSE(OpenDrive(world, 1));

  clock.Advance(2999ms);
  EXPECT_FALSE(world.Online(0));
  clock.Advance(1ms);
  EXPECT_TRUE(world.Online(0));
  EXPECT_EQ(world.DriveNumberOf(0), 1);
  EXPECT_EQ(world.WithDevice(0, [](SimBridge& b) { return b.Identity().serial; }), "NEWSERIAL");
  EXPECT_EQ(world.WithDevice(0, [](SimBridge& b) { return b.Identity().vendor_id; }), 0x1234);
  EXPECT_EQ(world.WithDevice(0, [](SimBridge& b) { return b.Register(kRegTag1); }), 0x07);
  // The old handle is stale; a new one works.
  EXPECT_FALSE(h->Scsi(Cdb({0x12, 0, 0, 0, 38, 0}, platform::ScsiDirection::kIn, 38), data).ok);
  ASSERT_TRUE(OpenDrive(world, 1));

  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, platform::DeviceEventKind::kRemoval);
  EXPECT_EQ(events[1].kind, platform::DeviceEventKind::kArrival);
  EXPECT_EQ(events[1].device_name, "\\\\.\\PHYSICALDRIVE1");
  world.Unsubscribe(id);
}

TEST(StationWorld, ReturningBridgeTakesTheLowestFreeNumberAndSafeRemovalNeedsAPlug) {
  TempDir dir;
  platform::ManualClock clock;
  StationWorld world(DefaultWorld(2), clock, dir.path());
  std::vector<std::uint8_t> none(1);
  auto restart = Cdb({0xE8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, platform::ScsiDirection::kIn, 0);
  world.WithDevice(0, [](SimBridge& b) { b.Faults().return_delay_ms = 5000; });
  OpenDrive(world, 1)->Scsi(restart, none);
  OpenDrive(world, 2)->Scsi(restart, none);
  clock.Advance(std::chrono::milliseconds(2000));
  // Bridge 1 is back first and takes drive 1.
  EXPECT_EQ(world.DriveNumberOf(1), 1);
  EXPECT_EQ(world.DriveNumberOf(0), std::nullopt);

  auto remove = Cdb({0xE8, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, platform::ScsiDirection::kIn, 0);
  EXPECT_TRUE(OpenDrive(world, 1)->Scsi(remove, none).Good());
  clock.Advance(std::chrono::milliseconds(60000));
  EXPECT_FALSE(world.Online(1));
  EXPECT_EQ(world.DriveNumberOf(0), 1);
  world.Plug(1);
  EXPECT_EQ(world.DriveNumberOf(1), 2);
}

TEST(StationWorld, APulledBridgeLosesItsRegistersAndKeepsItsFlash) {
  TempDir dir;
  platform::ManualClock clock;
  auto spec = DefaultWorld(1);
  BridgesOf(spec)[0]->registers[0xC100] = 0x42;  // a power-on value of the world file
  StationWorld world(spec, clock, dir.path());
  std::vector<std::uint8_t> data(128, 0x00);
  const SimConfigBlock block = SlotZeroBlock("KEPTSERIAL");
  std::copy(block.begin(), block.end(), data.begin());
  {
    auto h = OpenDrive(world, 1);
    ASSERT_TRUE(h);
    ASSERT_TRUE(h->Scsi(Cdb({0xE1, 0, 0, 0, 0, 0}, platform::ScsiDirection::kOut, 128), data).Good());
    ASSERT_TRUE(h->Scsi(Cdb({0xE5, 0x07, 0, 0xCA, 0x02, 0}, platform::ScsiDirection::kOut, 0), data).Good());
    ASSERT_TRUE(h->Scsi(Cdb({0xE5, 0x99, 0, 0xC1, 0x00, 0}, platform::ScsiDirection::kOut, 0), data).Good());
  }
  const auto reg = [&](std::uint16_t a) { return world.WithDevice(0, [a](SimBridge& b) { return b.Register(a); }); };
  ASSERT_EQ(reg(kRegTag1), 0x07);
  world.Unplug(0);
  world.Plug(0);
  EXPECT_EQ(reg(kRegTag1), 0x00);
  EXPECT_EQ(reg(0xC100), 0x42);
  EXPECT_EQ(reg(kRegUaspStatus), 0x80);
  EXPECT_EQ(reg(kRegChipVariant), 0x11);
  EXPECT_EQ(world.WithDevice(0, [](SimBridge& b) { return b.ConfigSlot(0); }), block);
  EXPECT_EQ(world.WithDevice(0, [](SimBridge& b) { return b.Identity().serial; }), "KEPTSERIAL");

  // A bridge plugged again after a safe removal was pulled in between too.
  {
    auto h = OpenDrive(world, 1);
    ASSERT_TRUE(h);
    ASSERT_TRUE(h->Scsi(Cdb({0xE5, 0x05, 0, 0xCA, 0x03, 0}, platform::ScsiDirection::kOut, 0), data).Good());
    ASSERT_TRUE(h->Scsi(Cdb({0xE8, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, platform::ScsiDirection::kIn, 0), data).Good());
  }
  world.Plug(0);
  EXPECT_EQ(reg(kRegTag2), 0x00);
}

TEST(StationWorld, ExclusiveOpensAndQueryOpens) {
  TempDir dir;
  platform::ManualClock clock;
  StationWorld world(DefaultWorld(1), clock, dir.path());
  {
    auto shared = OpenDrive(world, 1);
    ASSERT_TRUE(shared);
    EXPECT_FALSE(OpenDrive(world, 1, platform::kShareNone));
    // A query-only open is always allowed.
    EXPECT_TRUE(world.Open({"\\\\.\\PHYSICALDRIVE1", platform::kAccessNone, platform::kShareNone, 0}));
  }
  auto exclusive = OpenDrive(world, 1, platform::kShareNone);
  ASSERT_TRUE(exclusive);
  EXPECT_FALSE(OpenDrive(world, 1));
  exclusive.reset();
  EXPECT_TRUE(OpenDrive(world, 1));
}

TEST(SimBridge, AnswersVendorCommandsStrictlyAndFailsOnRequest) {
  SimBridge::Options o;
  o.faults.fail_from_call[0xE4] = 3;
  SimBridge b(o);
  std::vector<std::uint8_t> data(65536);
  using platform::ScsiDirection;
  // A register read must move exactly the length its CDB names (0 = 256).
  EXPECT_TRUE(b.Execute(Cdb({0xE4, 0, 0, 0x07, 0xF0, 0}, ScsiDirection::kIn, 256), data, 1).Good());
  EXPECT_EQ(data[0], 0x12);
  EXPECT_EQ(b.Execute(Cdb({0xE4, 1, 0, 0x07, 0xF0, 0}, ScsiDirection::kIn, 2), data, 1).scsi_status,
            platform::kScsiStatusCheckCondition);
  EXPECT_FALSE(b.Execute(Cdb({0xE4, 1, 0, 0xC8, 0xFF, 0}, ScsiDirection::kIn, 1), data, 1).ok);

  // E3 chunks through one handle make one image; another handle starts anew.
  std::fill(data.begin(), data.end(), 0x11);
  EXPECT_TRUE(b.Execute(Cdb({0xE3, 1, 0, 0, 0, 0}, ScsiDirection::kOut, 65536), data, 7).Good());
  EXPECT_TRUE(b.Execute(Cdb({0xE3, 1, 0, 0, 0, 0}, ScsiDirection::kOut, 3), data, 7).Good());
  EXPECT_EQ(b.FirmwareSlot(1).size(), 65539u);
  EXPECT_TRUE(b.Execute(Cdb({0xE3, 1, 0, 0, 0, 0}, ScsiDirection::kOut, 5), data, 8).Good());
  EXPECT_EQ(b.FirmwareSlot(1).size(), 5u);
  EXPECT_EQ(b.FirmwareStreams(1), 2u);
  EXPECT_TRUE(b.FirmwareSlot(0).empty());
  EXPECT_EQ(b.Execute(Cdb({0xE3, 2, 0, 0, 0, 0}, ScsiDirection::kOut, 5), data, 8).scsi_status,
            platform::kScsiStatusCheckCondition);

  // No disk behind it: IDENTIFY is refused.
  EXPECT_EQ(b.Execute(Cdb({0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC, 0, 0}, ScsiDirection::kIn, 512), data, 1)
                .scsi_status,
            platform::kScsiStatusCheckCondition);
}

TEST(WorldFile, ReadsAMixedWorldAndRejectsBadOnes) {
  std::string error;
  auto w = ParseWorld(R"({
    "reload_delay_ms": 500,
    "controllers": [ { "root_hub": { "ports": 4, "devices": [
      { "port": 1, "bridge": { "serial": "AB12", "chip_variant": "0x70", "disk_size": "2TB", "speed": "high" } },
      { "port": 2, "stick": {} },
      { "port": 3, "hub": { "ports": 2, "devices": [
        { "port": 2, "bridge": { "cdrom": true, "faults": { "fail_from_call": { "E1": 2 }, "never_returns": true } } } ] } }
    ] } } ] })",
                      error);
  ASSERT_TRUE(w) << error;
  EXPECT_EQ(w->reload_delay_ms, 500u);
  const auto& ports = w->controllers.at(0).root_hub.ports;
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].device->factory.serial, "AB12");
  EXPECT_EQ(ports[0].device->chip_variant, 0x70);
  EXPECT_EQ(ports[0].device->disk_size, 2000000000000ULL);
  EXPECT_EQ(ports[0].device->speed, platform::UsbSpeed::kHigh);
  EXPECT_TRUE(ports[1].device->mass_storage_only);
  const auto& cd = *ports[2].hub->ports.at(0).device;
  EXPECT_TRUE(cd.presents_cdrom);
  EXPECT_EQ(cd.faults.fail_from_call.at(0xE1), 2u);
  EXPECT_TRUE(cd.faults.never_returns);

  EXPECT_FALSE(ParseWorld(R"({"controllers": [ { "root_hub": { "ports": 2, "devices": [ { "port": 3, "bridge": {} } ] } } ]})", error));
  EXPECT_NE(error.find("port 3"), std::string::npos);
  EXPECT_FALSE(ParseWorld(R"({"controllers": [ { "root_hub": { "devices": [ { "port": 1, "bridge": { "disk_size": "3 XB" } } ] } } ]})", error));
  EXPECT_NE(error.find("unit"), std::string::npos);
  EXPECT_FALSE(ParseWorld("{ not json", error));
  EXPECT_FALSE(error.empty());
}


// Inputs that once crashed the simulator or were read as something else.
TEST(WorldFile, HostileFilesAreRefusedWithTheirLineAndField) {
  const std::pair<const char*, const char*> cases[] = {
      {"world-disk-size-huge.json", "line 1: disk_size: \"9223372036854775807\" is not a size"},
      {"world-disk-size-wraps.json", "line 1: disk_size: \"20000000TB\" is not a size"},
      {"world-disk-size-max.json", "line 1: disk_size: 18446744073709551615 is not a size"},
      {"world-nested-hubs-10000.json", "line 1: nested deeper than 64 levels"},
      {"world-port-1e99.json", "line 1: port: expected a whole number from 1 to 127"},
      {"world-reload-delay-negative.json", "line 2: reload_delay_ms: expected a whole number from 0 to 3600000"},
      {"world-vendor-id-65537.json", "line 4: vendor_id: expected a whole number from 0 to 65535"},
  };
  for (const auto& [file, message] : cases) {
    std::string error;
    const auto path = std::filesystem::path(test_support::kSimTestData) / file;
    EXPECT_FALSE(ReadWorldFile(path, error)) << file;
    EXPECT_EQ(error.rfind(path.string() + ": " + message, 0), 0u) << error;
  }
}

TEST(WorldFile, SizesCountsDepthsAndIdsStayWithinWhatTheDevicesAllow) {
  const auto bridge = [](const std::string& fields) {
    return R"({"controllers": [ { "root_hub": { "ports": 2, "devices": [ { "port": 1, "bridge": {)" + fields +
           "} } ] } } ] }";
  };
  std::string error;
  // The largest disk the simulator holds, in bytes and with a unit; one more is refused.
  auto w = ParseWorld(bridge(R"("disk_size": )" + std::to_string(kMaxSimDiskBytes)), error);
  ASSERT_TRUE(w) << error;
  EXPECT_EQ(BridgesOf(*w).front()->disk_size, kMaxSimDiskBytes);
  EXPECT_FALSE(ParseWorld(bridge(R"("disk_size": )" + std::to_string(kMaxSimDiskBytes + 1)), error));
  EXPECT_TRUE(ParseWorld(bridge(R"("disk_size": "16000GB")"), error)) << error;
  EXPECT_FALSE(ParseWorld(bridge(R"("disk_size": "16TiB")"), error));
  EXPECT_FALSE(ParseWorld(bridge(R"("disk_size": "99999999999999999999999")"), error));
  EXPECT_FALSE(ParseWorld(bridge(R"("disk_size": -5)"), error));
  EXPECT_NE(error.find("disk_size"), std::string::npos);
  // Ids: hex texts or numbers, never cut to their low bits.
  w = ParseWorld(bridge(R"("vendor_id": "FFFF", "product_id": 4660, "chip_variant": "0x70")"), error);
  ASSERT_TRUE(w) << error;
  EXPECT_EQ(BridgesOf(*w).front()->factory.vendor_id, 0xFFFF);
  EXPECT_EQ(BridgesOf(*w).front()->factory.product_id, 0x1234);
  EXPECT_FALSE(ParseWorld(bridge(R"("vendor_id": "10000")"), error));
  EXPECT_FALSE(ParseWorld(bridge(R"("chip_variant": 256)"), error));
  EXPECT_FALSE(ParseWorld(bridge(R"("release": 1.5)"), error));
  EXPECT_FALSE(ParseWorld(bridge(R"("serial": 12)"), error));
  EXPECT_FALSE(ParseWorld(bridge(R"("serial": ")" + std::string(127, 'S') + "\""), error));
  EXPECT_FALSE(ParseWorld(bridge(R"("faults": { "fail_from_call": { "E1": -1 } })"), error));
  EXPECT_FALSE(ParseWorld(bridge(R"("faults": { "return_delay_ms": 1e9 })"), error));
  EXPECT_FALSE(ParseWorld(bridge(R"("cdrom": "yes")"), error));

  // Five hubs in a chain below the root hub, as USB allows; not six.
  const auto chain = [](int hubs) {
    std::string inner = R"({ "port": 1, "bridge": {} })";
    for (int i = 0; i < hubs; ++i) inner = R"({ "port": 1, "hub": { "ports": 1, "devices": [ )" + inner + " ] } }";
    return R"({"controllers": [ { "root_hub": { "ports": 1, "devices": [ )" + inner + " ] } } ] }";
  };
  w = ParseWorld(chain(5), error);
  ASSERT_TRUE(w) << error;
  EXPECT_EQ(BridgesOf(*w).size(), 1u);
  EXPECT_FALSE(ParseWorld(chain(6), error));
  EXPECT_NE(error.find("more than 5 hubs"), std::string::npos) << error;

  // The line of the field at fault, in a file of many lines.
  EXPECT_FALSE(ParseWorld("{\n \"controllers\": [\n  { \"root_hub\": {\n   \"ports\": 300\n  } }\n ]\n}\n", error));
  EXPECT_EQ(error, "line 4: ports: expected a whole number from 1 to 127");
}

// A USB mass-storage transport carries no direction for a request without
// data: E5 and E8 arrive in either direction and are carried out alike,
// while a request that moves data is still held to its direction.
TEST(SimBridge, TakesARequestWithoutDataInEitherDirection) {
  SimBridge b(SimBridge::Options{});
  std::vector<std::uint8_t> data(128);
  using platform::ScsiDirection;
  EXPECT_TRUE(b.Execute(Cdb({0xE5, 0x5A, 0, 0xCA, 0x02, 0}, ScsiDirection::kIn, 0), data, 1).Good());
  EXPECT_EQ(b.Register(kRegTag1), 0x5A);
  EXPECT_TRUE(b.Execute(Cdb({0xE8, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ScsiDirection::kOut, 0), data, 1).Good());
  EXPECT_EQ(b.TakeAction(), BridgeAction::kSafeRemove);
  EXPECT_TRUE(b.Execute(Cdb({0x12, 0, 0, 0, 0, 0}, ScsiDirection::kOut, 0), data, 1).Good());

  EXPECT_EQ(b.Execute(Cdb({0xE0, 0, 0, 0, 0, 0}, ScsiDirection::kOut, 128), data, 1).scsi_status,
            platform::kScsiStatusCheckCondition);
  EXPECT_EQ(b.Execute(Cdb({0x12, 0, 0, 0, 38, 0}, ScsiDirection::kOut, 38), data, 1).scsi_status,
            platform::kScsiStatusCheckCondition);
  EXPECT_EQ(b.Execute(Cdb({0xE2, 0, 0, 0, 0, 0}, ScsiDirection::kOut, 16), data, 1).scsi_status,
            platform::kScsiStatusCheckCondition);
}

TEST(SimDisk, TheLargestDiskIsWrittenAtItsLastSector) {
  TempDir dir;
  // Larger sizes are held to the largest the simulator has: the last area of
  // the disk is tracked like every other.
  SimDisk disk(dir.path() / "big.img", ~std::uint64_t{0}, "S1");
  EXPECT_EQ(disk.SizeBytes(), kMaxSimDiskBytes);
  std::vector<std::uint8_t> sector(kSimSectorSize, 0xA5);
  std::vector<std::uint8_t> back(kSimSectorSize);
  ASSERT_TRUE(disk.Write(disk.SizeBytes() - sector.size(), sector));
  ASSERT_TRUE(disk.Write(disk.SizeBytes() - sector.size(), std::vector<std::uint8_t>(kSimSectorSize, 0)));
  ASSERT_TRUE(disk.Read(disk.SizeBytes() - sector.size(), back));
  EXPECT_EQ(back, std::vector<std::uint8_t>(kSimSectorSize, 0));
}

// A bridge with register values and configuration slots from the file; each
// bad entry is refused naming its field.
TEST(WorldFile, RegistersAndConfigSlots) {
  std::string slot1(256, 'F');
  slot1.replace(122 * 2, 2, "F7");
  slot1.replace(125 * 2, 2, "81");
  std::string error;
  auto w = ParseWorld(R"({ "controllers": [ { "root_hub": { "devices": [ { "port": 1, "bridge": {
      "chip_variant": "0x11",
      "registers": { "0xC890": "0x04", "C8FF": 18, "9000": "0" },
      "config_slots": [ null, ")" + slot1 + R"(" ] } } ] } } ] })",
                      error);
  ASSERT_TRUE(w) << error;
  const BridgeSpec& b = *w->controllers.at(0).root_hub.ports.at(0).device;
  EXPECT_EQ(b.registers, (std::map<std::uint16_t, std::uint8_t>{{0xC890, 0x04}, {0xC8FF, 0x12}, {0x9000, 0x00}}));
  EXPECT_FALSE(b.config_slot0);
  ASSERT_TRUE(b.config_slot1);
  EXPECT_EQ((*b.config_slot1)[122], 0xF7);
  EXPECT_EQ((*b.config_slot1)[125], 0x81);

  // The registers are set over the variant and the defaults.
  TempDir dir;
  platform::ManualClock clock;
  StationWorld world(*w, clock, dir.path());
  world.WithDevice(0, [](SimBridge& bridge) {
    EXPECT_EQ(bridge.Register(0xC8FF), 0x12);
    EXPECT_EQ(bridge.Register(0x9000), 0x00);
    EXPECT_EQ(bridge.ConfigSlot(1)[125], 0x81);
    EXPECT_EQ(bridge.ConfigSlot(0)[125], 0xFF);
  });

  const auto refused = [&](const std::string& fields, const std::string& said) {
    const std::string text = R"({ "controllers": [ { "root_hub": { "devices": [ { "port": 1, "bridge": { )" + fields +
                             " } } ] } } ] }";
    EXPECT_FALSE(ParseWorld(text, error)) << fields;
    EXPECT_NE(error.find(said), std::string::npos) << fields << ": " << error;
  };
  refused(R"("registers": { "0x10000": 1 })", "registers: \"0x10000\" is not a register address");
  refused(R"("registers": { "C890": "0x100" })", "C890: expected a whole number from 0 to 255");
  refused(R"("registers": { "C890": -1 })", "C890: expected a whole number from 0 to 255");
  refused(R"("registers": [ 1 ])", "registers: expected an object");
  refused(R"("config_slots": [ "FF" ])", "config_slots[0]: expected 128 bytes, found 1");
  refused(R"("config_slots": [ null, "G" ])", "config_slots[1]: 'G' is not a hex digit");
  refused(R"("config_slots": [ null, null, null ])", "config_slots: expected a list of at most two slots");
  refused(R"("config_slots": [ 5 ])", "config_slots[0]: expected a text");
  // The line of the entry at fault.
  EXPECT_FALSE(ParseWorld("{ \"controllers\": [ { \"root_hub\": { \"devices\": [ { \"port\": 1, \"bridge\": {\n"
                          "  \"registers\": { \"9000\": 1,\n"
                          "    \"C890\": 512 } } } ] } } ] }",
                          error));
  EXPECT_EQ(error, "line 3: C890: expected a whole number from 0 to 255 (or a hex text)");
}


TEST(SimDisk, ZerosOverHolesStayHolesAndZerosOverDataReplaceIt) {
  TempDir dir;
  const auto image = dir.path() / "disk.img";
  constexpr std::uint64_t kMiB = 1024 * 1024;
  std::vector<std::uint8_t> data(4096, 0x5A);
  std::vector<std::uint8_t> zeros(8 * kMiB, 0);
  std::vector<std::uint8_t> back(4096);
  {
    SimDisk disk(image, 2000 * kMiB, "S1");
    // Data just below an area boundary and just above it.
    ASSERT_TRUE(disk.Write(kMiB - 2048, data));
    ASSERT_TRUE(disk.Write(5 * kMiB, data));
    // A large clear spanning both written areas and many holes.
    ASSERT_TRUE(disk.Write(0, zeros));
    ASSERT_TRUE(disk.Read(kMiB - 2048, back));
    EXPECT_EQ(back, std::vector<std::uint8_t>(4096, 0));
    ASSERT_TRUE(disk.Read(5 * kMiB, back));
    EXPECT_EQ(back, std::vector<std::uint8_t>(4096, 0));
    // Zeros far out on the disk take no room in the image.
    for (std::uint64_t at = 1000 * kMiB; at < 1400 * kMiB; at += zeros.size()) ASSERT_TRUE(disk.Write(at, zeros));
    struct stat st {};
    ASSERT_EQ(::stat(image.c_str(), &st), 0);
    EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, 8 * kMiB);
    ASSERT_TRUE(disk.Write(1500 * kMiB, data));
  }
  // A reused image keeps its data, and a clear over it still reaches the file.
  SimDisk again(image, 2000 * kMiB, "S1");
  ASSERT_TRUE(again.Read(1500 * kMiB, back));
  EXPECT_EQ(back, data);
  ASSERT_TRUE(again.Write(1500 * kMiB, std::vector<std::uint8_t>(4096, 0)));
  ASSERT_TRUE(again.Read(1500 * kMiB, back));
  EXPECT_EQ(back, std::vector<std::uint8_t>(4096, 0));
}

}  // namespace
}  // namespace sim::station
