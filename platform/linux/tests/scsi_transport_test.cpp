// The SG_IO request as the Linux backend builds it, checked without a device.

#include "platform/linux/scsi_transport.h"

#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <array>
#include <vector>

namespace platform::linux_host {
namespace {

TEST(SgIoHeader, CarriesCdbDirectionLengthAndTimeout) {
  std::vector<std::uint8_t> data(65536);
  std::array<std::uint8_t, 32> sense{};
  sg_io_hdr h{};

  ScsiRequest write;
  write.cdb = {0xE3, 0x01, 0, 0, 0, 0};
  write.cdb_length = 6;
  write.direction = ScsiDirection::kOut;
  write.transfer_length = 65536;
  write.timeout_seconds = 60;
  BuildSgIoHeader(write, data, sense, h);
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.cmd_len, 6);
  EXPECT_EQ(h.cmdp[0], 0xE3);
  EXPECT_EQ(h.cmdp[1], 0x01);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(h.dxfer_len, 65536u);
  EXPECT_EQ(h.dxferp, data.data());
  EXPECT_EQ(h.timeout, 60000u);
  EXPECT_EQ(h.mx_sb_len, 32);
  EXPECT_EQ(h.sbp, sense.data());

  ScsiRequest identify;
  identify.cdb = {0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00};
  identify.cdb_length = 12;
  identify.direction = ScsiDirection::kIn;
  identify.transfer_length = 512;
  identify.timeout_seconds = 65535;
  BuildSgIoHeader(identify, data, sense, h);
  EXPECT_EQ(h.cmd_len, 12);
  EXPECT_EQ(h.cmdp[9], 0xEC);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.timeout, 65535000u);

  // A restart moves no data, whatever its direction says.
  ScsiRequest restart;
  restart.cdb = {0xE8, 0x00};
  restart.cdb_length = 12;
  restart.direction = ScsiDirection::kIn;
  restart.transfer_length = 0;
  restart.timeout_seconds = 3;
  BuildSgIoHeader(restart, data, sense, h);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(h.dxfer_len, 0u);
  EXPECT_EQ(h.dxferp, nullptr);
  EXPECT_EQ(h.timeout, 3000u);
}

TEST(SgIoTransport, MissingDeviceNodeIsAFailedRequest) {
  SgIoTransport t;
  std::vector<std::uint8_t> data(38);
  ScsiRequest inquiry;
  inquiry.cdb = {0x12, 0, 0, 0, 38, 0};
  inquiry.cdb_length = 12;
  inquiry.transfer_length = 38;
  inquiry.timeout_seconds = 3;
  EXPECT_FALSE(t.Execute("/nonexistent/sdz", inquiry, data).ok);
}

}  // namespace
}  // namespace platform::linux_host
