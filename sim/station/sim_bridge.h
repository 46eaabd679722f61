#pragma once
// A VX7700 USB-to-SATA bridge as the station sees it through SCSI requests:
// standard INQUIRY, ATA PASS-THROUGH(12) IDENTIFY to the attached disk, and
// the vendor opcodes E0-E5 and E8 that its firmware answers itself. It keeps
// its registers, two configuration slots, two firmware slots filled by E3
// streams and the tag registers across commands and restarts. Without power
// (pulled off its port) the registers are lost; the slots are flash and stay.
//
// The same class also plays an ordinary USB mass-storage device (no vendor
// commands, ordinary INQUIRY data) so the station can be shown one that it
// must ignore.
//
// Not thread-safe: the owner serialises calls (the station world holds its
// lock around every request).

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/device_io.h"
#include "sim/station/sim_disk.h"

namespace sim::station {

using SimConfigBlock = std::array<std::uint8_t, 128>;

// What the USB device descriptor and its strings say.
struct BridgeIdentity {
  std::uint16_t vendor_id = 0x2E77;
  std::uint16_t product_id = 0x7700;
  std::uint16_t device_release = 0x0100;
  std::string manufacturer = "VX Storage";
  std::string product = "VX7700 SATA Bridge";
  std::string serial;

  bool operator==(const BridgeIdentity&) const = default;
};

// Faults on request.
struct BridgeFaults {
  // opcode -> n: the n-th request with this opcode and every later one fails
  // in transport (n counts from 1).
  std::map<std::uint8_t, std::uint32_t> fail_from_call;
  bool reject_identify = false;  // ATA PASS-THROUGH answers CHECK CONDITION
  bool never_returns = false;    // a restart takes it off the bus for good
  std::optional<std::uint32_t> return_delay_ms;  // overrides the world's delay
};

enum class BridgeAction { kNone, kRestart, kSafeRemove };

// One request as the bridge received it.
struct ScsiLogEntry {
  platform::ScsiRequest request;
  std::vector<std::uint8_t> data_out;  // payload of an out request
};

inline constexpr std::uint16_t kRegFirmwareVersion = 0x07F0;
inline constexpr std::uint16_t kRegUaspStatus = 0x9000;
inline constexpr std::uint16_t kRegLinkSpeed = 0x9002;
inline constexpr std::uint16_t kRegUaspSupport = 0xC890;
inline constexpr std::uint16_t kRegChipVariant = 0xC8FF;
inline constexpr std::uint16_t kRegTag1 = 0xCA02;
inline constexpr std::uint16_t kRegTag2 = 0xCA03;

inline constexpr std::size_t kFirmwareSlotCapacity = 1024 * 1024;
// Bytes of standard INQUIRY data the bridge has (the chip number ends them).
inline constexpr std::size_t kSimInquiryLength = 38;

class SimBridge {
 public:
  struct Options {
    BridgeIdentity factory;  // descriptors while configuration slot 0 is not valid
    std::uint8_t chip_variant = 0x11;
    std::array<std::uint8_t, 7> firmware_version{0x12, 0x11, 0x05, 0x10, 0x00, 0x00, 0x00};
    std::uint8_t link_speed = 2;  // 0 full, 1 high, 2 SuperSpeed
    bool vendor_commands = true;  // false: an ordinary mass-storage device
    bool presents_cdrom = false;
    std::shared_ptr<SimDisk> disk;  // may be null
    BridgeFaults faults;
    std::optional<SimConfigBlock> config_slot0;  // initial slot contents (else 0xFF)
    std::optional<SimConfigBlock> config_slot1;
    // Register values set after all others (they may override the variant,
    // the firmware version or the link speed).
    std::map<std::uint16_t, std::uint8_t> registers;
  };

  explicit SimBridge(Options options);

  // Answers one request. A request with no data phase (length 0) is taken in
  // either direction. `stream_id` names the handle it came through: E3
  // chunks from one handle are appended to each other, the first E3 from
  // another handle starts a new image.
  platform::ScsiResult Execute(const platform::ScsiRequest& request,
                               std::span<std::uint8_t> data, std::uint64_t stream_id);

  // The standard INQUIRY data the bridge answers with (peripheral type,
  // vendor, product, revision, chip number), without counting a request.
  std::array<std::uint8_t, kSimInquiryLength> StandardInquiry() const;

  // What the last E8 asked for; reading it clears it.
  BridgeAction TakeAction();

  // The bridge runs its firmware again: it takes its descriptors from
  // configuration slot 0 when that block's signature and sum are valid, else
  // from the factory values. Registers and slots survive.
  void Restart();
  // The bridge was without power and gets it again: every register takes
  // its power-on value (the tag registers and whatever was written are
  // gone), the configuration and firmware slots keep what they hold, and the
  // firmware starts as after Restart.
  void PowerUp();

  const BridgeIdentity& Identity() const { return identity_; }
  bool PresentsCdRom() const { return options_.presents_cdrom; }
  bool IsBridge() const { return options_.vendor_commands; }
  const std::shared_ptr<SimDisk>& Disk() const { return options_.disk; }
  std::uint8_t LinkSpeed() const { return registers_[kRegLinkSpeed]; }

  std::uint8_t Register(std::uint16_t address) const { return registers_[address]; }
  void SetRegister(std::uint16_t address, std::uint8_t value) { registers_[address] = value; }
  const SimConfigBlock& ConfigSlot(int slot) const { return config_[static_cast<std::size_t>(slot & 1)]; }
  const std::vector<std::uint8_t>& FirmwareSlot(int slot) const {
    return firmware_[static_cast<std::size_t>(slot & 1)];
  }
  // Number of firmware streams that have begun on a slot.
  std::uint32_t FirmwareStreams(int slot) const { return streams_[static_cast<std::size_t>(slot & 1)]; }

  BridgeFaults& Faults() { return options_.faults; }
  std::uint32_t Calls(std::uint8_t opcode) const;
  const std::vector<ScsiLogEntry>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }

 private:
  void SetPowerOnRegisters();
  platform::ScsiResult Answer(const platform::ScsiRequest& request, std::span<std::uint8_t> data,
                              std::uint64_t stream_id);
  platform::ScsiResult Inquiry(const platform::ScsiRequest& request, std::span<std::uint8_t> data);

  Options options_;
  BridgeIdentity identity_;
  std::vector<std::uint8_t> registers_;
  std::array<SimConfigBlock, 2> config_{};
  std::array<std::vector<std::uint8_t>, 2> firmware_;
  std::array<std::uint32_t, 2> streams_{};
  std::array<std::optional<std::uint64_t>, 2> stream_owner_;
  std::map<std::uint8_t, std::uint32_t> calls_;
  BridgeAction action_ = BridgeAction::kNone;
  std::vector<ScsiLogEntry> log_;
};

// A valid configuration block of the first layout naming `identity` (texts
// cut to their fields), as a production run leaves it in slot 0.
SimConfigBlock ConfigBlockFor(const BridgeIdentity& identity);

// The descriptors a configuration block names, when its signature (0x5A at
// byte 126) and sum (byte 127 = low 8 bits of bytes 4..126) are valid.
std::optional<BridgeIdentity> IdentityFromConfigBlock(const SimConfigBlock& block);

}  // namespace sim::station
