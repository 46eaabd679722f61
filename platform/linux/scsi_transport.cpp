#include "platform/linux/scsi_transport.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform::linux_host {

namespace {

// The host byte of a SCSI result (include/scsi/scsi_status.h).
constexpr std::uint8_t kDidOk = 0x00;
constexpr std::uint8_t kDidNoConnect = 0x01;
constexpr std::uint8_t kDidBusBusy = 0x02;
constexpr std::uint8_t kDidTimeOut = 0x03;
constexpr std::uint8_t kDidBadTarget = 0x04;
constexpr std::uint8_t kDidAbort = 0x05;
constexpr std::uint8_t kDidError = 0x07;
constexpr std::uint8_t kDidReset = 0x08;
constexpr std::uint8_t kDidImmRetry = 0x0C;
constexpr std::uint8_t kDidRequeue = 0x0D;
// The driver byte: its low nibble; the high one carries suggestions.
constexpr std::uint8_t kDriverMask = 0x0F;
constexpr std::uint8_t kDriverTimeout = 0x06;
constexpr std::uint8_t kDriverSense = 0x08;

const char* HostName(std::uint8_t host) {
  switch (host) {
    case kDidNoConnect: return "DID_NO_CONNECT";
    case kDidBusBusy: return "DID_BUS_BUSY";
    case kDidTimeOut: return "DID_TIME_OUT";
    case kDidBadTarget: return "DID_BAD_TARGET";
    case kDidAbort: return "DID_ABORT";
    case kDidError: return "DID_ERROR";
    case kDidReset: return "DID_RESET";
    case kDidImmRetry: return "DID_IMM_RETRY";
    case kDidRequeue: return "DID_REQUEUE";
    default: return nullptr;
  }
}

class SgIoSession final : public ScsiSession {
 public:
  explicit SgIoSession(int fd) : fd_(fd) {}
  ~SgIoSession() override { ::close(fd_); }
  SgIoSession(const SgIoSession&) = delete;
  SgIoSession& operator=(const SgIoSession&) = delete;

