#pragma once
// SCSI requests to a Linux block or CD-ROM device node through the SG_IO
// pass-through. Vendor opcodes need CAP_SYS_RAWIO (or root).
//
// A device node is opened once per station handle and only for reading:
// the kernel lets a process with CAP_SYS_RAWIO send any command on a
// read-only open (scsi_cmd_allowed), and systemd-udevd, which watches whole
// disks, re-reads a disk's partition table (removing and adding its
// partitions) after every close of a descriptor that was open for writing.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/device_io.h"

struct sg_io_hdr;

namespace platform::linux_host {

// One open device node that carries requests for as long as it lives.
// Closed when destroyed.
class ScsiSession {
 public:
  virtual ~ScsiSession() = default;
  // May block for the request's time-out.
  virtual ScsiResult Execute(const ScsiRequest& request, std::span<std::uint8_t> data) = 0;
};

// Opens device nodes ("/dev/sdb") for requests.
class ScsiTransport {
 public:
  virtual ~ScsiTransport() = default;
  // nullptr when the node cannot be opened (gone, or no right to it).
  virtual std::unique_ptr<ScsiSession> Open(const std::string& device_node) = 0;
};

// Fills an SG_IO header for a request: CDB, direction, length, time-out in
// milliseconds and the sense area. `data` and `sense` must outlive the call.
void BuildSgIoHeader(const ScsiRequest& request, std::span<std::uint8_t> data, std::span<std::uint8_t> sense,
                     sg_io_hdr& header);

// What came back of one SG_IO request, read from its header.
struct SgIoOutcome {
  enum class Transport {
    kDone,       // the command reached the device and its status came back
    kNoDevice,   // DID_NO_CONNECT, DID_BAD_TARGET: the device is gone (pulled, restarted)
    kTimedOut,   // DID_TIME_OUT, DRIVER_TIMEOUT: the device did not answer in time
    kAborted,    // DID_ABORT, DID_RESET, DID_BUS_BUSY, DID_REQUEUE, DID_IMM_RETRY: the host gave it up
    kError,      // DID_ERROR and every other host or driver failure
  };
  Transport transport = Transport::kError;
  std::uint8_t host_status = 0;
  std::uint8_t driver_status = 0;
  std::uint8_t scsi_status = 0;  // the device's status byte (kDone only)
  // Sense data the device returned (CHECK CONDITION), fixed or descriptor
  // format: sense key, additional sense code and qualifier.
  std::optional<std::uint8_t> sense_key;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  // Bytes moved: the request's length less the residual count.
  std::uint32_t transferred = 0;
  bool short_transfer = false;

  // As the station sees it: delivered with the device's status, or a failed
  // transfer. A data-out request that left bytes behind (a firmware chunk the
  // bridge did not take whole) is a failed transfer; a data-in request may
  // come back short (an INQUIRY shorter than its allocation length).
  ScsiResult Result(ScsiDirection direction) const;
  // "CHECK CONDITION, sense 05/24/00", "device gone (DID_NO_CONNECT)", ...
  std::string Describe() const;
};

// Decodes a header the kernel has answered: its host, driver and SCSI
// status, the residual count against dxfer_len, and the sense bytes it wrote
// (sb_len_wr of the area `sbp` points to).
SgIoOutcome DecodeSgIo(const sg_io_hdr& header);

// Clears the bytes of a data-in buffer past what the device transferred, so
// a short read never hands on what an earlier request left there.
void ClearUntransferred(const SgIoOutcome& outcome, const ScsiRequest& request, std::span<std::uint8_t> data);

class SgIoTransport final : public ScsiTransport {
 public:
  // Opens the node read-only and without blocking on a drive with no medium.
  std::unique_ptr<ScsiSession> Open(const std::string& device_node) override;
};

}  // namespace platform::linux_host
