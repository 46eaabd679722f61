// Saves a station profile over and over, as Save INI does, each time with the
// serial number one further: the power-cut test's writer of the profile.
//
//   profile_saver FILE [COUNT [PAUSE_MS]]
//
// Loads FILE as the station does, then for each save prints "try: profile S"
// before it and "ack: profile S" once the save has returned (S the serial
// number saved), so a reader of the output knows which save was on the
// medium and which may have been cut. COUNT saves (default, or 0: until
// killed), PAUSE_MS milliseconds apart (default 0).
// Exit 0 after COUNT saves, 1 when the profile does not load or a save fails.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "linetool/profile/line_engine.h"
#include "linetool/profile/profile_settings.h"
#include "linetool/profile/serial_number.h"
#include "platform/path_access.h"
#include "platform/linux/host_services.h"
#include "platform/message_sink.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::cerr << "usage: profile_saver FILE [COUNT [PAUSE_MS]]\n";
    return 2;
  }
  // A profile named relative to the current folder, as the station takes it.
  const std::string file = platform::ToStationPath(argv[1]);
  const long count = argc >= 3 ? std::strtol(argv[2], nullptr, 10) : 0;
  const auto pause = std::chrono::milliseconds(argc == 4 ? std::strtol(argv[3], nullptr, 10) : 0);
  platform::StreamSink sink(std::cerr);
  platform::linux_host::HostPathAccess access;
  linetool::profile::CLineEngine engine(sink, access, std::filesystem::current_path().string());
  if (!engine.LoadProfile(file)) {
    std::cerr << "profile_saver: " << file << " does not load\n";
    return 1;
  }
  auto& serial = engine.Settings().serial_number;
  for (long i = 0; count <= 0 || i < count; ++i) {
    if (i > 0) std::this_thread::sleep_for(pause);
    const std::string next = linetool::profile::IncreaseSerialNumber(linetool::profile::TextOf(serial), 1);
    linetool::profile::SetText(serial, next);
    std::cout << "try: profile " << next << std::endl;
    if (!engine.SaveProfile(file)) {
      std::cerr << "profile_saver: the save of " << next << " failed\n";
      return 1;
    }
    std::cout << "ack: profile " << next << std::endl;
  }
  return 0;
}
