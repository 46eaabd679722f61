#include "sim/usb/bridge_scsi_target.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace sim::usb {

using platform::ScsiDirection;

namespace {

// Operation codes.
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::uint8_t kRead6 = 0x08;
constexpr std::uint8_t kWrite6 = 0x0A;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kModeSense6 = 0x1A;
constexpr std::uint8_t kStartStopUnit = 0x1B;
constexpr std::uint8_t kPreventAllowRemoval = 0x1E;
constexpr std::uint8_t kReadCapacity10 = 0x25;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kWrite10 = 0x2A;
constexpr std::uint8_t kVerify10 = 0x2F;
constexpr std::uint8_t kSynchronizeCache10 = 0x35;
constexpr std::uint8_t kReadSubChannel = 0x42;
constexpr std::uint8_t kReadToc = 0x43;
constexpr std::uint8_t kGetConfiguration = 0x46;
constexpr std::uint8_t kGetEventStatus = 0x4A;
constexpr std::uint8_t kReadDiscInformation = 0x51;
constexpr std::uint8_t kReadTrackInformation = 0x52;
constexpr std::uint8_t kModeSense10 = 0x5A;
constexpr std::uint8_t kAtaPassThrough16 = 0x85;
constexpr std::uint8_t kRead16 = 0x88;
constexpr std::uint8_t kWrite16 = 0x8A;
constexpr std::uint8_t kVerify16 = 0x8F;
constexpr std::uint8_t kSynchronizeCache16 = 0x91;
constexpr std::uint8_t kServiceActionIn16 = 0x9E;
constexpr std::uint8_t kReportLuns = 0xA0;
constexpr std::uint8_t kAtaPassThrough12 = 0xA1;
constexpr std::uint8_t kRead12 = 0xA8;
constexpr std::uint8_t kWrite12 = 0xAA;
constexpr std::uint8_t kReadCd = 0xBE;
constexpr std::uint8_t kVendorE3 = 0xE3;

constexpr std::uint8_t kReadCapacity16Action = 0x10;
constexpr std::uint8_t kAtaIdentifyDevice = 0xEC;
constexpr std::uint8_t kAtaPioDataIn = 4;
constexpr std::uint32_t kAtaBlock = 512;

// The opcodes the bridge's firmware answers itself.
bool IsVendor(std::uint8_t opcode) { return (opcode >= 0xE0 && opcode <= 0xE5) || opcode == 0xE8; }

// The length of a command block by its group code; 0 where the group does
// not fix it (reserved and vendor groups).
std::size_t GroupLength(std::uint8_t opcode) {
  switch (opcode >> 5) {
    case 0:
      return 6;
    case 1:
    case 2:
      return 10;
    case 4:
      return 16;
    case 5:
      return 12;
    default:
      return 0;
  }
}

std::uint64_t Be(const std::array<std::uint8_t, platform::kMaxCdbLength>& b, std::size_t at, std::size_t bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bytes; ++i) v = (v << 8) | b[at + i];
  return v;
}

void PutBe(std::vector<std::uint8_t>& out, std::size_t at, std::size_t bytes, std::uint64_t v) {
  for (std::size_t i = 0; i < bytes; ++i) out[at + bytes - 1 - i] = static_cast<std::uint8_t>(v >> (8 * i));
}

ScsiOutcome Good(std::uint64_t moved = 0) {
  return {ScsiCompletion::kDone, platform::kScsiStatusGood, static_cast<std::uint32_t>(moved)};
}

ScsiOutcome PhaseError() { return {ScsiCompletion::kPhaseError, platform::kScsiStatusGood, 0}; }

