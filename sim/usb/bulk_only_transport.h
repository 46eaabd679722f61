#pragma once
// USB mass storage Bulk-Only Transport on the device's side: command block
// wrappers (CBW, 31 bytes, "USBC") from the bulk OUT endpoint, the data phase
// in either direction, status wrappers (CSW, 13 bytes, "USBS") to the bulk IN
// endpoint. Each command goes to the ScsiTarget.
//
// Host and device disagreeing on the data phase (the transport's thirteen
// cases): the device sends less than asked as a short transfer (a zero-length
// one when nothing is left) and reports the rest as the residue; OUT data the
// target does not take is taken and counted in the residue; a command the
// target cannot carry out in the host's direction or length (kPhaseError)
// halts the data endpoint for its data phase and ends with status 2. An
// invalid CBW (also one asking for more than kMaxDataPhase), a transfer in
// the wrong phase, and the end of a command with a phase error halt both
// bulk endpoints until the host's reset recovery: the
// Bulk-Only Mass Storage Reset, then CLEAR_FEATURE(ENDPOINT_HALT) on both (a
// clear before the reset leaves the endpoint halted), as the kernel's
// usb-storage driver does it.
//
// Plain logic: the owner feeds it the bulk transfers and control requests of
// one device, one at a time, and sends the completions it hands to `send`.
// IN transfers wait in order until there is something to send.

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <vector>

#include "sim/usb/scsi_target.h"

namespace sim::usb {

enum class BulkStatus : std::uint8_t { kOk, kStall, kCancelled, kError, kBabble };

struct BulkCompletion {
  std::uint64_t id = 0;
  std::uint8_t endpoint = 0;
  BulkStatus status = BulkStatus::kOk;
  std::vector<std::uint8_t> data;  // IN: the bytes sent; OUT: empty
  std::uint32_t length = 0;        // bytes moved
};

inline constexpr std::size_t kCbwLength = 31;
inline constexpr std::size_t kCswLength = 13;
// The longest data phase taken (the kernel's usb-storage asks at most 1 MiB
// at once); a wrapper asking for more is invalid.
inline constexpr std::uint32_t kMaxDataPhase = 32U << 20;
inline constexpr std::uint8_t kCswGood = 0;
inline constexpr std::uint8_t kCswFailed = 1;
inline constexpr std::uint8_t kCswPhaseError = 2;

class BulkOnlyTransport {
 public:
  using Send = std::function<void(BulkCompletion)>;

  BulkOnlyTransport(ScsiTarget& target, std::uint8_t bulk_in, std::uint8_t bulk_out, Send send);

  void BulkOut(std::uint64_t id, std::span<const std::uint8_t> data);
  void BulkIn(std::uint64_t id, std::uint32_t length);
  // A pending IN transfer the host gave up: completed as cancelled.
  void Cancel(std::uint64_t id);

  // Class request 0xFF, Bulk-Only Mass Storage Reset: ready for the next CBW.
  void MassStorageReset();
  // CLEAR_FEATURE(ENDPOINT_HALT): false for an endpoint this transport does not have.
  bool ClearHalt(std::uint8_t endpoint);
  bool Halted(std::uint8_t endpoint) const;
  // The device was reset or left the bus: every pending IN transfer is
  // completed as cancelled and the transport starts afresh.
  void Reset();

  // True once after each status wrapper went out (plug events wait for it).
  bool TakeCommandEnded();
  // Commands completed since the start.
  std::uint64_t Commands() const { return commands_; }

 private:
  enum class Phase { kCommand, kDataIn, kDataOut, kStatus };
  struct PendingIn {
    std::uint64_t id;
    std::uint32_t length;
  };

  void Invalid();  // halt both until reset recovery
  void Execute();
  void Pump();
  void Complete(const PendingIn& in, BulkStatus status, std::vector<std::uint8_t> data = {});

  ScsiTarget& target_;
  std::uint8_t bulk_in_;
  std::uint8_t bulk_out_;
  Send send_;

  Phase phase_ = Phase::kCommand;
  bool halt_in_ = false;
  bool halt_out_ = false;
  bool needs_reset_ = false;
  std::deque<PendingIn> pending_in_;

  std::uint32_t tag_ = 0;
  std::uint32_t host_length_ = 0;
  platform::ScsiDirection direction_ = platform::ScsiDirection::kIn;
  std::vector<std::uint8_t> cdb_;
  std::vector<std::uint8_t> data_;
  std::uint32_t moved_ = 0;        // data bytes sent or received so far
  std::uint32_t device_length_ = 0;  // IN: bytes the target filled
  std::uint32_t residue_ = 0;
  std::uint8_t status_ = kCswGood;
  bool command_ended_ = false;
  std::uint64_t commands_ = 0;
};

}  // namespace sim::usb
