// The SG_IO request as the Linux backend builds it, checked without a device.

#include "platform/linux/scsi_transport.h"

#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
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

// Recorded outcomes of SG_IO requests, as the kernel fills the header.
struct Recorded {
  sg_io_hdr h{};
  std::array<std::uint8_t, 32> sense{};

  Recorded(unsigned dxfer_len, int resid, unsigned char status, unsigned short host, unsigned short driver) {
    h.interface_id = 'S';
    h.dxfer_len = dxfer_len;
    h.resid = resid;
    h.status = status;
    h.host_status = host;
    h.driver_status = driver;
    h.mx_sb_len = static_cast<unsigned char>(sense.size());
    h.sbp = sense.data();
  }
  Recorded& Sense(std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), sense.begin());
    h.sb_len_wr = static_cast<unsigned char>(bytes.size());
    return *this;
  }
};

using Transport = SgIoOutcome::Transport;

TEST(DecodeSgIo, GoodShortAndCheckConditionReplies) {
  // A good 38-byte INQUIRY.
  const Recorded good(38, 0, 0x00, 0x00, 0x00);
  auto o = DecodeSgIo(good.h);
  EXPECT_EQ(o.transport, Transport::kDone);
  EXPECT_EQ(o.transferred, 38u);
  EXPECT_FALSE(o.short_transfer);
  EXPECT_TRUE(o.Result(ScsiDirection::kIn).Good());
  EXPECT_EQ(o.Describe(), "GOOD");

  // A register read of 7 bytes the bridge answered with 4: good, and the
  // bytes it did not send are cleared.
  const Recorded short_read(7, 3, 0x00, 0x00, 0x00);
  o = DecodeSgIo(short_read.h);
  EXPECT_EQ(o.transferred, 4u);
  EXPECT_TRUE(o.short_transfer);
  EXPECT_TRUE(o.Result(ScsiDirection::kIn).Good());
  std::vector<std::uint8_t> data = {1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE};
  ScsiRequest read;
  read.direction = ScsiDirection::kIn;
  read.transfer_length = 7;
  ClearUntransferred(o, read, data);
  EXPECT_EQ(data, (std::vector<std::uint8_t>{1, 2, 3, 4, 0, 0, 0, 0xEE}));
  // A firmware chunk the bridge did not take whole did not go through.
  const Recorded short_write(65536, 512, 0x00, 0x00, 0x00);
  EXPECT_FALSE(DecodeSgIo(short_write.h).Result(ScsiDirection::kOut).ok);

  // CHECK CONDITION with fixed-format sense, ILLEGAL REQUEST / INVALID FIELD
  // IN CDB, as a bridge answers an opcode it does not know; the kernel adds
  // DRIVER_SENSE. Delivered, with the device's status.
  Recorded check(128, 128, 0x02, 0x00, 0x08);
  check.Sense({0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x00});
  o = DecodeSgIo(check.h);
  EXPECT_EQ(o.transport, Transport::kDone);
  EXPECT_EQ(o.scsi_status, kScsiStatusCheckCondition);
  ASSERT_TRUE(o.sense_key);
  EXPECT_EQ(*o.sense_key, 0x05);
  EXPECT_EQ(o.asc, 0x24);
  EXPECT_EQ(o.ascq, 0x00);
  const ScsiResult r = o.Result(ScsiDirection::kIn);
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.Good());
  EXPECT_EQ(r.scsi_status, kScsiStatusCheckCondition);
  EXPECT_EQ(o.Describe(), "CHECK CONDITION, sense 05/24/00");
  // Descriptor-format sense: NOT READY / MEDIUM NOT PRESENT.
  Recorded descriptor(0, 0, 0x02, 0x00, 0x08);
  descriptor.Sense({0x72, 0x02, 0x3A, 0x00, 0, 0, 0, 0});
  o = DecodeSgIo(descriptor.h);
  ASSERT_TRUE(o.sense_key);
  EXPECT_EQ(*o.sense_key, 0x02);
  EXPECT_EQ(o.asc, 0x3A);
  // Sense bytes the kernel did not write are not read.
  Recorded unwritten(0, 0, 0x02, 0x00, 0x08);
  unwritten.sense = {0x70, 0, 0x05};
  EXPECT_FALSE(DecodeSgIo(unwritten.h).sense_key);
}

