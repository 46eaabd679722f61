#include "romwright/link/programmer_link.h"

namespace romwright::link {

int ProgrammerLink::OpenLink() {
  const auto location = usb_.Find();
  if (!location) {
    Close();
    return 0;
  }
  if (channels_ && channels_->Location() == *location) return 1;  // reused
  Close();
  channels_ = usb_.Open(*location);
  return channels_ ? 1 : 0;
}

}  // namespace romwright::link
