#pragma once
// romwright-cli: global options, the command table and what every command gets.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/programmer_usb.h"

namespace romwright::cli {

struct GlobalOptions {
  // --sim or --sim=CHIP[,IMAGE]: a simulated programmer with that chip on the
  // link; IMAGE keeps the chip's contents from one run to the next.
  bool sim = false;
  std::string sim_chip;
  std::string sim_image;
  std::uint32_t sim_rate = 0;  // --sim-rate N: bytes per second of the simulated link; 0 no limit
  std::string chip;  // --chip NAME: the chip to select
  std::string db;    // --db FILE: the chip database file
};

// A programmer and a clock that stand in for --sim's or the USB programmer
// and real time (tests run the commands on a simulated programmer in virtual
// time).
struct CliDevices {
  platform::Clock& clock;
  platform::ProgrammerUsb& usb;
};

struct CliContext {
  GlobalOptions options;
  std::ostream& out;
  std::ostream& err;
  platform::MessageSink& sink;  // message boxes go to stderr
  CliDevices* devices = nullptr;
};

struct CliCommand {
  const char* name;
  const char* usage;
  const char* summary;
  int (*run)(CliContext& ctx, const std::vector<std::string>& args);
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // carried out and failed
inline constexpr int kExitUsage = 2;  // not started: bad usage, unknown chip, no programmer

bool WantsHelp(const std::vector<std::string>& args);
const std::vector<CliCommand>& Commands();

}  // namespace romwright::cli
