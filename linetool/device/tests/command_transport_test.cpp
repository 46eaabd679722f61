// The vendor command transport against the simulated bridge: exact CDBs,
// directions, lengths and time-outs, the limits and the status codes.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "sim_fixture.h"

namespace linetool::device {
namespace {

using sim::station::ScsiLogEntry;
using sim::station::SimBridge;
using testing::SimStation;

std::vector<ScsiLogEntry> LogOf(SimStation& s, std::size_t device) {
  return s.world.WithDevice(device, [](SimBridge& b) { return b.Log(); });
}

std::vector<std::uint8_t> Cdb(const ScsiLogEntry& e) {
  return {e.request.cdb.begin(), e.request.cdb.begin() + e.request.cdb_length};
}

class Transport : public ::testing::Test {
 protected:
  Transport() : station(sim::station::DefaultWorld(1)), dev(station.lib.Device()) {
    handle = station.OpenDrive(1);
    station.world.WithDevice(0, [](SimBridge& b) { b.ClearLog(); });
  }
  std::vector<ScsiLogEntry> Log() { return LogOf(station, 0); }

  SimStation station;
  CKelvUSBDev2K& dev;
  std::unique_ptr<platform::DeviceHandle> handle;
};

TEST_F(Transport, ConfigTableMovesOneWholeSlotAndRefusesOtherLengths) {
  std::array<std::uint8_t, 128> block{};
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(dev.WriteConfigTable(handle.get(), block, 127, 1), kCmdBadArgument);
  EXPECT_EQ(dev.ReadConfigTable(handle.get(), block, 129, 0), kCmdBadArgument);
  EXPECT_EQ(dev.ReadConfigTable(nullptr, block, 128, 0), kCmdBadArgument);
  EXPECT_TRUE(Log().empty());

  ASSERT_EQ(dev.WriteConfigTable(handle.get(), block, 128, 1), kCmdDone);
  std::array<std::uint8_t, 128> back{};
  ASSERT_EQ(dev.ReadConfigTable(handle.get(), back, 128, 1), kCmdDone);
  EXPECT_EQ(back, block);
  const auto log = Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(Cdb(log[0]), (std::vector<std::uint8_t>{0xE1, 0x01, 0, 0, 0, 0}));
  EXPECT_EQ(log[0].request.direction, platform::ScsiDirection::kOut);
  EXPECT_EQ(log[0].request.timeout_seconds, 60u);
  EXPECT_EQ(Cdb(log[1]), (std::vector<std::uint8_t>{0xE0, 0x01, 0, 0, 0, 0}));
  EXPECT_EQ(log[1].request.direction, platform::ScsiDirection::kIn);
  EXPECT_EQ(log[1].request.timeout_seconds, 3u);
  EXPECT_EQ(log[1].request.transfer_length, 128u);
}

TEST_F(Transport, FirmwareStreamIsChunkedAt64KiBWithOneCdb) {
  std::vector<std::uint8_t> image(65537);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_EQ(dev.WriteFirmwareData(handle.get(), image, 0, 0), kCmdDone);
  EXPECT_TRUE(Log().empty());

  ASSERT_EQ(dev.WriteFirmwareData(handle.get(), image, 65537, 1), kCmdDone);
  const auto log = Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].request.transfer_length, 65536u);
  EXPECT_EQ(log[1].request.transfer_length, 1u);
  EXPECT_EQ(Cdb(log[0]), (std::vector<std::uint8_t>{0xE3, 0x01, 0, 0, 0, 0}));
  EXPECT_EQ(Cdb(log[1]), Cdb(log[0]));
  EXPECT_EQ(station.world.WithDevice(0, [](SimBridge& b) { return b.FirmwareSlot(1); }), image);

  // Reading back: at most 64 KiB in one request.
  std::vector<std::uint8_t> back(65537);
  EXPECT_EQ(dev.ReadFirmwareData(handle.get(), back, 65537, 1), kCmdBadArgument);
  ASSERT_EQ(dev.ReadFirmwareData(handle.get(), back, 65536, 1), kCmdDone);
  EXPECT_TRUE(std::equal(back.begin(), back.begin() + 65536, image.begin()));

