#pragma once
// The programmer's USB device: found by its vendor and product ID, opened as two
// bulk channels. The write channel carries commands and outgoing data to the
// programmer, the read channel its replies and incoming data.
//
// Backends: the simulated programmer (sim/programmer) and libusb on Linux
// (platform/linux). A pending transfer is cancelled by a stop request on the
// token it was started with; the channel stays usable for the next transfer.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>

namespace platform {

inline constexpr std::uint16_t kProgrammerVendorId = 0x10C4;
inline constexpr std::uint16_t kProgrammerProductId = 0xF5A0;

enum class UsbTransferStatus {
  kOk,         // the transfer completed (possibly short, see `transferred`)
  kTimedOut,   // the device's own time-out passed first
  kCancelled,  // a stop was requested while the transfer was pending
  kNoDevice,   // the programmer has gone from the bus
  kOverflow,   // the device sent a packet longer than the room left: `data` holds the
               // bytes that fit (`transferred` of them), the rest of that packet is lost
  kError,      // any other transfer error (stall, I/O)
};

struct UsbTransferResult {
  UsbTransferStatus status = UsbTransferStatus::kError;
  std::size_t transferred = 0;  // bytes moved, also for a failed or cancelled transfer

  bool ok() const { return status == UsbTransferStatus::kOk; }
};

enum class ProgrammerChannel { kWrite, kRead };

// The two bulk channels of one opened programmer. Closing is destruction. The
// two directions may be used from two threads at once, one transfer per
// direction at a time.
class ProgrammerChannels {
 public:
  virtual ~ProgrammerChannels() = default;

  // Where the opened device sits on the bus (as Find reported it).
  virtual std::string Location() const = 0;

  // Whether the channel could be claimed when the device was opened. A
  // transfer on a channel that is not open fails at once with kError.
  virtual bool IsOpen(ProgrammerChannel channel) const = 0;

  // Sends `data` on the write channel. Blocks until everything was sent, the
  // device time-out passed (zero: no device time-out), a stop was requested on
  // `stop` (the pending transfer is cancelled) or the device went away.
  virtual UsbTransferResult Write(std::span<const std::uint8_t> data,
                                  std::chrono::milliseconds timeout, std::stop_token stop) = 0;

  // Receives one transfer of at most `data.size()` bytes on the read channel.
  // A transfer ends early when the device ends its packet short, so fewer bytes
  // than asked is a success. A packet that does not fit into the room left ends
  // it with kOverflow. Blocks like Write.
  virtual UsbTransferResult Read(std::span<std::uint8_t> data, std::chrono::milliseconds timeout,
                                 std::stop_token stop) = 0;
};

class ProgrammerUsb {
 public:
  virtual ~ProgrammerUsb() = default;

  // The bus location of the first attached programmer (vendor 0x10C4, product
  // 0xF5A0), or nothing when none is attached. Does not open it; never blocks
  // for long.
  virtual std::optional<std::string> Find() = 0;

  // Opens the programmer at `location` and claims its channels. Null when the
  // device cannot be opened; a channel that cannot be claimed (its interface
  // held by another program, its endpoint missing) is reported by IsOpen.
  virtual std::unique_ptr<ProgrammerChannels> Open(const std::string& location) = 0;
};

}  // namespace platform