TEST(DecodeSgIo, HostAndDriverFailuresAreFailedTransfers) {
  struct Case {
    unsigned short host, driver;
    Transport want;
    const char* text;
  };
  const Case cases[] = {
      {0x01, 0x00, Transport::kNoDevice, "device gone (DID_NO_CONNECT)"},  // pulled out
      {0x04, 0x00, Transport::kNoDevice, "device gone (DID_BAD_TARGET)"},
      {0x03, 0x00, Transport::kTimedOut, "timed out (DID_TIME_OUT)"},
      {0x07, 0x00, Transport::kError, "transport error (DID_ERROR)"},
      {0x08, 0x00, Transport::kAborted, "aborted by the host (DID_RESET)"},
      {0x00, 0x06, Transport::kTimedOut, "timed out (host 0x00, driver 0x06)"},   // DRIVER_TIMEOUT
      {0x00, 0x24, Transport::kError, "transport error (host 0x00, driver 0x24)"},  // DRIVER_ERROR, SUGGEST_RETRY
  };
  for (const auto& c : cases) {
    // The status byte of a request that never completed means nothing.
    const Recorded rec(512, 512, 0x00, c.host, c.driver);
    const auto o = DecodeSgIo(rec.h);
    EXPECT_EQ(o.transport, c.want) << c.text;
    EXPECT_FALSE(o.Result(ScsiDirection::kIn).ok) << c.text;
    EXPECT_EQ(o.Describe(), c.text);
  }
  // DRIVER_SENSE with a GOOD status (deferred sense) is still a good reply.
  const Recorded deferred(38, 0, 0x00, 0x00, 0x08);
  EXPECT_TRUE(DecodeSgIo(deferred.h).Result(ScsiDirection::kIn).Good());
}

TEST(SgIoTransport, OpensReadOnlySoClosingTriggersNoPartitionReread) {
  // udev re-reads a watched disk on IN_CLOSE_WRITE; a session must cause
  // none, and close its node once, when it goes.
  const auto file = std::filesystem::temp_directory_path() / ("sgio_node_" + std::to_string(::getpid()));
  { std::ofstream(file) << "not a disk"; }
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, file.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_OPEN), 0);
  SgIoTransport t;
  {
    auto session = t.Open(file.string());
    ASSERT_TRUE(session);
    std::vector<std::uint8_t> data(38);
    ScsiRequest inquiry;
    inquiry.cdb = {0x12, 0, 0, 0, 38, 0};
    inquiry.cdb_length = 6;
    inquiry.transfer_length = 38;
    inquiry.timeout_seconds = 3;
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(session->Execute(inquiry, data).ok);  // a file takes no SG_IO
  }
  std::uint32_t opens = 0, close_write = 0, close_nowrite = 0;
  alignas(inotify_event) char buf[4096];
  for (ssize_t n; (n = ::read(watch, buf, sizeof buf)) > 0;) {
    for (char* p = buf; p < buf + n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(p);
      opens += (e->mask & IN_OPEN) != 0;
      close_write += (e->mask & IN_CLOSE_WRITE) != 0;
      close_nowrite += (e->mask & IN_CLOSE_NOWRITE) != 0;
      p += sizeof(inotify_event) + e->len;
    }
  }
  ::close(watch);
  std::filesystem::remove(file);
  EXPECT_EQ(opens, 1u);
  EXPECT_EQ(close_nowrite, 1u);
  EXPECT_EQ(close_write, 0u);
  EXPECT_FALSE(t.Open("/nonexistent/sdz"));
}

}  // namespace
}  // namespace platform::linux_host
