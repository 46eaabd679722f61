#include "sim/station/sim_bridge.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sim::station {

namespace {

using platform::ScsiDirection;
using platform::ScsiRequest;
using platform::ScsiResult;

constexpr ScsiResult kGood{true, platform::kScsiStatusGood};
constexpr ScsiResult kCheck{true, platform::kScsiStatusCheckCondition};
constexpr ScsiResult kLost{false, 0};

std::string BlockText(const SimConfigBlock& b, std::size_t offset, std::size_t size) {
  std::string s;
  for (std::size_t i = offset; i < offset + size; ++i) {
    if (b[i] == 0xFF || b[i] == 0x00) break;
    s.push_back(static_cast<char>(b[i]));
  }
  return s;
}

std::uint16_t BlockWord(const SimConfigBlock& b, std::size_t offset) {
  return static_cast<std::uint16_t>(b[offset] | (b[offset + 1] << 8));
}

// A request without a data phase has no direction: a USB mass-storage
// transport (and the SG_IO layer under it) sends "no data" whatever direction
// the station asked for, so only a request that moves data is held to one.
bool DirectionIs(const ScsiRequest& r, ScsiDirection dir) {
  return r.transfer_length == 0 || r.direction == dir;
}

bool Is(const ScsiRequest& r, std::uint8_t cdb_length, ScsiDirection dir, std::uint32_t length) {
  return r.cdb_length == cdb_length && DirectionIs(r, dir) && r.transfer_length == length;
}

}  // namespace

std::optional<BridgeIdentity> IdentityFromConfigBlock(const SimConfigBlock& block) {
  if (block[126] != 0x5A) return std::nullopt;
  unsigned sum = 0;
  for (std::size_t i = 4; i <= 126; ++i) sum += block[i];
  if ((sum & 0xFF) != block[127]) return std::nullopt;
  BridgeIdentity id;
  id.serial = BlockText(block, 0x04, 20);
  if (block[0x57] == 0x00 && block[0x58] == 0x02) {
    id.manufacturer = BlockText(block, 0x18, 28);
    id.product = BlockText(block, 0x34, 28);
    id.vendor_id = BlockWord(block, 0x50);
    id.product_id = BlockWord(block, 0x52);
    id.device_release = BlockWord(block, 0x54);
  } else if (block[0x7C] == 0x02) {
    id.manufacturer = BlockText(block, 0x18, 44);
    id.product = BlockText(block, 0x44, 48);
    id.vendor_id = BlockWord(block, 0x74);
    id.product_id = BlockWord(block, 0x76);
    id.device_release = BlockWord(block, 0x78);
  } else {
    return std::nullopt;
  }
  return id;
}

