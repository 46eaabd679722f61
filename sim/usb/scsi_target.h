#pragma once
// The logical unit behind a USB mass-storage device: what answers the SCSI
// command blocks that arrive in Bulk-Only Transport command wrappers. The
// transport (sim/usb, the device's bulk endpoints) hands each command to its
// target and builds the status wrapper from the outcome.

#include <cstdint>
#include <span>

#include "platform/device_io.h"

namespace sim::usb {

struct ScsiCommand {
  std::span<const std::uint8_t> cdb;  // 1 to 16 bytes, as the wrapper carried them
  // The wrapper's direction flag; it carries no meaning when transfer_length is 0.
  platform::ScsiDirection direction = platform::ScsiDirection::kIn;
  std::uint32_t transfer_length = 0;  // the host's data length (dCBWDataTransferLength)
};

enum class ScsiCompletion : std::uint8_t {
  kDone,        // the command completed with `status` (a CHECK CONDITION keeps its sense data)
  kPhaseError,  // the device lost the command: the transport answers with a phase error
};

struct ScsiOutcome {
  ScsiCompletion completion = ScsiCompletion::kDone;
  std::uint8_t status = platform::kScsiStatusGood;
  // Bytes of the data phase the device moved: for kIn the bytes of `data` it
  // filled (the rest of the host's length is the residue), for kOut the bytes
  // it took.
  std::uint32_t data_length = 0;
};

class ScsiTarget {
 public:
  virtual ~ScsiTarget() = default;

  // Carries out one command. For kIn, `data` has transfer_length bytes of room;
  // for kOut it holds the transfer_length bytes the host sent. Called from the
  // transport's thread, one command at a time.
  virtual ScsiOutcome Execute(const ScsiCommand& command, std::span<std::uint8_t> data) = 0;

  // The device's firmware starts again (power came back, or it restarted
  // itself): pending sense data and any command stream in progress are gone,
  // and a bridge takes its descriptors anew.
  virtual void Restart() = 0;
  // The device was without power and gets it again: as Restart, and what it
  // held only while powered (a bridge's registers) is gone too.
  virtual void PowerUp() = 0;
};

}  // namespace sim::usb
