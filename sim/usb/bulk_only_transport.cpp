#include "sim/usb/bulk_only_transport.h"

#include <algorithm>
#include <utility>

namespace sim::usb {

namespace {

std::uint32_t Le32(std::span<const std::uint8_t> d, std::size_t at) {
  return std::uint32_t{d[at]} | (std::uint32_t{d[at + 1]} << 8) | (std::uint32_t{d[at + 2]} << 16) |
         (std::uint32_t{d[at + 3]} << 24);
}

void PutLe32(std::vector<std::uint8_t>& d, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) d.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

BulkOnlyTransport::BulkOnlyTransport(ScsiTarget& target, std::uint8_t bulk_in, std::uint8_t bulk_out, Send send)
    : target_(target), bulk_in_(bulk_in), bulk_out_(bulk_out), send_(std::move(send)) {}

void BulkOnlyTransport::Complete(const PendingIn& in, BulkStatus status, std::vector<std::uint8_t> data) {
  BulkCompletion c;
  c.id = in.id;
  c.endpoint = bulk_in_;
  c.status = status;
  c.length = static_cast<std::uint32_t>(data.size());
  c.data = std::move(data);
  send_(std::move(c));
}

void BulkOnlyTransport::Invalid() {
  needs_reset_ = true;
  halt_in_ = true;
  halt_out_ = true;
  phase_ = Phase::kCommand;
  data_.clear();
}

void BulkOnlyTransport::BulkOut(std::uint64_t id, std::span<const std::uint8_t> data) {
  BulkCompletion done;
  done.id = id;
  done.endpoint = bulk_out_;
  if (halt_out_) {
    done.status = BulkStatus::kStall;
    send_(std::move(done));
    return;
  }
  switch (phase_) {
    case Phase::kCommand: {
      // A data phase longer than any the device takes is refused with the
      // wrapper, before anything is held for it.
      const bool valid = data.size() == kCbwLength && Le32(data, 0) == 0x43425355 && (data[13] & 0x0F) == 0 &&
                         data[14] >= 1 && data[14] <= 16 && Le32(data, 8) <= kMaxDataPhase;
      if (!valid) {
        Invalid();
        done.status = BulkStatus::kStall;
        send_(std::move(done));
        Pump();
        return;
      }
      tag_ = Le32(data, 4);
      host_length_ = Le32(data, 8);
      direction_ = (data[12] & 0x80) ? platform::ScsiDirection::kIn : platform::ScsiDirection::kOut;
      cdb_.assign(data.begin() + 15, data.begin() + 15 + data[14]);
      moved_ = 0;
      done.length = static_cast<std::uint32_t>(data.size());
      send_(std::move(done));
      if (host_length_ > 0 && direction_ == platform::ScsiDirection::kOut) {
        data_.assign(host_length_, 0);
        phase_ = Phase::kDataOut;
      } else {
        Execute();
      }
      Pump();
      return;
    }
    case Phase::kDataOut: {
      const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(data.size(), host_length_ - moved_));
      std::copy_n(data.begin(), n, data_.begin() + moved_);
      moved_ += n;
      done.length = static_cast<std::uint32_t>(data.size());
      send_(std::move(done));
      if (moved_ == host_length_) Execute();
      Pump();
      return;
    }
    case Phase::kDataIn:
    case Phase::kStatus:
      // The host sends while it should read: the transport is out of step.
      Invalid();
      done.status = BulkStatus::kStall;
      send_(std::move(done));
      Pump();
      return;
  }
}

void BulkOnlyTransport::Execute() {
  ScsiCommand command;
  command.cdb = cdb_;
  command.direction = direction_;
  command.transfer_length = host_length_;
  if (host_length_ > 0 && direction_ == platform::ScsiDirection::kIn) data_.assign(host_length_, 0);
  if (host_length_ == 0) data_.clear();
  const ScsiOutcome outcome = target_.Execute(command, data_);
  const bool in = host_length_ > 0 && direction_ == platform::ScsiDirection::kIn;
  if (outcome.completion == ScsiCompletion::kPhaseError) {
    status_ = kCswPhaseError;
    residue_ = host_length_;
    // The data phase the host expects does not happen: an IN data phase
    // ends in a halt the host clears before it reads the status.
    if (in) halt_in_ = true;
    phase_ = Phase::kStatus;
    return;
  }
  status_ = outcome.status == platform::kScsiStatusGood ? kCswGood : kCswFailed;
  if (in) {
    device_length_ = std::min(outcome.data_length, host_length_);
    moved_ = 0;
    phase_ = Phase::kDataIn;
  } else {
    residue_ = host_length_ - std::min(outcome.data_length, host_length_);
    phase_ = Phase::kStatus;
  }
}

void BulkOnlyTransport::Pump() {
  while (!pending_in_.empty()) {
    const PendingIn in = pending_in_.front();
    if (halt_in_) {
      pending_in_.pop_front();
      Complete(in, BulkStatus::kStall);
      continue;
    }
    if (phase_ == Phase::kDataIn) {
      pending_in_.pop_front();
      const std::uint32_t n = std::min(in.length, device_length_ - moved_);
      std::vector<std::uint8_t> out(data_.begin() + moved_, data_.begin() + moved_ + n);
      moved_ += n;
      // A transfer shorter than asked ends the data phase, as does the last
      // byte of the host's length.
      if (n < in.length || moved_ == host_length_) {
        residue_ = host_length_ - moved_;
        phase_ = Phase::kStatus;
      }
      Complete(in, BulkStatus::kOk, std::move(out));
      continue;
    }
    if (phase_ == Phase::kStatus) {
      pending_in_.pop_front();
      std::vector<std::uint8_t> csw;
      PutLe32(csw, 0x53425355);
      PutLe32(csw, tag_);
      PutLe32(csw, residue_);
      csw.push_back(status_);
      if (csw.size() > in.length) csw.resize(in.length);
      const bool phase_error = status_ == kCswPhaseError;
      phase_ = Phase::kCommand;
      data_.clear();
      ++commands_;
      command_ended_ = true;
      Complete(in, BulkStatus::kOk, std::move(csw));
      if (phase_error) Invalid();
      continue;
    }
    return;  // waiting for a command or OUT data
  }
}

void BulkOnlyTransport::BulkIn(std::uint64_t id, std::uint32_t length) {
  pending_in_.push_back({id, length});
  Pump();
}

void BulkOnlyTransport::Cancel(std::uint64_t id) {
  for (auto it = pending_in_.begin(); it != pending_in_.end(); ++it) {
    if (it->id == id) {
      const PendingIn in = *it;
      pending_in_.erase(it);
      Complete(in, BulkStatus::kCancelled);
      return;
    }
  }
}

void BulkOnlyTransport::MassStorageReset() {
  needs_reset_ = false;
  phase_ = Phase::kCommand;
  data_.clear();
}

bool BulkOnlyTransport::ClearHalt(std::uint8_t endpoint) {
  if (endpoint != bulk_in_ && endpoint != bulk_out_) return false;
  if (!needs_reset_) (endpoint == bulk_in_ ? halt_in_ : halt_out_) = false;
  Pump();
  return true;
}

bool BulkOnlyTransport::Halted(std::uint8_t endpoint) const {
  return endpoint == bulk_in_ ? halt_in_ : endpoint == bulk_out_ && halt_out_;
}

void BulkOnlyTransport::Reset() {
  auto pending = std::exchange(pending_in_, {});
  for (const auto& in : pending) Complete(in, BulkStatus::kCancelled);
  phase_ = Phase::kCommand;
  halt_in_ = halt_out_ = needs_reset_ = false;
  data_.clear();
}

bool BulkOnlyTransport::TakeCommandEnded() { return std::exchange(command_ended_, false); }

}  // namespace sim::usb
