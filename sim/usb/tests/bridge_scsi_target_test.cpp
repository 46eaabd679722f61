#include "sim/usb/bridge_scsi_target.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "tools/testing/scratch_dir.h"

namespace sim::usb {
namespace {

using platform::ScsiDirection;
using sim::station::SimBridge;
using sim::station::SimDisk;

struct Reply {
  ScsiOutcome outcome;
  std::vector<std::uint8_t> data;  // for data in: the bytes the device moved

  bool Good() const {
    return outcome.completion == ScsiCompletion::kDone && outcome.status == platform::kScsiStatusGood;
  }
  bool Check() const {
    return outcome.completion == ScsiCompletion::kDone && outcome.status == platform::kScsiStatusCheckCondition;
  }
  bool PhaseError() const { return outcome.completion == ScsiCompletion::kPhaseError; }
};

std::uint64_t Be(const std::vector<std::uint8_t>& d, std::size_t at, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = (v << 8) | d.at(at + i);
  return v;
}

class Rig {
 public:
  // A bridge over a disk of `size` bytes (no disk at all for nullopt).
  explicit Rig(std::optional<std::uint64_t> size, std::uint32_t sector = sim::station::kSimSectorSize,
               SimBridge::Options options = {}) {
    if (size) {
      static int rigs = 0;
      const auto dir = test_support::ScratchDir(std::string("bridge_scsi_target_") +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                               "_" + std::to_string(++rigs));
      options.disk = std::make_shared<SimDisk>(dir / "disk.img", *size, "WD-SIM0042", sector);
    }
    bridge = std::make_shared<SimBridge>(options);
    target = std::make_unique<BridgeScsiTarget>(bridge);
  }

  Reply Run(std::vector<std::uint8_t> cdb, ScsiDirection dir, std::uint32_t length,
            std::vector<std::uint8_t> out = {}) {
    std::vector<std::uint8_t> data = dir == ScsiDirection::kOut ? out : std::vector<std::uint8_t>(length, 0xEE);
    data.resize(length);
    Reply r{target->Execute({cdb, dir, length}, data), {}};
    if (dir == ScsiDirection::kIn) data.resize(std::min<std::size_t>(r.outcome.data_length, data.size()));
    if (dir == ScsiDirection::kIn) r.data = data;
    return r;
  }
  Reply In(std::vector<std::uint8_t> cdb, std::uint32_t length) { return Run(cdb, ScsiDirection::kIn, length); }
  Reply Out(std::vector<std::uint8_t> cdb, std::vector<std::uint8_t> payload) {
    const auto n = static_cast<std::uint32_t>(payload.size());
    return Run(cdb, ScsiDirection::kOut, n, payload);
  }
  Reply None(std::vector<std::uint8_t> cdb) { return Run(cdb, ScsiDirection::kOut, 0); }

  // Key, ASC, ASCQ of fixed-format sense data, as REQUEST SENSE reports them.
  std::tuple<int, int, int> Sense() {
    const auto r = In({0x03, 0, 0, 0, 18, 0}, 18);
    EXPECT_TRUE(r.Good());
    EXPECT_EQ(r.data.size(), 18u);
    return {r.data.at(2) & 0x0F, r.data.at(12), r.data.at(13)};
  }