  // A failing chunk stops the stream: nothing after it is sent.
  station.world.WithDevice(0, [](SimBridge& b) {
    b.Faults().fail_from_call[0xE3] = 4;  // the 2nd chunk of the next stream
    b.ClearLog();
  });
  std::vector<std::uint8_t> big(3 * 65536);
  EXPECT_EQ(dev.WriteFirmwareData(handle.get(), big, static_cast<std::uint32_t>(big.size()), 0),
            kCmdTransferFailed);
  EXPECT_EQ(Log().size(), 2u);
}

TEST_F(Transport, RegisterReadsAndWritesKeepTheirLimits) {
  std::vector<std::uint8_t> buf(300, 0xEE);
  ASSERT_EQ(dev.ReadRegisters(handle.get(), 0x07F0, buf, 256), kCmdDone);
  EXPECT_EQ(buf[0], 0x12);
  EXPECT_EQ(dev.ReadRegisters(handle.get(), 0x07F0, buf, 257), kCmdBadArgument);
  auto log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(Cdb(log[0]), (std::vector<std::uint8_t>{0xE4, 0x00, 0, 0x07, 0xF0, 0}));
  EXPECT_EQ(log[0].request.transfer_length, 256u);

  // A write of two bytes sends only the first, inside the CDB.
  std::array<std::uint8_t, 2> value{0xA5, 0x5A};
  ASSERT_EQ(dev.WriteRegister(handle.get(), 0xCA02, value, 2), kCmdDone);
  log = Log();
  EXPECT_EQ(Cdb(log.back()), (std::vector<std::uint8_t>{0xE5, 0xA5, 0, 0xCA, 0x02, 0}));
  EXPECT_EQ(log.back().request.transfer_length, 0u);
  EXPECT_EQ(station.world.WithDevice(0, [](SimBridge& b) { return b.Register(0xCA03); }), 0x00);

  // A failed read leaves the first four bytes zero.
  station.world.WithDevice(0, [](SimBridge& b) { b.Faults().fail_from_call[0xE4] = 1; });
  std::fill(buf.begin(), buf.end(), 0xEE);
  EXPECT_EQ(dev.ReadRegisters(handle.get(), 0x07F0, buf, 7), kCmdTransferFailed);
  EXPECT_EQ(std::vector<std::uint8_t>(buf.begin(), buf.begin() + 5),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 0xEE}));
  EXPECT_EQ(dev.ReadRegisters(handle.get(), 0x07F0, buf, 0), kCmdDone);
}

TEST_F(Transport, InquiryBridgeCheckAndAtaSerial) {
  std::array<std::uint8_t, 38> inq{};
  ASSERT_EQ(dev.ScsiInquiry(handle.get(), inq), kCmdDone);
  EXPECT_TRUE(IsBridgeInquiry(inq));
  EXPECT_EQ(Cdb(Log().back()), (std::vector<std::uint8_t>{0x12, 0, 0, 0, 38, 0, 0, 0, 0, 0, 0, 0}));
  std::swap(inq[36], inq[37]);
  EXPECT_FALSE(IsBridgeInquiry(inq));

  std::string text = "X";
  ASSERT_EQ(dev.AtaIdentifySerial(handle.get(), text), kCmdDone);
  const std::string serial = sim::station::DefaultBridge(0).ata_serial;
  EXPECT_EQ(text, "X" + serial + std::string(20 - serial.size(), ' '));
  EXPECT_EQ(Log().back().request.timeout_seconds, 65535u);

  // A bridge that rejects IDENTIFY adds nothing to the text.
  station.world.WithDevice(0, [](SimBridge& b) { b.Faults().reject_identify = true; });
  text = "X";
  EXPECT_EQ(dev.AtaIdentifySerial(handle.get(), text), kCmdDone);
  EXPECT_EQ(text, "X");
  EXPECT_EQ(dev.AtaIdentifySerial(nullptr, text), kCmdBadArgument);
}

}  // namespace
}  // namespace linetool::device
