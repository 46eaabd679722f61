#pragma once
// The logical unit of a simulated bridge as its USB mass-storage interface
// presents it to a host's kernel: the commands the kernel's disk and CD-ROM
// drivers and the device manager's probes send on their own, answered as a
// SCSI/ATA translating bridge with a disk answers them, and the requests the
// bridge model itself answers (standard INQUIRY data, ATA IDENTIFY, the
// vendor opcodes E0-E5 and E8) handed to the model.
//
// Data lengths: a command whose allocation length (or fixed reply) is longer
// than the host's data length gets as many bytes as the host has room for,
// with GOOD status, as bridges do; the transport reports the rest of the
// host's length as the residue. A command whose block count fixes its data
// (READ, WRITE, ATA PASS-THROUGH) and finds the host's length short of it or
// in the other direction completes with a phase error.
//
// Thread-safe: every call holds the target's lock, and the USB side reaches
// the model only through it.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "sim/station/sim_bridge.h"
#include "sim/usb/scsi_sense.h"
#include "sim/usb/scsi_target.h"

namespace sim::usb {

class BridgeScsiTarget final : public ScsiTarget {
 public:
  explicit BridgeScsiTarget(std::shared_ptr<sim::station::SimBridge> bridge);

  ScsiOutcome Execute(const ScsiCommand& command, std::span<std::uint8_t> data) override;

  // What the last E8 asked for; reading it clears it.
  sim::station::BridgeAction TakeAction();
  // The bridge's firmware runs again: the model restarts, pending sense data
  // and the firmware stream in progress are gone.
  void Restart() override;
  // As Restart, after the model has lost its registers to the power cut.
  void PowerUp() override;

  // What the descriptors say: the model's identity, link speed, device kind.
  sim::station::BridgeIdentity Identity() const;
  std::uint8_t LinkSpeed() const;
  bool PresentsCdRom() const;
  bool IsBridge() const;

 private:
  struct Command;

  ScsiOutcome Dispatch(const Command& c, std::span<std::uint8_t> data);
  ScsiOutcome Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
  ScsiOutcome InvalidOpcode();
  ScsiOutcome InvalidField();
  ScsiOutcome NotReady();
  ScsiOutcome OutOfRange();
  ScsiOutcome ModelRefused(std::uint8_t opcode);

  ScsiOutcome RequestSense(const Command& c, std::span<std::uint8_t> data);
  ScsiOutcome Inquiry(const Command& c, std::span<std::uint8_t> data);
  ScsiOutcome StandardInquiry(const Command& c, std::span<std::uint8_t> data, std::uint32_t allocation);
  ScsiOutcome ModeSense(const Command& c, std::span<std::uint8_t> data);
  ScsiOutcome ReadCapacity10(const Command& c, std::span<std::uint8_t> data);
  ScsiOutcome ServiceActionIn(const Command& c, std::span<std::uint8_t> data);
  ScsiOutcome TransferBlocks(const Command& c, std::span<std::uint8_t> data, platform::ScsiDirection dir);
  ScsiOutcome Verify(const Command& c);
  ScsiOutcome SynchronizeCache(const Command& c);
  ScsiOutcome AtaPassThrough(const Command& c, std::span<std::uint8_t> data);
  ScsiOutcome Mmc(const Command& c, std::span<std::uint8_t> data);
  ScsiOutcome Vendor(const Command& c, std::span<std::uint8_t> data);

  bool HasBlockMedium() const;
  bool InRange(std::uint64_t lba, std::uint64_t count) const;
  std::uint64_t Blocks() const;
  std::uint32_t BlockSize() const;
  std::string UnitSerial() const;

  mutable std::mutex mutex_;
  std::shared_ptr<sim::station::SimBridge> bridge_;
  SenseData sense_;  // what the next REQUEST SENSE reports
  // The model's firmware-stream name and the slot of the last vendor
  // command when that was an E3 (see Vendor()).
  std::uint64_t stream_id_ = 1;
  std::optional<std::uint8_t> e3_slot_;
};

}  // namespace sim::usb