  std::shared_ptr<SimBridge> bridge;
  std::unique_ptr<BridgeScsiTarget> target;
};

using Sense = std::tuple<int, int, int>;
const Sense kNoSense{0, 0, 0};
const Sense kMediumNotPresent{2, 0x3A, 0};
const Sense kInvalidOpcode{5, 0x20, 0};
const Sense kInvalidField{5, 0x24, 0};
const Sense kLbaOutOfRange{5, 0x21, 0};

std::vector<std::uint8_t> Cdb10(std::uint8_t op, std::uint32_t lba, std::uint16_t count) {
  return {op, 0, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0,
          static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count), 0};
}

std::vector<std::uint8_t> Cdb16(std::uint8_t op, std::uint64_t lba, std::uint32_t count) {
  std::vector<std::uint8_t> c(16, 0);
  c[0] = op;
  for (int i = 0; i < 8; ++i) c[2 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(lba >> (56 - 8 * i));
  for (int i = 0; i < 4; ++i) c[10 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(count >> (24 - 8 * i));
  return c;
}

const std::vector<std::uint8_t> kReadCapacity16{0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0};

class SdProbe : public ::testing::TestWithParam<std::uint32_t> {};

// What the kernel's disk driver and the device manager's probes ask of a new
// disk, on a 512-byte and a 4Kn disk of 64 MiB.
TEST_P(SdProbe, AnswersTheProbeOfADisk) {
  const std::uint32_t sector = GetParam();
  const std::uint64_t blocks = (64ULL << 20) / sector;
  Rig rig(64ULL << 20, sector);
  const auto model = rig.bridge->StandardInquiry();

  // Standard INQUIRY: the model's data, for any allocation length.
  auto r = rig.In({0x12, 0, 0, 0, 36, 0}, 36);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data, std::vector<std::uint8_t>(model.begin(), model.begin() + 36));
  r = rig.In({0x12, 0, 0, 0x01, 0x00, 0}, 256);  // 256: more than one byte holds
  ASSERT_TRUE(r.Good());
  ASSERT_EQ(r.data.size(), 256u);
  EXPECT_TRUE(std::equal(model.begin(), model.end(), r.data.begin()));
  EXPECT_EQ(r.data[36], 0x05);
  EXPECT_EQ(r.data[255], 0x00);
  r = rig.In({0x12, 0, 0, 0, 96, 0}, 36);  // the host's length is shorter: cut, GOOD
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data.size(), 36u);
  EXPECT_EQ(rig.bridge->Calls(0x12), 3u);

  EXPECT_TRUE(rig.None({0, 0, 0, 0, 0, 0}).Good());

  r = rig.In({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(Be(r.data, 0, 4), blocks - 1);
  EXPECT_EQ(Be(r.data, 4, 4), sector);
  r = rig.In(kReadCapacity16, 32);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(Be(r.data, 0, 8), blocks - 1);
  EXPECT_EQ(Be(r.data, 8, 4), sector);
  EXPECT_EQ(r.data[13], 0);  // one logical block per physical block

  // MODE SENSE(6), all pages in 192 bytes: header, block descriptor, the
  // caching page with the write cache off, the exceptions page.
  r = rig.In({0x1A, 0, 0x3F, 0, 192, 0}, 192);
  ASSERT_TRUE(r.Good());
  ASSERT_EQ(r.data.size(), 4u + 8 + 20 + 12);
  EXPECT_EQ(r.data[0], r.data.size() - 1);
  EXPECT_EQ(r.data[2] & 0x80, 0);  // not write protected
  EXPECT_EQ(r.data[3], 8);
  EXPECT_EQ(Be(r.data, 5, 3), blocks);
  EXPECT_EQ(Be(r.data, 9, 3), sector);
  EXPECT_EQ(r.data[12], 0x08);
  EXPECT_EQ(r.data[14] & 0x04, 0);  // WCE
  EXPECT_EQ(r.data[32], 0x1C);
  // MODE SENSE(10): no block descriptor, a long one, page 0, a short host.
  r = rig.In({0x5A, 0x08, 0x08, 0, 0, 0, 0, 0, 64, 0}, 64);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data.size(), 8u + 20);
  EXPECT_EQ(Be(r.data, 0, 2), 26u);
  EXPECT_EQ(r.data[8], 0x08);
  r = rig.In({0x5A, 0x10, 0x1C, 0, 0, 0, 0, 0, 64, 0}, 64);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data[4], 0x01);
  EXPECT_EQ(Be(r.data, 6, 2), 16u);
  EXPECT_EQ(Be(r.data, 8, 8), blocks);
  EXPECT_EQ(Be(r.data, 20, 4), sector);
  EXPECT_EQ(r.data[24], 0x1C);
  r = rig.In({0x1A, 0, 0x00, 0, 4, 0}, 4);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data, (std::vector<std::uint8_t>{11, 0, 0, 8}));
  EXPECT_TRUE(rig.In({0x1A, 0, 0xC8, 0, 192, 0}, 192).Check());  // saved values
  EXPECT_EQ(rig.Sense(), (Sense{5, 0x39, 0}));
  EXPECT_TRUE(rig.In({0x1A, 0, 0x2A, 0, 192, 0}, 192).Check());  // no CD page on a disk
  EXPECT_EQ(rig.Sense(), kInvalidField);