// Mode pages in their current values.
std::vector<std::uint8_t> ModePage(std::uint8_t code) {
  switch (code) {
    case 0x08: {
      // Caching: write cache off (every write reaches the image before its
      // status), read cache on.
      std::vector<std::uint8_t> p(20, 0);
      p[0] = 0x08;
      p[1] = 18;
      return p;
    }
    case 0x1C: {
      // Informational exceptions control: exceptions disabled (DEXCPT).
      std::vector<std::uint8_t> p(12, 0);
      p[0] = 0x1C;
      p[1] = 10;
      p[2] = 0x08;
      return p;
    }
    default: {
      // CD/DVD capabilities and mechanical status: reads CD-ROM only, a
      // tray that locks and ejects, 16x at most.
      std::vector<std::uint8_t> p(22, 0);
      p[0] = 0x2A;
      p[1] = 20;
      p[6] = 0x29;  // tray loading mechanism, eject, lock
      PutBe(p, 8, 2, 16 * 176);
      PutBe(p, 14, 2, 16 * 176);
      return p;
    }
  }
}

}  // namespace

struct BridgeScsiTarget::Command {
  std::array<std::uint8_t, platform::kMaxCdbLength> b{};  // the command block, zero past its length
  std::size_t length = 0;
  ScsiDirection direction = ScsiDirection::kIn;
  std::uint32_t transfer_length = 0;

  std::uint8_t Opcode() const { return b[0]; }

  // Whether the host's data phase carries `bytes` in direction `dir`: a
  // transfer the command block fixes must fit the host's length and go its
  // way, else the host and the device disagree on the phases.
  bool Carries(ScsiDirection dir, std::uint64_t bytes) const {
    return bytes == 0 || (direction == dir && transfer_length >= bytes);
  }

  // The request as the model takes it.
  platform::ScsiRequest ModelRequest() const {
    platform::ScsiRequest r;
    r.cdb = b;
    r.cdb_length = static_cast<std::uint8_t>(length);
    r.direction = direction;
    r.transfer_length = transfer_length;
    return r;
  }

  // The logical block address and count of a block command; READ(6) and
  // WRITE(6) count 0 as 256 blocks.
  std::pair<std::uint64_t, std::uint64_t> Blocks() const {
    switch (GroupLength(b[0])) {
      case 6:
        return {Be(b, 1, 3) & 0x1FFFFF, b[4] == 0 ? 256 : b[4]};
      case 10:
        return {Be(b, 2, 4), Be(b, 7, 2)};
      case 12:
        return {Be(b, 2, 4), Be(b, 6, 4)};
      default:
        return {Be(b, 2, 8), Be(b, 10, 4)};
    }
  }
};

namespace {

// Data the device has for the host, cut to the command's allocation length
// and then to the host's data length (status GOOD, the rest is residue).
// Only a host that would send where the device sends disagrees on the phase.
template <typename CommandT>
ScsiOutcome Send(const CommandT& c, const std::vector<std::uint8_t>& reply, std::uint64_t allocation,
                 std::span<std::uint8_t> data) {
  const auto n = std::min<std::uint64_t>(reply.size(), allocation);
  if (n == 0) return Good();
  if (c.transfer_length > 0 && c.direction != ScsiDirection::kIn) return PhaseError();
  const auto moved = static_cast<std::size_t>(std::min<std::uint64_t>(n, c.transfer_length));
  std::copy_n(reply.begin(), moved, data.begin());
  return Good(moved);
}

}  // namespace

BridgeScsiTarget::BridgeScsiTarget(std::shared_ptr<sim::station::SimBridge> bridge) : bridge_(std::move(bridge)) {}

sim::station::BridgeAction BridgeScsiTarget::TakeAction() {
  std::lock_guard lock(mutex_);
  return bridge_->TakeAction();
}

void BridgeScsiTarget::Restart() {
  std::lock_guard lock(mutex_);
  bridge_->Restart();
  sense_ = {};
  e3_slot_.reset();
  ++stream_id_;
}

void BridgeScsiTarget::PowerUp() {
  std::lock_guard lock(mutex_);
  bridge_->PowerUp();
  sense_ = {};
  e3_slot_.reset();
  ++stream_id_;
}

sim::station::BridgeIdentity BridgeScsiTarget::Identity() const {
  std::lock_guard lock(mutex_);
  return bridge_->Identity();
}

std::uint8_t BridgeScsiTarget::LinkSpeed() const {
  std::lock_guard lock(mutex_);
  return bridge_->LinkSpeed();
}

