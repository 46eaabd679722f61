#pragma once
// The USB link to the programmer: finds it on the bus and keeps its write and
// read channels open between operations. OpenLink runs before every operation
// and from the link-state timer; an earlier open is reused while the same
// device is still there and closed before a new one is opened.

#include <memory>

#include "platform/programmer_usb.h"

namespace romwright::link {

class ProgrammerLink {
 public:
  explicit ProgrammerLink(platform::ProgrammerUsb& usb) : usb_(usb) {}

  // 1 when the link is usable, 0 when no programmer is found (or it cannot be
  // opened); then the channels are closed.
  int OpenLink();

  // The open channels, or null. Transfers in flight keep their channels alive
  // even when the link closes them meanwhile.
  std::shared_ptr<platform::ProgrammerChannels> Channels() const { return channels_; }

  void Close() { channels_.reset(); }

 private:
  platform::ProgrammerUsb& usb_;
  std::shared_ptr<platform::ProgrammerChannels> channels_;
};

}  // namespace romwright::link
