#pragma once
// The programmer on the host's USB bus through libusb. The write channel is the
// bulk OUT endpoint of the programmer's interface, the read channel its bulk IN
// endpoint. A pending transfer is cancelled with libusb_cancel_transfer when a
// stop is requested. Every libusb call goes through `LibusbCalls`, libusb
// itself unless a test gives a fake.

#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// Where this host's access to the programmer comes from: the udev rule that
// lets a user without root open it, found in `rule_folders` (the system's
// first), or how to install it when it is in none of them.
inline constexpr const char* kProgrammerRuleName = "60-romwright-programmer.rules";
std::string ProgrammerAccessHint(const std::vector<std::string>& rule_folders = {"/etc/udev/rules.d",
                                                                                  "/usr/lib/udev/rules.d"});

}  // namespace platform::linux_host