bool BridgeScsiTarget::PresentsCdRom() const {
  std::lock_guard lock(mutex_);
  return bridge_->PresentsCdRom();
}

bool BridgeScsiTarget::IsBridge() const {
  std::lock_guard lock(mutex_);
  return bridge_->IsBridge();
}

ScsiOutcome BridgeScsiTarget::Execute(const ScsiCommand& command, std::span<std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  // The transport promises room for (or the bytes of) the host's length; a
  // buffer short of it cannot carry the data phase.
  if (data.size() < command.transfer_length) return PhaseError();
  Command c;
  c.length = std::min(command.cdb.size(), c.b.size());
  std::copy_n(command.cdb.begin(), c.length, c.b.begin());
  c.direction = command.direction;
  c.transfer_length = command.transfer_length;
  // Sense data describes the command before; any other command replaces it.
  if (c.length == 0 || c.Opcode() != kRequestSense) sense_ = {};
  if (c.length == 0) return InvalidOpcode();
  if (c.length < GroupLength(c.Opcode())) return InvalidField();
  return Dispatch(c, data.first(c.transfer_length));
}

ScsiOutcome BridgeScsiTarget::Dispatch(const Command& c, std::span<std::uint8_t> data) {
  const std::uint8_t op = c.Opcode();
  if (IsVendor(op)) return Vendor(c, data);
  switch (op) {
    case kTestUnitReady:
      return HasBlockMedium() ? Good() : NotReady();
    case kRequestSense:
      return RequestSense(c, data);
    case kInquiry:
      return Inquiry(c, data);
    case kModeSense6:
    case kModeSense10:
      return ModeSense(c, data);
    case kStartStopUnit:
    case kPreventAllowRemoval:
      return Good();
    case kReadCapacity10:
      return ReadCapacity10(c, data);
    case kServiceActionIn16:
      return ServiceActionIn(c, data);
    case kRead6:
    case kRead10:
    case kRead12:
    case kRead16:
      return TransferBlocks(c, data, ScsiDirection::kIn);
    case kWrite6:
    case kWrite10:
    case kWrite12:
    case kWrite16:
      return TransferBlocks(c, data, ScsiDirection::kOut);
    case kVerify10:
    case kVerify16:
      return Verify(c);
    case kSynchronizeCache10:
    case kSynchronizeCache16:
      return SynchronizeCache(c);
    case kReportLuns: {
      // One logical unit, LUN 0.
      if (Be(c.b, 6, 4) < 16 || c.b[2] > 2) return InvalidField();
      std::vector<std::uint8_t> reply(16, 0);
      reply[3] = 8;
      return Send(c, reply, Be(c.b, 6, 4), data);
    }
    case kAtaPassThrough12:
    case kAtaPassThrough16:
      return AtaPassThrough(c, data);
    case kReadSubChannel:
    case kReadToc:
    case kGetConfiguration:
    case kGetEventStatus:
    case kReadDiscInformation:
    case kReadTrackInformation:
    case kReadCd:
      return bridge_->PresentsCdRom() ? Mmc(c, data) : InvalidOpcode();
    default:
      // MODE SELECT among them: no mode page can be changed.
      return InvalidOpcode();
  }
}

ScsiOutcome BridgeScsiTarget::Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  sense_ = SenseData{key, asc, ascq, std::nullopt};
  return {ScsiCompletion::kDone, platform::kScsiStatusCheckCondition, 0};
}

ScsiOutcome BridgeScsiTarget::InvalidOpcode() { return Check(kSenseIllegalRequest, 0x20, 0x00); }
ScsiOutcome BridgeScsiTarget::InvalidField() { return Check(kSenseIllegalRequest, 0x24, 0x00); }
ScsiOutcome BridgeScsiTarget::NotReady() { return Check(kSenseNotReady, 0x3A, 0x00); }
ScsiOutcome BridgeScsiTarget::OutOfRange() { return Check(kSenseIllegalRequest, 0x21, 0x00); }

