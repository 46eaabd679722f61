#pragma once
// romwright-cli: global options, the command table and what every command gets.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/programmer_usb.h"
#include "tools/cli/command_line.h"
#include "tools/cli/interruption.h"

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

// Adds --sim[=CHIP[,IMAGE]] to a program's command line (romwright-cli and
// the window).
void AddSimOption(CLI::App& app, GlobalOptions& options);

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
  // Ctrl-C: what stops the work under way is registered here (null: none).
  command_line::Interruption* interruption = nullptr;
};

// A command as the command line knows it: its subcommand (with options and
// help) and what runs it once the line is parsed. Returns the exit code.
struct CliCommand {
  CLI::App* app;
  std::function<int(CliContext&)> run;
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // carried out and failed
inline constexpr int kExitUsage = command_line::kExitUsage;  // not started: bad usage, unknown chip, no programmer

// Each command adds its subcommand to the program's command line
// (cli_commands.cpp lists them in the order --help shows them).
using AddCommand = CliCommand (*)(CLI::App& program);
const std::vector<AddCommand>& Commands();

// Parses a command line (the arguments after the program's name), with the
// global options going into ctx.options, and runs its command. Returns the
// exit status; help, version and usage errors are printed on ctx.out and
// ctx.err.
int RunCommandLine(const std::vector<std::string>& args, CliContext& ctx);

}  // namespace romwright::cli
