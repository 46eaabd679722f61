#include "romwright/link/transfer_engine.h"

#include <algorithm>
#include <cstring>

namespace romwright::link {

namespace {
using Millis = platform::Clock::Millis;

constexpr Millis kSendLimit{500};
constexpr Millis kWriteSendLimit{50000};
constexpr Millis kReplyLimit{1000};
constexpr Millis kReadDataLimit{100000};
constexpr Millis kWriteDataLimit{1000000};
constexpr Millis kBootImageLimit{10000};
constexpr Millis kSelfTestLimit{1000};
constexpr std::uint32_t kSelfTestReportSize = 1000;
// A device that keeps sending packets that are not the awaited reply would
// hold the caller forever; after this many dropped packets the reply fails.
// It leaves room for a full 4096-byte transfer buffer of an abandoned read
// phase in 64-byte packets, and more.
constexpr int kMaxDroppedPackets = 256;
}  // namespace

TransferEngine::TransferEngine(platform::Clock& clock)
    : read_worker_(clock), write_worker_(clock) {}

TransferEngine::~TransferEngine() { AbortTransfer(); }

int TransferEngine::SetChip(const ChipRecord& record) {
  if (!DeriveChipParams(record, params_)) return 0;
  chip_ = record;
  return 1;
}

std::shared_ptr<platform::ProgrammerChannels> TransferEngine::IdleChannels() {
  if (state_ != kIdle || link_ == nullptr) return nullptr;
  return link_->Channels();
}

int TransferEngine::SendPacket(const std::shared_ptr<platform::ProgrammerChannels>& ch,
                               const std::vector<std::uint8_t>& packet, Millis limit) {
  write_worker_.StartWrite(ch, packet.data(), static_cast<std::uint32_t>(packet.size()), limit);
  return write_worker_.WaitDone() ? 1 : 0;
}

int TransferEngine::ReadReply(const std::shared_ptr<platform::ProgrammerChannels>& ch,
                              std::uint8_t code, std::size_t longest,
                              std::vector<std::uint8_t>& reply) {
  for (int dropped = 0; dropped <= kMaxDroppedPackets; ++dropped) {
    scratch_.fill(0);
    read_worker_.StartRead(ch, scratch_.data(), static_cast<std::uint32_t>(longest), kReplyLimit);
    if (!read_worker_.WaitDone()) return 0;
    const std::uint32_t got = read_worker_.Count();
    // A foreign packet, or one longer than any reply to this command, is dropped.
    if (got == 0 || scratch_[0] != code || got > longest || read_worker_.Overflowed()) continue;
    reply.assign(scratch_.begin(), scratch_.begin() + got);
    return 1;
  }
  return 0;
}

int TransferEngine::Exchange(const std::shared_ptr<platform::ProgrammerChannels>& ch,
                             const std::vector<std::uint8_t>& packet, Millis send_limit,
                             std::size_t longest, std::vector<std::uint8_t>& reply) {
  // A channel that could not be claimed fails every command.
  if (!ch || !ch->IsOpen(platform::ProgrammerChannel::kWrite) ||
      !ch->IsOpen(platform::ProgrammerChannel::kRead)) {
    return 0;
  }
  if (!SendPacket(ch, packet, send_limit)) return 0;
  return ReadReply(ch, packet[0], longest, reply);
}

int TransferEngine::StartRead(std::uint8_t* buffer, std::uint32_t address,
                              std::uint32_t length) {
  const auto ch = IdleChannels();
  if (!ch || buffer == nullptr) return 0;
  std::vector<std::uint8_t> reply;
  if (!Exchange(ch, ReadPacket(params_, address, length), kSendLimit, 3, reply)) return 0;
  if (reply.size() < 3 || reply[1] != 0x01 || reply[2] != 0x00) return 0;
  read_total_ = length;
  progress_ = 0;
  read_worker_.StartRead(ch, buffer, length, kReadDataLimit);
  state_ = kReading;
  return 1;
}

int TransferEngine::StartWrite(const std::uint8_t* buffer, std::uint32_t address,
                               std::uint32_t length, std::uint16_t page_size) {
  const auto ch = IdleChannels();
  if (!ch || buffer == nullptr) return 0;
  std::vector<std::uint8_t> reply;
  if (!Exchange(ch, WritePacket(params_, address, length, page_size), kWriteSendLimit, 3, reply)) {
    return 0;
  }
  if (reply.size() < 3 || reply[1] != 0x01 || reply[2] != 0x01) return 0;
  write_total_ = length;
  progress_ = 0;
  write_worker_.StartWrite(ch, buffer, length, kWriteDataLimit);
  state_ = kWriting;
  return 1;
}

int TransferEngine::StartErase() {
  const auto ch = IdleChannels();
  std::vector<std::uint8_t> reply;
  if (!Exchange(ch, ChipCommandPacket(kCmdErase, params_), kSendLimit, 3, reply)) return 0;
  if (reply.size() < 3 || reply[2] != 0x01) return 0;
  progress_ = 0;
  state_ = kChipBusy;
  return 1;
}

int TransferEngine::QueryStatus(std::uint8_t& status) {
  // Sent in any state but a data phase, whose stream holds the read channel.
  if (state_ == kReading || state_ == kWriting || link_ == nullptr) return 0;
  std::vector<std::uint8_t> reply;
  if (!Exchange(link_->Channels(), ChipCommandPacket(kCmdStatus, params_), kSendLimit, 3, reply)) {
    return 0;
  }
  if (reply.size() < 3 || reply[1] != 0x01) return 0;
  status = reply[2];
  return 1;
}

int TransferEngine::ReadId(std::uint8_t& manufacturer_id, std::uint8_t& device_id) {
  if (state_ == kReading || state_ == kWriting || link_ == nullptr) return 0;
  std::vector<std::uint8_t> reply;
  if (!Exchange(link_->Channels(), ChipCommandPacket(kCmdReadId, params_), kSendLimit, 5, reply)) {
    return 0;
  }
  if (reply.size() < 4 || reply[1] != 0x02) return 0;
  manufacturer_id = reply[2];
  device_id = reply[3];
  return 1;
}

int TransferEngine::ReadVersion(std::array<char, 100>& text) {
  std::vector<std::uint8_t> reply;
  if (!Exchange(IdleChannels(), InfoPacket(kCmdVersion), kSendLimit, 102, reply)) return 0;
  text.fill(0);
  if (reply.size() > 2) std::memcpy(text.data(), reply.data() + 2, reply.size() - 2);
  text[99] = 0;
  return 1;
}

int TransferEngine::ReadSerial(std::array<char, 20>& serial) {
  std::vector<std::uint8_t> reply;
  if (!Exchange(IdleChannels(), InfoPacket(kCmdSerial), kSendLimit, 20, reply)) return 0;
  serial.fill(0);
  for (std::size_t i = 2; i < reply.size(); ++i) {
    const std::uint8_t b = reply[i];
    serial[i - 2] = (b < 0x20 || b > 0x7A) ? '\0' : static_cast<char>(b);
  }
  return 1;
}

int TransferEngine::SelfTest(std::array<char, 1000>& report) {
  const auto ch = IdleChannels();
  std::vector<std::uint8_t> reply;
  if (!Exchange(ch, InfoPacket(kCmdSelfTest), kSendLimit, 2, reply)) return 0;
  std::array<std::uint8_t, kSelfTestReportSize> bytes{};
  read_worker_.StartRead(ch, bytes.data(), kSelfTestReportSize, kSelfTestLimit);
  if (!read_worker_.WaitDone()) return 0;
  std::memcpy(report.data(), bytes.data(), report.size());
  return 1;
}

int TransferEngine::StartBootUpdate(const std::uint8_t* image, std::uint32_t length) {
  const auto ch = IdleChannels();
  if (!ch || image == nullptr) return 0;
  std::vector<std::uint8_t> reply;
  if (!Exchange(ch, BootPacket(length), kSendLimit, 30, reply)) return 0;
  if (reply.size() < 19 || std::memcmp(reply.data() + 1, kBootText, 17) != 0 || reply[18] != 0x01) {
    return 0;
  }
  write_total_ = length;
  progress_ = 0;
  write_worker_.StartWrite(ch, image, length, kBootImageLimit);
  state_ = kWriting;
  return 1;
}

int TransferEngine::PollPhase(TransferWorker& worker, std::uint32_t total, int running_code) {
  const std::uint64_t moved = worker.Count();
  progress_ = static_cast<std::uint16_t>(
      total == 0 ? 100 : std::min<std::uint64_t>(100, moved * 100 / total));
  switch (worker.Check()) {
    case TransferWorker::Outcome::kRunning:
      return running_code;
    case TransferWorker::Outcome::kSucceeded:
      worker.Stop();  // joins the finished thread
      progress_ = 100;
      state_ = kIdle;
      return kIdle;
    case TransferWorker::Outcome::kFailed:
      break;
  }
  worker.Stop();
  state_ = kIdle;
  return kFailed;
}

int TransferEngine::Poll() {
  switch (state_) {
    case kReading:
      return PollPhase(read_worker_, read_total_, kReading);
    case kWriting:
      return PollPhase(write_worker_, write_total_, kWriting);
    case kChipBusy: {
      std::uint8_t status = 0;
      if (!QueryStatus(status)) {
        state_ = kIdle;
        return kFailed;
      }
      if (status == 1) {
        progress_ = 0;
        return kChipBusy;
      }
      progress_ = 100;
      state_ = kIdle;
      return kIdle;
    }
    default:
      return kIdle;
  }
}

std::uint32_t TransferEngine::ReadCount() const { return read_worker_.Count(); }

void TransferEngine::AbortTransfer() {
  state_ = kIdle;
  read_worker_.Stop();
  write_worker_.Stop();
}

}  // namespace romwright::link