bool BridgeScsiTarget::InRange(std::uint64_t lba, std::uint64_t count) const {
  return lba <= Blocks() && count <= Blocks() - lba;
}

ScsiOutcome BridgeScsiTarget::ModelRefused(std::uint8_t opcode) {
  // An ordinary mass-storage device knows neither the vendor opcodes nor ATA
  // pass-through; the bridge refuses a request it knows for its fields.
  if (!bridge_->IsBridge() && opcode != kInquiry) return InvalidOpcode();
  return InvalidField();
}

bool BridgeScsiTarget::HasBlockMedium() const {
  const auto& disk = bridge_->Disk();
  return disk && disk->HasMedium() && !bridge_->PresentsCdRom();
}

std::uint64_t BridgeScsiTarget::Blocks() const {
  return HasBlockMedium() ? bridge_->Disk()->SizeBytes() / BlockSize() : 0;
}

std::uint32_t BridgeScsiTarget::BlockSize() const {
  const auto& disk = bridge_->Disk();
  return disk ? disk->SectorSize() : sim::station::kSimSectorSize;
}

std::string BridgeScsiTarget::UnitSerial() const {
  // The disk's serial number, as bridges report it; a bridge without a disk
  // has its own USB serial number.
  const auto& disk = bridge_->Disk();
  return disk ? disk->AtaSerial() : bridge_->Identity().serial;
}

ScsiOutcome BridgeScsiTarget::RequestSense(const Command& c, std::span<std::uint8_t> data) {
  const bool descriptor = (c.b[1] & 0x01) != 0;
  const auto reply = descriptor ? sense_.Descriptor() : sense_.Fixed();
  sense_ = {};
  return Send(c, reply, c.b[4], data);
}

ScsiOutcome BridgeScsiTarget::Inquiry(const Command& c, std::span<std::uint8_t> data) {
  const bool evpd = (c.b[1] & 0x01) != 0;
  const std::uint8_t page = c.b[2];
  const auto allocation = static_cast<std::uint32_t>(Be(c.b, 3, 2));
  if ((c.b[1] & 0xFE) != 0) return InvalidField();
  if (!evpd) return page == 0 ? StandardInquiry(c, data, allocation) : InvalidField();

  std::vector<std::uint8_t> reply{bridge_->StandardInquiry()[0], page, 0, 0};
  switch (page) {
    case 0x00:  // supported pages
      reply.insert(reply.end(), {0x00, 0x80, 0x83});
      break;
    case 0x80: {  // unit serial number
      const auto serial = UnitSerial();
      reply.insert(reply.end(), serial.begin(), serial.end());
      break;
    }
    case 0x83: {
      // Device identification: one T10 vendor identification designator of
      // the logical unit, the INQUIRY vendor and product and the serial
      // number, in ASCII.
      const auto standard = bridge_->StandardInquiry();
      std::vector<std::uint8_t> id(standard.begin() + 8, standard.begin() + 32);
      const auto serial = UnitSerial();
      id.insert(id.end(), serial.begin(), serial.end());
      id.resize(std::min<std::size_t>(id.size(), 255));
      reply.insert(reply.end(), {0x02, 0x01, 0x00, static_cast<std::uint8_t>(id.size())});
      reply.insert(reply.end(), id.begin(), id.end());
      break;
    }
    default:
      return InvalidField();
  }
  PutBe(reply, 2, 2, reply.size() - 4);
  return Send(c, reply, allocation, data);
}

ScsiOutcome BridgeScsiTarget::StandardInquiry(const Command& c, std::span<std::uint8_t> data,
                                              std::uint32_t allocation) {
  // The model answers the data the station reads, for an allocation length
  // of one byte that its data length matches. Any other length gets the same
  // data, cut or padded with zeros to the allocation length.
  const std::uint32_t asked = std::min<std::uint32_t>(allocation, 255);
  auto request = c.ModelRequest();
  request.cdb[3] = 0;
  request.cdb[4] = static_cast<std::uint8_t>(asked);
  request.direction = ScsiDirection::kIn;
  request.transfer_length = asked;
  std::vector<std::uint8_t> reply(allocation, 0);
  const auto result = bridge_->Execute(request, std::span(reply).first(asked), stream_id_);
  if (!result.ok) return PhaseError();
  if (result.scsi_status != platform::kScsiStatusGood) return ModelRefused(kInquiry);
  return Send(c, reply, allocation, data);
}

