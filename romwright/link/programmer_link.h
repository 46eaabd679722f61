#pragma once
// The USB link to the programmer: finds it on the bus and keeps its write and
// read channels open between operations. OpenLink runs before every operation
// and from the link-state timer; an earlier open is reused while the same
// device is still there and closed before a new one is opened.
//
// A device whose write or read channel cannot be claimed still counts as
// linked: the operator is warned ("Error opening Write device: ..."), once
// for that device, and the commands that need the channel fail. The link
// tries to claim the channels again at every OpenLink.

#include <memory>
#include <string>

#include "platform/message_sink.h"
#include "platform/programmer_usb.h"

namespace romwright::link {

class ProgrammerLink {
 public:
  ProgrammerLink(platform::ProgrammerUsb& usb, platform::MessageSink& sink)
      : usb_(usb), sink_(sink) {}

  // 1 when the link is usable, 0 when no programmer is found (or it cannot be
  // opened); then the channels are closed.
  int OpenLink();

  // The text shown when a channel of the device at `location` cannot be opened.
  static std::string OpenErrorText(platform::ProgrammerChannel channel, const std::string& location);

  // The open channels, or null. Transfers in flight keep their channels alive
  // even when the link closes them meanwhile.
  std::shared_ptr<platform::ProgrammerChannels> Channels() const { return channels_; }

  void Close() { channels_.reset(); }

 private:
  void WarnOfClosedChannels();

  platform::ProgrammerUsb& usb_;
  platform::MessageSink& sink_;
  std::shared_ptr<platform::ProgrammerChannels> channels_;
  std::string warned_location_;  // the device whose closed channels were shown
};

}  // namespace romwright::link
