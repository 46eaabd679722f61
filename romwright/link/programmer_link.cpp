#include "romwright/link/programmer_link.h"

namespace romwright::link {

namespace {
using platform::ProgrammerChannel;

bool FullyOpen(const platform::ProgrammerChannels& channels) {
  return channels.IsOpen(ProgrammerChannel::kWrite) && channels.IsOpen(ProgrammerChannel::kRead);
}
}  // namespace

std::string ProgrammerLink::OpenErrorText(ProgrammerChannel channel, const std::string& location) {
  const bool write = channel == ProgrammerChannel::kWrite;
  return std::string(write ? "Error opening Write device: " : "Error opening Read device: ") +
         location + (write ? "\\PIPE01" : "\\PIPE00") +
         "\n\nApplication is aborting.\nReset hardware and try again.";
}

int ProgrammerLink::OpenLink() {
  const auto location = usb_.Find();
  if (!location) {
    Close();
    warned_location_.clear();
    return 0;
  }
  if (channels_ && channels_->Location() == *location && FullyOpen(*channels_)) return 1;  // reused
  Close();
  channels_ = usb_.Open(*location);
  if (!channels_) return 0;
  WarnOfClosedChannels();
  return 1;
}

void ProgrammerLink::WarnOfClosedChannels() {
  if (FullyOpen(*channels_)) {
    warned_location_.clear();
    return;
  }
  if (warned_location_ == channels_->Location()) return;  // shown once for this device
  warned_location_ = channels_->Location();
  for (const auto channel : {ProgrammerChannel::kWrite, ProgrammerChannel::kRead}) {
    if (!channels_->IsOpen(channel)) {
      sink_.Show(OpenErrorText(channel, warned_location_), {}, platform::MessageIcon::kWarning);
    }
  }
}

}  // namespace romwright::link