ScsiOutcome BridgeScsiTarget::ModeSense(const Command& c, std::span<std::uint8_t> data) {
  const bool six = c.Opcode() == kModeSense6;
  const bool no_descriptor = (c.b[1] & 0x08) != 0;
  const bool long_lba = !six && (c.b[1] & 0x10) != 0;
  const std::uint8_t control = c.b[2] >> 6;  // current, changeable, default, saved
  const std::uint8_t page = c.b[2] & 0x3F;
  const std::uint8_t subpage = c.b[3];
  const std::uint64_t allocation = six ? c.b[4] : Be(c.b, 7, 2);
  if (control == 3) return Check(kSenseIllegalRequest, 0x39, 0x00);  // saving parameters not supported
  if (subpage != 0x00 && subpage != 0xFF) return InvalidField();

  const bool cdrom = bridge_->PresentsCdRom();
  const std::vector<std::uint8_t> pages = cdrom ? std::vector<std::uint8_t>{0x2A}
                                                : std::vector<std::uint8_t>{0x08, 0x1C};
  std::vector<std::uint8_t> body;
  for (const auto code : pages) {
    if (page != 0x3F && page != code) continue;
    auto bytes = ModePage(code);
    // Nothing can be changed (MODE SELECT is refused).
    if (control == 1) std::fill(bytes.begin() + 2, bytes.end(), std::uint8_t{0});
    body.insert(body.end(), bytes.begin(), bytes.end());
  }
  // Page 0 (no page format) is the header and block descriptor alone.
  if (body.empty() && page != 0x3F && page != 0x00) return InvalidField();

  // A block descriptor for the disk unless the host declines it; a CD-ROM
  // drive without a disc has none to give.
  std::vector<std::uint8_t> descriptor;
  if (!no_descriptor && !cdrom) {
    const std::uint64_t blocks = Blocks();
    if (long_lba) {
      descriptor.assign(16, 0);
      PutBe(descriptor, 0, 8, blocks);
      PutBe(descriptor, 12, 4, BlockSize());
    } else {
      descriptor.assign(8, 0);
      PutBe(descriptor, 1, 3, std::min<std::uint64_t>(blocks, 0xFFFFFF));
      PutBe(descriptor, 5, 3, BlockSize());
    }
  }
  // Header: mode data length, medium type 0, device-specific 0 (not write
  // protected), block descriptor length.
  std::vector<std::uint8_t> reply(six ? 4 : 8, 0);
  if (six) {
    reply[3] = static_cast<std::uint8_t>(descriptor.size());
  } else {
    reply[4] = (long_lba && !descriptor.empty()) ? 0x01 : 0x00;
    PutBe(reply, 6, 2, descriptor.size());
  }
  reply.insert(reply.end(), descriptor.begin(), descriptor.end());
  reply.insert(reply.end(), body.begin(), body.end());
  if (six) {
    reply[0] = static_cast<std::uint8_t>(reply.size() - 1);
  } else {
    PutBe(reply, 0, 2, reply.size() - 2);
  }
  return Send(c, reply, allocation, data);
}

ScsiOutcome BridgeScsiTarget::ReadCapacity10(const Command& c, std::span<std::uint8_t> data) {
  if (!HasBlockMedium()) return NotReady();
  const bool pmi = (c.b[8] & 0x01) != 0;
  if (!pmi && Be(c.b, 2, 4) != 0) return InvalidField();
  // The last block's address; a disk whose last address does not fit says
  // 0xFFFFFFFF, and the host asks READ CAPACITY(16).
  std::vector<std::uint8_t> reply(8, 0);
  PutBe(reply, 0, 4, std::min<std::uint64_t>(Blocks() - 1, 0xFFFFFFFF));
  PutBe(reply, 4, 4, BlockSize());
  return Send(c, reply, reply.size(), data);
}