  // Vital product data: the pages, the disk's serial, the identification.
  r = rig.In({0x12, 1, 0x00, 0, 255, 0}, 255);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data, (std::vector<std::uint8_t>{0, 0, 0, 3, 0x00, 0x80, 0x83}));
  r = rig.In({0x12, 1, 0x80, 0, 255, 0}, 255);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(std::string(r.data.begin() + 4, r.data.end()), "WD-SIM0042");
  r = rig.In({0x12, 1, 0x83, 0, 255, 0}, 255);
  ASSERT_TRUE(r.Good());
  ASSERT_GE(r.data.size(), 8u);
  EXPECT_EQ(r.data[5] & 0x0F, 1);  // T10 vendor identification
  EXPECT_EQ(r.data[4] & 0x0F, 2);  // ASCII
  EXPECT_EQ(std::string(r.data.begin() + 8, r.data.end()), "VX      VX7700 SATA     WD-SIM0042");
  EXPECT_EQ(Be(r.data, 2, 2), r.data.size() - 4);

  // An unsupported page, then an unknown command: each leaves its sense,
  // REQUEST SENSE reports it once, and GOOD commands leave none.
  EXPECT_TRUE(rig.In({0x12, 1, 0xB0, 0, 255, 0}, 255).Check());
  EXPECT_EQ(rig.Sense(), kInvalidField);
  EXPECT_EQ(rig.Sense(), kNoSense);
  EXPECT_TRUE(rig.In({0x4D, 0, 0x40, 0, 0, 0, 0, 0x01, 0, 0}, 256).Check());
  r = rig.In({0x03, 1, 0, 0, 96, 0}, 96);  // descriptor format, SPC-3 length
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data, (std::vector<std::uint8_t>{0x72, 5, 0x20, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(rig.In({0x55, 0x10, 0, 0, 0, 0, 0, 0, 24, 0}, 0).Check());  // MODE SELECT
  EXPECT_TRUE(rig.None({0, 0, 0, 0, 0, 0}).Good());
  EXPECT_EQ(rig.Sense(), kNoSense);

  r = rig.In({0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0}, 16);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data, (std::vector<std::uint8_t>{0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(rig.None({0x1E, 0, 0, 0, 1, 0}).Good());
  EXPECT_TRUE(rig.None({0x1B, 0, 0, 0, 1, 0}).Good());
  EXPECT_TRUE(rig.None(Cdb10(0x35, 0, 0)).Good());
  EXPECT_TRUE(rig.None(Cdb16(0x91, 0, 0)).Good());
  EXPECT_TRUE(rig.None(Cdb10(0x2F, static_cast<std::uint32_t>(blocks - 8), 8)).Good());
  EXPECT_TRUE(rig.None(Cdb16(0x8F, blocks - 8, 9)).Check());
  EXPECT_EQ(rig.Sense(), kLbaOutOfRange);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, SdProbe,
                         ::testing::Values(sim::station::kSimSectorSize, sim::station::kSim4KnSectorSize));

class BlockIo : public ::testing::TestWithParam<std::uint32_t> {};

// Round trips at the first and last block in each command form, the range
// and the host's data length held to the command.
TEST_P(BlockIo, ReadsWhatWasWrittenAtBothEndsAndRefusesOutsideTheDisk) {
  const std::uint32_t s = GetParam();
  const std::uint64_t blocks = (16ULL << 20) / s;
  const auto last = static_cast<std::uint32_t>(blocks - 1);
  Rig rig(16ULL << 20, s);
  const auto pattern = [s](std::uint8_t seed, std::size_t n) {
    std::vector<std::uint8_t> p(n * s);
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(seed + i * 7);
    return p;
  };
  struct Form {
    std::vector<std::uint8_t> write, read;
  };
  const std::vector<Form> forms = {
      {{0x0A, 0, 0, 0, 1, 0}, {0x08, 0, 0, 0, 1, 0}},
      {Cdb10(0x2A, last - 1, 2), Cdb10(0x28, last - 1, 2)},
      {{0xAA, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0}, {0xA8, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0}},
      {Cdb16(0x8A, last, 1), Cdb16(0x88, last, 1)},
  };
  std::uint8_t seed = 1;
  for (const auto& f : forms) {
    const std::size_t n = f.write == forms[1].write ? 2 : 1;
    const auto data = pattern(seed++, n);
    auto w = rig.Out(f.write, data);
    ASSERT_TRUE(w.Good());
    EXPECT_EQ(w.outcome.data_length, data.size());
    auto r = rig.In(f.read, static_cast<std::uint32_t>(data.size()));
    ASSERT_TRUE(r.Good());
    EXPECT_EQ(r.data, data);
  }
  // READ(6) with a count of 0 reads 256 blocks.
  const auto r6 = rig.In({0x08, 0, 0, 0, 0, 0}, 256 * s);
  ASSERT_TRUE(r6.Good());
  EXPECT_EQ(r6.data.size(), 256u * s);

  // Outside the disk: nothing moves.
  EXPECT_TRUE(rig.In(Cdb10(0x28, last, 2), 2 * s).Check());
  EXPECT_EQ(rig.Sense(), kLbaOutOfRange);
  EXPECT_TRUE(rig.Out(Cdb16(0x8A, blocks, 1), pattern(9, 1)).Check());
  EXPECT_EQ(rig.Sense(), kLbaOutOfRange);
  EXPECT_TRUE(rig.In(Cdb16(0x88, ~0ULL, 2), 2 * s).Check());
  EXPECT_EQ(rig.Sense(), kLbaOutOfRange);

  // The host's length against the command's: more room is residue, less
  // or the other direction is a phase error, and nothing is written.
  auto r = rig.In(Cdb10(0x28, 0, 1), 3 * s);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.outcome.data_length, s);
  EXPECT_TRUE(rig.In(Cdb10(0x28, 0, 2), s).PhaseError());
  EXPECT_TRUE(rig.Run(Cdb10(0x28, 0, 1), ScsiDirection::kOut, s).PhaseError());
  EXPECT_TRUE(rig.Out(Cdb10(0x2A, 0, 2), pattern(42, 1)).PhaseError());
  auto first = rig.In(Cdb10(0x28, 0, 1), s);
  EXPECT_EQ(first.data, pattern(1, 1));
  auto w = rig.Out(Cdb10(0x2A, 5, 1), pattern(3, 2));
  ASSERT_TRUE(w.Good());
  EXPECT_EQ(w.outcome.data_length, s);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, BlockIo,
                         ::testing::Values(sim::station::kSimSectorSize, sim::station::kSim4KnSectorSize));

// Past 2 TiB of 512-byte blocks READ CAPACITY(10) says so, (16) gives the
// size, and the last block is read and written with 16-byte commands.
TEST(LargeDisk, ReadCapacity10GivesWayTo16AndTheLastBlockIsReached) {
  for (const std::uint64_t size : {2ULL << 40, 3ULL << 40}) {
    Rig rig(size);
    const std::uint64_t blocks = size / 512;
    auto r = rig.In({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
    ASSERT_TRUE(r.Good());
    EXPECT_EQ(Be(r.data, 0, 4), 0xFFFFFFFFu);
    EXPECT_EQ(Be(r.data, 4, 4), 512u);
    r = rig.In(kReadCapacity16, 32);
    ASSERT_TRUE(r.Good());
    EXPECT_EQ(Be(r.data, 0, 8), blocks - 1);
    r = rig.In({0x1A, 0, 0x3F, 0, 192, 0}, 192);
    EXPECT_EQ(Be(r.data, 5, 3), 0xFFFFFFu);
    const std::vector<std::uint8_t> block(512, 0x5C);
    ASSERT_TRUE(rig.Out(Cdb16(0x8A, blocks - 1, 1), block).Good());
    EXPECT_EQ(rig.In(Cdb16(0x88, blocks - 1, 1), 512).data, block);
  }
}

// No medium: what needs one is NOT READY, the rest still answers.
TEST(NoMedium, BlockCommandsAreNotReadyAndTheBridgeStillAnswers) {
  for (const auto size : {std::optional<std::uint64_t>{0}, std::optional<std::uint64_t>{}}) {
    Rig rig(size);
    EXPECT_TRUE(rig.None({0, 0, 0, 0, 0, 0}).Check());
    EXPECT_EQ(rig.Sense(), kMediumNotPresent);
    EXPECT_TRUE(rig.In({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8).Check());
    EXPECT_EQ(rig.Sense(), kMediumNotPresent);
    EXPECT_TRUE(rig.In(kReadCapacity16, 32).Check());
    EXPECT_EQ(rig.Sense(), kMediumNotPresent);
    EXPECT_TRUE(rig.In(Cdb10(0x28, 0, 1), 512).Check());
    EXPECT_EQ(rig.Sense(), kMediumNotPresent);
    EXPECT_TRUE(rig.Out(Cdb10(0x2A, 0, 1), std::vector<std::uint8_t>(512)).Check());
    EXPECT_EQ(rig.Sense(), kMediumNotPresent);
    EXPECT_TRUE(rig.In({0x12, 0, 0, 0, 38, 0}, 38).Good());
    EXPECT_TRUE(rig.In({0xE0, 0, 0, 0, 0, 0}, 128).Good());
  }
}

// A disk image that cannot be read or written: MEDIUM ERROR.
TEST(MediumError, AnImageThatCannotBeUsedGivesMediumErrors) {
  const auto dir = test_support::ScratchDir("bridge_scsi_target_bad_image");
  std::filesystem::create_directories(dir / "disk.img");  // a folder cannot be opened as the image
  SimBridge::Options o;
  o.disk = std::make_shared<SimDisk>(dir / "disk.img", 1 << 20, "S1");
  Rig rig(std::nullopt, 512, o);
  EXPECT_TRUE(rig.In(Cdb10(0x28, 0, 1), 512).Check());
  EXPECT_EQ(rig.Sense(), (Sense{3, 0x11, 0}));
  EXPECT_TRUE(rig.Out(Cdb10(0x2A, 0, 1), std::vector<std::uint8_t>(512, 1)).Check());
  EXPECT_EQ(rig.Sense(), (Sense{3, 0x0C, 0}));
  EXPECT_TRUE(rig.None(Cdb10(0x35, 0, 0)).Check());
  EXPECT_EQ(rig.Sense(), (Sense{3, 0x0C, 0}));
}

// A CD-ROM bridge: what the CD-ROM driver and its probes ask at plug-in
// and while polling, and the vendor commands through it.
TEST(CdRom, PresentsADriveWithoutADiscThatTakesVendorCommands) {
  SimBridge::Options o;
  o.presents_cdrom = true;
  Rig rig(64ULL << 20, 512, o);
  auto r = rig.In({0x12, 0, 0, 0, 36, 0}, 36);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data[0], 0x05);
  EXPECT_TRUE(rig.None({0, 0, 0, 0, 0, 0}).Check());
  EXPECT_EQ(rig.Sense(), kMediumNotPresent);
  EXPECT_TRUE(rig.In({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8).Check());
  EXPECT_EQ(rig.Sense(), kMediumNotPresent);

  r = rig.In({0x46, 0, 0, 0, 0, 0, 0, 0, 8, 0}, 8);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data, (std::vector<std::uint8_t>{0, 0, 0, 4, 0, 0, 0, 0}));  // current profile 0
  r = rig.In({0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data, (std::vector<std::uint8_t>{0, 6, 0x04, 0x10, 0, 0, 0, 0}));  // media: no event, no disc
  EXPECT_TRUE(rig.In({0x4A, 0, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8).Check());  // asynchronous is not offered
  r = rig.In({0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 128, 0}, 128);
  ASSERT_TRUE(r.Good());
  ASSERT_EQ(r.data.size(), 8u + 22);
  EXPECT_EQ(Be(r.data, 6, 2), 0u);  // no block descriptor
  EXPECT_EQ(r.data[8], 0x2A);
  EXPECT_EQ(r.data[9], 20);
  EXPECT_TRUE(rig.In({0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, 804).Check());
  EXPECT_EQ(rig.Sense(), kMediumNotPresent);
  EXPECT_TRUE(rig.In({0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, 34).Check());
  EXPECT_EQ(rig.Sense(), kMediumNotPresent);

  r = rig.In({0xE4, 1, 0, 0xC8, 0xFF, 0}, 1);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data, (std::vector<std::uint8_t>{0x11}));
}

// Vendor commands reach the model as the station sends them.
TEST(VendorPassThrough, SlotsStreamsAndActionsReachTheModel) {
  Rig rig(1 << 20);
  std::vector<std::uint8_t> block(128);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 3);
  ASSERT_TRUE(rig.Out({0xE1, 1, 0, 0, 0, 0}, block).Good());
  auto r = rig.In({0xE0, 1, 0, 0, 0, 0}, 128);
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data, block);
  EXPECT_TRUE(rig.In({0xE0, 2, 0, 0, 0, 0}, 128).Check());  // the model refuses: no slot 2
  EXPECT_EQ(rig.Sense(), kInvalidField);

  // One download is one stream, whatever the kernel sends between chunks;
  // a second download starts a fresh image, and so does one after a restart.
  const std::vector<std::uint8_t> chunk(65536, 0xA5);
  ASSERT_TRUE(rig.Out({0xE3, 0, 0, 0, 0, 0}, chunk).Good());
  ASSERT_TRUE(rig.None({0, 0, 0, 0, 0, 0}).Good());
  ASSERT_TRUE(rig.In(Cdb10(0x28, 0, 1), 512).Good());
  ASSERT_TRUE(rig.Out({0xE3, 0, 0, 0, 0, 0}, std::vector<std::uint8_t>(3, 0x5A)).Good());
  EXPECT_EQ(rig.bridge->FirmwareSlot(0).size(), 65539u);
  EXPECT_EQ(rig.bridge->FirmwareStreams(0), 1u);
  ASSERT_TRUE(rig.In({0xE2, 0, 0, 0, 0, 0}, 16).Good());
  ASSERT_TRUE(rig.Out({0xE3, 0, 0, 0, 0, 0}, std::vector<std::uint8_t>(5, 1)).Good());
  EXPECT_EQ(rig.bridge->FirmwareSlot(0).size(), 5u);
  ASSERT_TRUE(rig.Out({0xE3, 1, 0, 0, 0, 0}, std::vector<std::uint8_t>(7, 2)).Good());
  ASSERT_TRUE(rig.Out({0xE3, 0, 0, 0, 0, 0}, std::vector<std::uint8_t>(9, 3)).Good());
  EXPECT_EQ(rig.bridge->FirmwareSlot(0).size(), 9u);
  rig.target->Restart();
  ASSERT_TRUE(rig.Out({0xE3, 0, 0, 0, 0, 0}, std::vector<std::uint8_t>(2, 4)).Good());
  EXPECT_EQ(rig.bridge->FirmwareSlot(0).size(), 2u);
  EXPECT_EQ(rig.bridge->FirmwareStreams(0), 4u);

  // Without data the kernel's transport says "out": E5 and E8 still work.
  ASSERT_TRUE(rig.None({0xE5, 0x77, 0, 0xCA, 0x03, 0}).Good());
  EXPECT_EQ(rig.bridge->Register(sim::station::kRegTag2), 0x77);
  // A restart keeps the tag; power that comes back after an unplug does not,
  // and the flash slots keep what was written.
  rig.target->Restart();
  EXPECT_EQ(rig.bridge->Register(sim::station::kRegTag2), 0x77);
  rig.target->PowerUp();
  EXPECT_EQ(rig.bridge->Register(sim::station::kRegTag2), 0x00);
  EXPECT_EQ(rig.bridge->FirmwareSlot(0).size(), 2u);
  EXPECT_EQ(rig.In({0xE0, 1, 0, 0, 0, 0}, 128).data, block);
  EXPECT_EQ(rig.target->TakeAction(), sim::station::BridgeAction::kNone);
  ASSERT_TRUE(rig.None({0xE8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Good());
  EXPECT_EQ(rig.target->TakeAction(), sim::station::BridgeAction::kRestart);
  ASSERT_TRUE(rig.None({0xE8, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Good());
  EXPECT_EQ(rig.target->TakeAction(), sim::station::BridgeAction::kSafeRemove);
  EXPECT_EQ(rig.target->TakeAction(), sim::station::BridgeAction::kNone);

  // An ordinary mass-storage device knows no vendor opcodes.
  SimBridge::Options plain;
  plain.vendor_commands = false;
  Rig flash(1 << 20, 512, plain);
  EXPECT_TRUE(flash.In({0xE0, 0, 0, 0, 0, 0}, 128).Check());
  EXPECT_EQ(flash.Sense(), kInvalidOpcode);
}

// A request the model loses in transport is a phase error; the others pass.
TEST(VendorPassThrough, ARequestTheModelLosesIsAPhaseError) {
  SimBridge::Options o;
  o.faults.fail_from_call[0xE4] = 2;
  o.faults.fail_from_call[0xA1] = 2;
  Rig rig(1 << 20, 512, o);
  EXPECT_TRUE(rig.In({0xE4, 1, 0, 0x07, 0xF0, 0}, 1).Good());
  EXPECT_TRUE(rig.In({0xE4, 1, 0, 0x07, 0xF0, 0}, 1).PhaseError());
  EXPECT_TRUE(rig.In({0xE0, 0, 0, 0, 0, 0}, 128).Good());
  // The counts of IDENTIFY hold for its 12- and 16-byte forms alike.
  EXPECT_TRUE(rig.In({0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC, 0, 0}, 512).Good());
  EXPECT_TRUE(rig.In({0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}, 512).PhaseError());
}

// ATA IDENTIFY in the forms the station, udev's ata_id and sg_sat_identify
// send it: the disk's IDENTIFY data, the registers on request, the model's
// refusal kept.
TEST(AtaPassThrough, IdentifyInEveryFormGivesTheDisksData) {
  Rig rig(1 << 20, 4096);
  std::array<std::uint8_t, 512> expected{};
  rig.bridge->Disk()->FillIdentify(expected);
  const std::vector<std::uint8_t> want(expected.begin(), expected.end());

  auto r = rig.In({0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}, 512);  // sg_sat_identify
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data, want);
  r = rig.In({0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC, 0, 0}, 512);  // the station
  ASSERT_TRUE(r.Good());
  EXPECT_EQ(r.data, want);

  // ata_id asks for the registers (CK_COND): the data, then CHECK CONDITION
  // with ATA PASS-THROUGH INFORMATION AVAILABLE in either sense format.
  r = rig.In({0xA1, 0x08, 0x2E, 0, 1, 0, 0, 0, 0, 0xEC, 0, 0}, 512);
  ASSERT_TRUE(r.Check());
  EXPECT_EQ(r.data, want);
  auto s = rig.In({0x03, 0, 0, 0, 32, 0}, 32);
  ASSERT_TRUE(s.Good());
  EXPECT_EQ(s.data[0], 0x70);
  EXPECT_EQ(s.data[2], 0x01);
  EXPECT_EQ(s.data[4], 0x50);  // ATA status: ready
  EXPECT_EQ(s.data[12], 0x00);
  EXPECT_EQ(s.data[13], 0x1D);
  r = rig.In({0x85, 0x08, 0x2E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}, 512);
  ASSERT_TRUE(r.Check());
  s = rig.In({0x03, 1, 0, 0, 32, 0}, 32);
  ASSERT_TRUE(s.Good());
  ASSERT_EQ(s.data.size(), 22u);
  EXPECT_EQ(s.data[0], 0x72);
  EXPECT_EQ(s.data[8], 0x09);
  EXPECT_EQ(s.data[9], 0x0C);
  EXPECT_EQ(s.data[21], 0x50);

  // Other ATA commands, IDENTIFY of another length, a short host buffer.
  EXPECT_TRUE(rig.In({0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xA1, 0}, 512).Check());
  EXPECT_EQ(rig.Sense(), kInvalidField);
  EXPECT_TRUE(rig.In({0x85, 0x0D, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x25, 0}, 512).Check());
  EXPECT_EQ(rig.Sense(), kInvalidField);
  EXPECT_TRUE(rig.In({0xA1, 0x08, 0x1E, 0, 1, 0, 0, 0, 0, 0xEC, 0, 0}, 4096).Check());  // 4 KiB blocks
  EXPECT_TRUE(rig.In({0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0, 0xEC, 0, 0}, 256).PhaseError());
  EXPECT_EQ(rig.bridge->Calls(0xA1), 4u);

  rig.bridge->Faults().reject_identify = true;
  EXPECT_TRUE(rig.In({0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC, 0, 0}, 512).Check());
  EXPECT_EQ(rig.Sense(), kInvalidField);
  EXPECT_TRUE(rig.In({0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}, 512).Check());
  EXPECT_EQ(rig.Sense(), kInvalidField);
}

}  // namespace
}  // namespace sim::usb