SimConfigBlock ConfigBlockFor(const BridgeIdentity& id) {
  SimConfigBlock b;
  b.fill(0xFF);
  const auto put = [&](std::size_t offset, std::size_t size, const std::string& text) {
    for (std::size_t i = 0; i < size && i < text.size(); ++i) b[offset + i] = static_cast<std::uint8_t>(text[i]);
  };
  const auto word = [&](std::size_t offset, std::uint16_t v) {
    b[offset] = static_cast<std::uint8_t>(v & 0xFF);
    b[offset + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  put(0x04, 20, id.serial);
  put(0x18, 28, id.manufacturer);
  put(0x34, 28, id.product);
  word(0x50, id.vendor_id);
  word(0x52, id.product_id);
  word(0x54, id.device_release);
  b[0x57] = 0x00;
  b[0x58] = 0x02;
  b[126] = 0x5A;
  unsigned sum = 0;
  for (std::size_t i = 4; i <= 126; ++i) sum += b[i];
  b[127] = static_cast<std::uint8_t>(sum & 0xFF);
  return b;
}

SimBridge::SimBridge(Options options)
    : options_(std::move(options)), identity_(options_.factory), registers_(0x10000, 0x00) {
  config_[0].fill(0xFF);
  config_[1].fill(0xFF);
  if (options_.config_slot0) config_[0] = *options_.config_slot0;
  if (options_.config_slot1) config_[1] = *options_.config_slot1;
  SetPowerOnRegisters();
  Restart();
}

void SimBridge::SetPowerOnRegisters() {
  std::fill(registers_.begin(), registers_.end(), std::uint8_t{0});
  for (std::size_t i = 0; i < options_.firmware_version.size(); ++i) {
    registers_[kRegFirmwareVersion + i] = options_.firmware_version[i];
  }
  registers_[kRegUaspStatus] = 0x80;
  registers_[kRegLinkSpeed] = options_.link_speed;
  registers_[kRegChipVariant] = options_.chip_variant;
  for (const auto& [address, value] : options_.registers) registers_[address] = value;
}

void SimBridge::PowerUp() {
  SetPowerOnRegisters();
  Restart();
}

void SimBridge::Restart() {
  if (auto id = IdentityFromConfigBlock(config_[0])) {
    identity_ = *id;
  } else {
    identity_ = options_.factory;
  }
  stream_owner_ = {};
}

BridgeAction SimBridge::TakeAction() { return std::exchange(action_, BridgeAction::kNone); }

std::uint32_t SimBridge::Calls(std::uint8_t opcode) const {
  auto it = calls_.find(opcode);
  return it == calls_.end() ? 0 : it->second;
}

ScsiResult SimBridge::Execute(const ScsiRequest& request, std::span<std::uint8_t> data,
                              std::uint64_t stream_id) {
  ScsiLogEntry entry{request, {}};
  if (request.direction == ScsiDirection::kOut && request.transfer_length > 0) {
    const auto n = std::min<std::size_t>(request.transfer_length, data.size());
    entry.data_out.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
  }
  log_.push_back(std::move(entry));
  if (data.size() < request.transfer_length) return kLost;

  const std::uint8_t opcode = request.cdb[0];
  const std::uint32_t call = ++calls_[opcode];
  auto fault = options_.faults.fail_from_call.find(opcode);
  if (fault != options_.faults.fail_from_call.end() && call >= fault->second) return kLost;
  return Answer(request, data, stream_id);
}

ScsiResult SimBridge::Inquiry(const ScsiRequest& r, std::span<std::uint8_t> data) {
  if (r.cdb_length < 6 || !DirectionIs(r, ScsiDirection::kIn) || r.transfer_length != r.cdb[4]) {
    return kCheck;
  }
  const auto inq = StandardInquiry();
  const std::size_t n = std::min<std::size_t>(r.transfer_length, inq.size());
  std::copy_n(inq.begin(), n, data.begin());
  return kGood;
}

std::array<std::uint8_t, kSimInquiryLength> SimBridge::StandardInquiry() const {
  std::array<std::uint8_t, kSimInquiryLength> inq{};
  inq[0] = options_.presents_cdrom ? 0x05 : 0x00;
  inq[1] = options_.presents_cdrom ? 0x80 : 0x00;
  inq[2] = 0x06;
  inq[3] = 0x02;
  inq[4] = 33;
  const char* vendor = options_.vendor_commands ? "VX      " : "Generic ";
  const char* product = options_.vendor_commands
                            ? (options_.presents_cdrom ? "VX7700 CD-ROM   " : "VX7700 SATA     ")
                            : "Flash Disk      ";
  std::memcpy(&inq[8], vendor, 8);
  std::memcpy(&inq[16], product, 16);
  std::memcpy(&inq[32], "0100", 4);
  if (options_.vendor_commands) {
    inq[36] = 0x05;  // the bridge's chip number, low byte first
    inq[37] = 0x21;
  }
  return inq;
}

ScsiResult SimBridge::Answer(const ScsiRequest& r, std::span<std::uint8_t> data, std::uint64_t stream_id) {
  const std::uint8_t opcode = r.cdb[0];
  if (opcode == 0x12) return Inquiry(r, data);
  if (opcode == 0xA1) {
    // ATA PASS-THROUGH(12): PIO data-in, one block of 512 bytes, IDENTIFY DEVICE.
    const bool identify = r.cdb_length == 12 && r.cdb[1] == 0x08 && r.cdb[2] == 0x0E &&
                          r.cdb[4] == 0x01 && r.cdb[9] == 0xEC &&
                          Is(r, 12, ScsiDirection::kIn, 512);
    if (!identify || !options_.disk || options_.faults.reject_identify || !options_.vendor_commands) {
      return kCheck;
    }
    options_.disk->FillIdentify(data.first(512));
    return kGood;
  }
  if (!options_.vendor_commands) return kCheck;

  const auto slot = static_cast<std::size_t>(r.cdb[1]);
  switch (opcode) {
    case 0xE0:  // read a configuration slot
      if (!Is(r, 6, ScsiDirection::kIn, 128) || slot > 1) return kCheck;
      std::copy(config_[slot].begin(), config_[slot].end(), data.begin());
      return kGood;
    case 0xE1:  // write a configuration slot
      if (!Is(r, 6, ScsiDirection::kOut, 128) || slot > 1) return kCheck;
      std::copy_n(data.begin(), 128, config_[slot].begin());
      return kGood;
    case 0xE2: {  // read back a firmware slot from its start
      if (r.cdb_length != 6 || !DirectionIs(r, ScsiDirection::kIn) || slot > 1 ||
          r.transfer_length > 65536) {
        return kCheck;
      }
      const auto& fw = firmware_[slot];
      for (std::uint32_t i = 0; i < r.transfer_length; ++i) data[i] = i < fw.size() ? fw[i] : 0xFF;
      return kGood;
    }
    case 0xE3: {  // a chunk of a firmware stream
      if (r.cdb_length != 6 || r.direction != ScsiDirection::kOut || slot > 1 ||
          r.transfer_length == 0 || r.transfer_length > 65536) {
        return kCheck;
      }
      auto& fw = firmware_[slot];
      if (stream_owner_[slot] != stream_id) {
        stream_owner_[slot] = stream_id;
        fw.clear();
        ++streams_[slot];
      }
      if (fw.size() + r.transfer_length > kFirmwareSlotCapacity) return kCheck;
      fw.insert(fw.end(), data.begin(), data.begin() + r.transfer_length);
      return kGood;
    }
    case 0xE4: {  // read registers
      const std::uint32_t n = r.cdb[1] == 0 ? 256 : r.cdb[1];
      if (!Is(r, 6, ScsiDirection::kIn, n)) return kCheck;
      const std::uint32_t address = (std::uint32_t{r.cdb[3]} << 8) | r.cdb[4];
      for (std::uint32_t i = 0; i < n; ++i) data[i] = registers_[(address + i) & 0xFFFF];
      return kGood;
    }
    case 0xE5: {  // write one register
      if (!Is(r, 6, ScsiDirection::kOut, 0)) return kCheck;
      const std::uint32_t address = (std::uint32_t{r.cdb[3]} << 8) | r.cdb[4];
      if (address == kRegFirmwareVersion || address == kRegChipVariant) return kGood;  // read-only
      registers_[address] = r.cdb[1];
      return kGood;
    }
    case 0xE8:
      if (!Is(r, 12, ScsiDirection::kIn, 0)) return kCheck;
      if (r.cdb[1] == 0x00) {
        action_ = BridgeAction::kRestart;
        return kGood;
      }
      if (r.cdb[1] == 0x01) {
        action_ = BridgeAction::kSafeRemove;
        return kGood;
      }
      return kCheck;
    default:
      return kCheck;
  }
}

}  // namespace sim::station