ScsiOutcome BridgeScsiTarget::ServiceActionIn(const Command& c, std::span<std::uint8_t> data) {
  if ((c.b[1] & 0x1F) != kReadCapacity16Action) return InvalidField();
  if (!HasBlockMedium()) return NotReady();
  // Last address, block length; no protection, one logical block per
  // physical block, the first aligned at 0.
  std::vector<std::uint8_t> reply(32, 0);
  PutBe(reply, 0, 8, Blocks() - 1);
  PutBe(reply, 8, 4, BlockSize());
  return Send(c, reply, Be(c.b, 10, 4), data);
}

ScsiOutcome BridgeScsiTarget::TransferBlocks(const Command& c, std::span<std::uint8_t> data,
                                             ScsiDirection dir) {
  if (!HasBlockMedium()) return NotReady();
  const auto [lba, count] = c.Blocks();
  if (!InRange(lba, count)) return OutOfRange();
  const std::uint64_t bytes = count * BlockSize();
  if (!c.Carries(dir, bytes)) return PhaseError();
  if (bytes == 0) return Good();
  const auto span = data.first(static_cast<std::size_t>(bytes));
  auto& disk = *bridge_->Disk();
  if (dir == ScsiDirection::kIn && !disk.Read(lba * BlockSize(), span)) {
    return Check(kSenseMediumError, 0x11, 0x00);  // unrecovered read error
  }
  if (dir == ScsiDirection::kOut && !disk.Write(lba * BlockSize(), span)) {
    return Check(kSenseMediumError, 0x0C, 0x00);  // write error
  }
  return Good(bytes);
}

ScsiOutcome BridgeScsiTarget::Verify(const Command& c) {
  if (!HasBlockMedium()) return NotReady();
  // Only the medium check: comparing with data from the host is not offered.
  if ((c.b[1] & 0x06) != 0) return InvalidField();
  const auto [lba, count] = c.Blocks();
  if (!InRange(lba, count)) return OutOfRange();
  return Good();
}

ScsiOutcome BridgeScsiTarget::SynchronizeCache(const Command& c) {
  if (!HasBlockMedium()) return NotReady();
  const auto [lba, count] = c.Blocks();  // a count of 0 means up to the end
  if (!InRange(lba, count)) return OutOfRange();
  if (!bridge_->Disk()->Flush()) return Check(kSenseMediumError, 0x0C, 0x00);
  return Good();
}

