#pragma once
// A small logical unit for the transport tests: TEST UNIT READY, REQUEST
// SENSE, MODE SENSE(6), READ CAPACITY(10), READ(10) and WRITE(10) on the
// bridge's disk image; opcode
// 0xFD is lost by the device (a phase error); everything else goes to the
// bridge model (INQUIRY, the vendor commands, E8 restarts).

#include <algorithm>
#include <memory>

#include "sim/station/sim_bridge.h"
#include "sim/usb/scsi_target.h"

namespace sim::usb::testing {

inline constexpr std::uint8_t kLostOpcode = 0xFD;

class TestDiskTarget final : public ScsiTarget {
 public:
  explicit TestDiskTarget(std::shared_ptr<station::SimBridge> model) : model_(std::move(model)) {}

  void Restart() override { model_->Restart(); }
  void PowerUp() override { model_->PowerUp(); }

  ScsiOutcome Execute(const ScsiCommand& c, std::span<std::uint8_t> data) override {
    const auto& disk = model_->Disk();
    const std::uint8_t op = c.cdb[0];
    const auto be32 = [&](std::size_t at) {
      return (std::uint32_t{c.cdb[at]} << 24) | (std::uint32_t{c.cdb[at + 1]} << 16) |
             (std::uint32_t{c.cdb[at + 2]} << 8) | c.cdb[at + 3];
    };
    if (op == kLostOpcode) return {ScsiCompletion::kPhaseError, 0, 0};
    if (op == 0x00) return {};
    if (op == 0x03 || op == 0x1A) {  // REQUEST SENSE (no sense), MODE SENSE(6) (a bare header)
      std::uint8_t answer[18] = {};
      std::uint32_t n = 4;
      if (op == 0x03) {
        answer[0] = 0x70;
        answer[7] = 10;
        n = 18;
      } else {
        answer[0] = 3;
      }
      n = std::min<std::uint32_t>(n, static_cast<std::uint32_t>(data.size()));
      std::copy_n(answer, n, data.begin());
      return {ScsiCompletion::kDone, platform::kScsiStatusGood, n};
    }
    if (op == 0x25) {
      const std::uint64_t last = disk->SizeBytes() / disk->SectorSize() - 1;
      const std::uint8_t answer[8] = {static_cast<std::uint8_t>(last >> 24), static_cast<std::uint8_t>(last >> 16),
                                      static_cast<std::uint8_t>(last >> 8),  static_cast<std::uint8_t>(last),
                                      0, 0, static_cast<std::uint8_t>(disk->SectorSize() >> 8), 0};
      const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(8, data.size()));
      std::copy_n(answer, n, data.begin());
      return {ScsiCompletion::kDone, platform::kScsiStatusGood, n};
    }
    if (op == 0x28 || op == 0x2A) {
      const std::uint32_t bytes = ((std::uint32_t{c.cdb[7]} << 8) | c.cdb[8]) * disk->SectorSize();
      if (bytes != c.transfer_length) return {ScsiCompletion::kPhaseError, 0, 0};
      const std::uint64_t offset = std::uint64_t{be32(2)} * disk->SectorSize();
      const bool ok = op == 0x28 ? disk->Read(offset, data.first(bytes)) : disk->Write(offset, data.first(bytes));
      return {ScsiCompletion::kDone, ok ? platform::kScsiStatusGood : platform::kScsiStatusCheckCondition, ok ? bytes : 0};
    }
    platform::ScsiRequest r;
    std::copy(c.cdb.begin(), c.cdb.end(), r.cdb.begin());
    r.cdb_length = static_cast<std::uint8_t>(c.cdb.size());
    // No data phase: the wrapper's direction flag means nothing; the model
    // takes such commands as in-commands of length 0.
    r.direction = c.transfer_length == 0 ? platform::ScsiDirection::kIn : c.direction;
    r.transfer_length = c.transfer_length;
    const auto result = model_->Execute(r, data, 1);
    if (!result.ok) return {ScsiCompletion::kPhaseError, 0, 0};
    const bool in = c.direction == platform::ScsiDirection::kIn;
    std::uint32_t moved = c.transfer_length;
    if (in && op == 0x12) moved = std::min<std::uint32_t>(c.transfer_length, 38);
    return {ScsiCompletion::kDone, result.scsi_status, moved};
  }

 private:
  std::shared_ptr<station::SimBridge> model_;
};

}  // namespace sim::usb::testing
