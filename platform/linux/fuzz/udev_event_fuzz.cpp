// Plug events from udev with any properties: the station's name for each
// event it takes is one of the three forms it knows.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/udev_device_events.h"
#include "tools/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform::linux_host;
  fuzz::FuzzInput in(data, size);
  static const char* const kActions[] = {"add", "remove", "change", "bind"};
  static const char* const kSubsystems[] = {"block", "usb", "scsi"};
  static const char* const kTypes[] = {"disk", "partition", "usb_device", "usb_interface"};
  UdevEventProperties p;
  // Mostly the values udev sends, now and then any text.
  p.action = in.Flag() ? in.Text(16) : kActions[in.Choice(4)];
  p.subsystem = in.Flag() ? in.Text(16) : kSubsystems[in.Choice(3)];
  p.devtype = in.Flag() ? in.Text(16) : kTypes[in.Choice(4)];
  p.sysname = in.Text(32);
  p.product = in.Text(64);
  const int drive = in.InRange(0, 300);
  const bool numbered = in.Flag();
  StationNumbering numbers;
  numbers.drive = [&](const std::string&) { return numbered ? std::optional<int>(drive) : std::nullopt; };
  numbers.cdrom = numbers.drive;
  const auto event = TranslateUdevEvent(p, numbers);
  if (event) {
    const std::string& name = event->device_name;
    fuzz::Check(name.rfind("\\\\.\\PHYSICALDRIVE", 0) == 0 || name.rfind("\\\\.\\CDROM", 0) == 0 ||
                    name.rfind("\\\\?\\usb#vid_", 0) == 0,
                "a plug event with a name the station does not know");
    fuzz::Check(p.action == "add" || p.action == "remove", "an event taken from another action");
  }
  StationNumbering none;
  (void)TranslateUdevEvent(p, none);
  return 0;
}