ScsiOutcome BridgeScsiTarget::AtaPassThrough(const Command& c, std::span<std::uint8_t> data) {
  // The fields of both forms: protocol, the transfer flags, the registers.
  const bool sixteen = c.Opcode() == kAtaPassThrough16;
  const bool extend = sixteen && (c.b[1] & 0x01) != 0;
  const std::uint8_t protocol = (c.b[1] >> 1) & 0x0F;
  const std::uint8_t flags = c.b[2];
  const bool check_condition = (flags & 0x20) != 0;  // CK_COND: return the registers
  const bool block_unit_is_logical = (flags & 0x10) != 0;  // T_TYPE
  const bool to_host = (flags & 0x08) != 0;  // T_DIR
  const bool in_blocks = (flags & 0x04) != 0;  // BYT_BLOK
  const std::uint8_t length_field = flags & 0x03;  // T_LENGTH: none, features, count, TPSIU
  std::uint64_t features = 0;
  std::uint64_t count = 0;
  std::uint8_t device = 0;
  std::uint8_t command = 0;
  if (sixteen) {
    features = extend ? Be(c.b, 3, 2) : c.b[4];
    count = extend ? Be(c.b, 5, 2) : c.b[6];
    device = c.b[13];
    command = c.b[14];
  } else {
    features = c.b[3];
    count = c.b[4];
    device = c.b[8];
    command = c.b[9];
  }
  const std::uint64_t field = length_field == 1 ? features : length_field == 2 ? count : 0;
  const std::uint64_t unit = !in_blocks ? 1 : block_unit_is_logical ? BlockSize() : kAtaBlock;
  const bool identify = command == kAtaIdentifyDevice && protocol == kAtaPioDataIn && to_host &&
                        (length_field == 1 || length_field == 2) && field * unit == kAtaBlock;
  if (!identify) return bridge_->IsBridge() ? InvalidField() : InvalidOpcode();
  if (!c.Carries(ScsiDirection::kIn, kAtaBlock)) return PhaseError();

  // udev's ata_id, sg_sat_identify and the station build this command in
  // different forms; the model knows the station's, so it gets that one and
  // its faults and counts (under 0xA1) hold for every form.
  platform::ScsiRequest request;
  request.cdb = {kAtaPassThrough12, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, kAtaIdentifyDevice, 0x00, 0x00};
  request.cdb_length = 12;
  request.direction = ScsiDirection::kIn;
  request.transfer_length = kAtaBlock;
  std::array<std::uint8_t, kAtaBlock> block{};
  const auto result = bridge_->Execute(request, block, stream_id_);
  if (!result.ok) return PhaseError();
  if (result.scsi_status != platform::kScsiStatusGood) return ModelRefused(c.Opcode());
  std::copy(block.begin(), block.end(), data.begin());
  if (!check_condition) return Good(kAtaBlock);
  // The data and then the registers: CHECK CONDITION with ATA PASS-THROUGH
  // INFORMATION AVAILABLE, the device ready and no error.
  AtaRegisters registers;
  registers.extend = extend;
  registers.device = device;
  registers.status = 0x50;
  sense_ = SenseData{kSenseRecoveredError, 0x00, 0x1D, registers};
  return {ScsiCompletion::kDone, platform::kScsiStatusCheckCondition, kAtaBlock};
}

ScsiOutcome BridgeScsiTarget::Mmc(const Command& c, std::span<std::uint8_t> data) {
  switch (c.Opcode()) {
    case kGetConfiguration: {
      // The feature header alone: no current profile (no disc), no features.
      if ((c.b[1] & 0x03) == 3) return InvalidField();
      std::vector<std::uint8_t> reply(8, 0);
      reply[3] = 4;
      return Send(c, reply, Be(c.b, 7, 2), data);
    }
    case kGetEventStatus: {
      // Polled only. The media class: no event, no disc, door closed; any
      // other class asked for has no event either.
      if ((c.b[1] & 0x01) == 0) return InvalidField();
      const std::vector<std::uint8_t> reply = (c.b[4] & 0x10) != 0
                                                  ? std::vector<std::uint8_t>{0, 6, 0x04, 0x10, 0, 0, 0, 0}
                                                  : std::vector<std::uint8_t>{0, 2, 0x80, 0x10};
      return Send(c, reply, Be(c.b, 7, 2), data);
    }
    default:
      // Reading the disc: there is none.
      return NotReady();
  }
}

ScsiOutcome BridgeScsiTarget::Vendor(const Command& c, std::span<std::uint8_t> data) {
  // The model appends E3 chunks of one stream and starts a fresh image with
  // a new stream. Over USB no handle tells one download from the next, but
  // the station sends a firmware image as consecutive E3 chunks to one slot
  // and sends other vendor commands (E1 before, E2 or E8 after) between two
  // downloads: a new stream begins with an E3 whose last vendor command was
  // not an E3 to the same slot, and after a restart. Standard commands do
  // not count: the kernel's polling and the device manager's probes (TEST
  // UNIT READY, GET EVENT STATUS NOTIFICATION, partition-table reads) land
  // between the station's chunks on their own.
  if (c.Opcode() == kVendorE3) {
    if (e3_slot_ != c.b[1]) ++stream_id_;
    e3_slot_ = c.b[1];
  } else {
    e3_slot_.reset();
  }
  const auto result = bridge_->Execute(c.ModelRequest(), data, stream_id_);
  if (!result.ok) return PhaseError();
  if (result.scsi_status != platform::kScsiStatusGood) return ModelRefused(c.Opcode());
  return Good(c.transfer_length);
}

}  // namespace sim::usb