  ScsiResult Execute(const ScsiRequest& request, std::span<std::uint8_t> data) override {
    if (data.size() < request.transfer_length) return {};
    std::array<std::uint8_t, 32> sense{};
    sg_io_hdr h{};
    BuildSgIoHeader(request, data, sense, h);
    int rc = 0;
    do {
      rc = ::ioctl(fd_, SG_IO, &h);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return {};
    const SgIoOutcome outcome = DecodeSgIo(h);
    ClearUntransferred(outcome, request, data);
    return outcome.Result(request.direction);
  }

 private:
  int fd_;
};

}  // namespace

void BuildSgIoHeader(const ScsiRequest& request, std::span<std::uint8_t> data, std::span<std::uint8_t> sense,
                     sg_io_hdr& h) {
  std::memset(&h, 0, sizeof h);
  h.interface_id = 'S';
  h.cmd_len = request.cdb_length;
  h.cmdp = const_cast<unsigned char*>(request.cdb.data());
  h.mx_sb_len = static_cast<unsigned char>(sense.size());
  h.sbp = sense.data();
  h.dxfer_len = request.transfer_length;
  h.dxferp = request.transfer_length ? data.data() : nullptr;
  if (request.transfer_length == 0) {
    h.dxfer_direction = SG_DXFER_NONE;
  } else {
    h.dxfer_direction = request.direction == ScsiDirection::kIn ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
  }
  // Seconds to milliseconds; 65,535 s is still far below the 32-bit limit.
  h.timeout = request.timeout_seconds * 1000u;
}

SgIoOutcome DecodeSgIo(const sg_io_hdr& h) {
  SgIoOutcome o;
  o.host_status = static_cast<std::uint8_t>(h.host_status);
  o.driver_status = static_cast<std::uint8_t>(h.driver_status);
  const std::uint8_t driver = o.driver_status & kDriverMask;
  switch (o.host_status) {
    case kDidOk:
      // DRIVER_SENSE only says that sense data came back with the status.
      if (driver == 0 || driver == kDriverSense) {
        o.transport = SgIoOutcome::Transport::kDone;
      } else {
        o.transport = driver == kDriverTimeout ? SgIoOutcome::Transport::kTimedOut : SgIoOutcome::Transport::kError;
      }
      break;
    case kDidNoConnect:
    case kDidBadTarget:
      o.transport = SgIoOutcome::Transport::kNoDevice;
      break;
    case kDidTimeOut:
      o.transport = SgIoOutcome::Transport::kTimedOut;
      break;
    case kDidAbort:
    case kDidReset:
    case kDidBusBusy:
    case kDidImmRetry:
    case kDidRequeue:
      o.transport = SgIoOutcome::Transport::kAborted;
      break;
    default:
      o.transport = SgIoOutcome::Transport::kError;
      break;
  }
  if (o.transport == SgIoOutcome::Transport::kDone) o.scsi_status = h.status;

  const std::uint32_t residual = h.resid > 0 ? static_cast<std::uint32_t>(h.resid) : 0;
  o.transferred = h.dxfer_len > residual ? h.dxfer_len - residual : 0;
  o.short_transfer = residual > 0 && h.dxfer_len > 0;

  const auto* sense = static_cast<const std::uint8_t*>(h.sbp);
  const std::size_t written = sense != nullptr ? std::min<std::size_t>(h.sb_len_wr, h.mx_sb_len) : 0;
  if (written >= 1) {
    const std::uint8_t code = sense[0] & 0x7F;
    if ((code == 0x70 || code == 0x71) && written >= 3) {
      o.sense_key = sense[2] & 0x0F;
      if (written >= 14) {
        o.asc = sense[12];
        o.ascq = sense[13];
      }
    } else if ((code == 0x72 || code == 0x73) && written >= 2) {
      o.sense_key = sense[1] & 0x0F;
      if (written >= 4) {
        o.asc = sense[2];
        o.ascq = sense[3];
      }
    }
  }
  return o;
}

ScsiResult SgIoOutcome::Result(ScsiDirection direction) const {
  if (transport != Transport::kDone) return {};
  if (short_transfer && direction == ScsiDirection::kOut && scsi_status == kScsiStatusGood) return {};
  return ScsiResult{true, scsi_status};
}

std::string SgIoOutcome::Describe() const {
  char text[96];
  switch (transport) {
    case Transport::kDone:
      if (scsi_status == kScsiStatusCheckCondition && sense_key) {
        std::snprintf(text, sizeof text, "CHECK CONDITION, sense %02X/%02X/%02X", *sense_key, asc, ascq);
      } else if (scsi_status != kScsiStatusGood) {
        std::snprintf(text, sizeof text, "SCSI status 0x%02X", scsi_status);
      } else if (short_transfer) {
        std::snprintf(text, sizeof text, "GOOD, %u bytes moved", transferred);
      } else {
        std::snprintf(text, sizeof text, "GOOD");
      }
      return text;
    case Transport::kNoDevice:
    case Transport::kTimedOut:
    case Transport::kAborted:
    case Transport::kError:
      break;
  }
  const char* what = transport == Transport::kNoDevice   ? "device gone"
                     : transport == Transport::kTimedOut ? "timed out"
                     : transport == Transport::kAborted  ? "aborted by the host"
                                                         : "transport error";
  if (const char* name = HostName(host_status)) {
    std::snprintf(text, sizeof text, "%s (%s)", what, name);
  } else {
    std::snprintf(text, sizeof text, "%s (host 0x%02X, driver 0x%02X)", what, host_status, driver_status);
  }
  return text;
}

void ClearUntransferred(const SgIoOutcome& outcome, const ScsiRequest& request, std::span<std::uint8_t> data) {
  if (request.direction != ScsiDirection::kIn) return;
  const std::size_t end = std::min<std::size_t>(request.transfer_length, data.size());
  const std::size_t kept = std::min<std::size_t>(outcome.transferred, end);
  std::fill(data.begin() + static_cast<std::ptrdiff_t>(kept), data.begin() + static_cast<std::ptrdiff_t>(end),
            std::uint8_t{0});
}

std::unique_ptr<ScsiSession> SgIoTransport::Open(const std::string& device_node) {
  const int fd = ::open(device_node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<SgIoSession>(fd);
}

}  // namespace platform::linux_host
