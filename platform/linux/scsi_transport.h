#pragma once
// SCSI requests to a Linux block or CD-ROM device node through the SG_IO
// pass-through. Vendor opcodes need CAP_SYS_RAWIO (or root).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/device_io.h"

struct sg_io_hdr;

namespace platform::linux_host {

// Carries one request to a device node ("/dev/sdb") and back.
class ScsiTransport {
 public:
  virtual ~ScsiTransport() = default;
  // May block for the request's time-out.
  virtual ScsiResult Execute(const std::string& device_node, const ScsiRequest& request,
                             std::span<std::uint8_t> data) = 0;
};

// Fills an SG_IO header for a request: CDB, direction, length, time-out in
// milliseconds and the sense area. `data` and `sense` must outlive the call.
void BuildSgIoHeader(const ScsiRequest& request, std::span<std::uint8_t> data, std::span<std::uint8_t> sense,
                     sg_io_hdr& header);

class SgIoTransport final : public ScsiTransport {
 public:
  ScsiResult Execute(const std::string& device_node, const ScsiRequest& request,
                     std::span<std::uint8_t> data) override;
};

}  // namespace platform::linux_host
