#include "platform/linux/scsi_transport.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace platform::linux_host {

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

ScsiResult SgIoTransport::Execute(const std::string& device_node, const ScsiRequest& request,
                                  std::span<std::uint8_t> data) {
  if (data.size() < request.transfer_length) return {};
  const int fd = ::open(device_node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  std::array<std::uint8_t, 32> sense{};
  sg_io_hdr h{};
  BuildSgIoHeader(request, data, sense, h);
  const int rc = ::ioctl(fd, SG_IO, &h);
  ::close(fd);
  if (rc != 0) return {};
  // Transport trouble (host or driver side) is a failed request; the device's
  // own status comes back as its status byte.
  if (h.host_status != 0) return {};
  if (h.driver_status != 0 && (h.driver_status & 0x0F) != 0x08 /* DRIVER_SENSE */) return {};
  return ScsiResult{true, h.status};
}

}  // namespace platform::linux_host
