#pragma once
// Sense data of a logical unit: what a command that ended in CHECK CONDITION
// leaves for the REQUEST SENSE that follows it, in fixed (0x70) or
// descriptor (0x72) format. An ATA pass-through command that asked for its
// registers back (CK_COND) carries them too: in the fixed format in the
// information and command-specific fields, in the descriptor format as an
// ATA Status Return descriptor.

#include <cstdint>
#include <optional>
#include <vector>

namespace sim::usb {

inline constexpr std::uint8_t kSenseNoSense = 0x00;
inline constexpr std::uint8_t kSenseRecoveredError = 0x01;
inline constexpr std::uint8_t kSenseNotReady = 0x02;
inline constexpr std::uint8_t kSenseMediumError = 0x03;
inline constexpr std::uint8_t kSenseIllegalRequest = 0x05;

// The ATA registers at the end of a pass-through command.
struct AtaRegisters {
  bool extend = false;  // a 48-bit command: the upper bytes count
  std::uint8_t error = 0;
  std::uint16_t count = 0;
  std::uint64_t lba = 0;  // 48 bits
  std::uint8_t device = 0;
  std::uint8_t status = 0;
};

struct SenseData {
  std::uint8_t key = kSenseNoSense;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  std::optional<AtaRegisters> ata;

  // The 18 bytes of fixed-format sense data.
  std::vector<std::uint8_t> Fixed() const;
  // Descriptor-format sense data: 8 bytes, and 14 more with ATA registers.
  std::vector<std::uint8_t> Descriptor() const;
};

}  // namespace sim::usb
