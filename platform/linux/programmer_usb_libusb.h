#pragma once
// The programmer on the host's USB bus through libusb. The write channel is the
// bulk OUT endpoint of the programmer's interface, the read channel its bulk IN
// endpoint. A pending transfer is cancelled with libusb_cancel_transfer when a
// stop is requested. Every libusb call goes through `LibusbCalls`, libusb
// itself unless a test gives a fake.

#include <memory>
#include <optional>
#include <string>

#include "platform/linux/libusb_calls.h"
#include "platform/programmer_usb.h"

namespace platform::linux_host {

class LibusbProgrammer final : public ProgrammerUsb {
 public:
  explicit LibusbProgrammer(LibusbCalls& calls = SystemLibusb());
  ~LibusbProgrammer() override;
  LibusbProgrammer(const LibusbProgrammer&) = delete;
  LibusbProgrammer& operator=(const LibusbProgrammer&) = delete;

  // False when libusb could not start (then nothing is ever found).
  bool Usable() const { return context_ != nullptr; }

  // Location: "BUS-ADDRESS" of the first device with the programmer's IDs.
  std::optional<std::string> Find() override;
  std::unique_ptr<ProgrammerChannels> Open(const std::string& location) override;

  struct Context;

 private:
  std::shared_ptr<Context> context_;
};

}  // namespace platform::linux_host
