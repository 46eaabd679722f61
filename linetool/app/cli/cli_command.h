#pragma once
// linetool-cli: global options, the command table and what every command gets.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/message_sink.h"
#include "tools/cli/command_line.h"
#include "tools/cli/interruption.h"

namespace linetool::cli {

// The options every station program takes (linetool-cli and the window).
struct GlobalOptions {
  // --sim, --sim=N or --sim=FILE: run on the simulated station. Empty when
  // the real hardware is used.
  bool sim = false;
  std::string sim_spec;  // "" (default world), a bridge count, or a JSON file
  // --workdir DIR: the station's working directory (default: the current one).
  std::string workdir;
  // --records STORE: where a run keeps a record of every unit (a SQLite file
  // or a postgresql:// URL); empty: no records.
  std::string records;
  // --line-serials: a run's serial numbers come from the line's counter in the store.
  bool line_serials = false;
  // --station-name NAME: the station's name in its records (default: the host name).
  std::string station_name;
};

// Adds --sim[=N|=FILE], --workdir DIR, --records STORE, --line-serials and
// --station-name NAME to a program's command line.
void AddStationOptions(CLI::App& app, GlobalOptions& options);
// Why the records options cannot be used together; empty when they can.
std::string RecordsOptionsError(const GlobalOptions& options);

// The absolute host path of the working directory the options name, or ""
// with `error` set when it is no directory.
std::string WorkdirOf(const GlobalOptions& options, std::string& error);

struct CliContext {
  GlobalOptions options;
  std::string host_workdir;  // absolute host path of the working directory
  std::ostream& out;
  std::ostream& err;
  platform::MessageSink& sink;  // message boxes go to stderr
  // Ctrl-C: what stops the work under way is registered here (null: none).
  command_line::Interruption* interruption = nullptr;
};

// A command as the command line knows it: its subcommand (with options and
// help) and what runs it once the line is parsed. Returns the exit code.
struct CliCommand {
  CLI::App* app;
  std::function<int(CliContext&)> run;
};

// Exit codes shared by the commands; they mean the same in every command, and
// the program's --help lists them.
inline constexpr int kExitOk = 0;      // done (run: every device passed)
inline constexpr int kExitFailed = 1;  // carried out and failed (a bridge refused, a device failed, ...)
inline constexpr int kExitUsage = command_line::kExitUsage;  // not started: bad arguments or --sim, or no run started

// A file named on the command line, in the station's path notation. A relative
// name stays relative, so it is taken against the working directory (--workdir,
// else the current directory), as git -C and make -C take theirs.
std::string StationPathOfArgument(const CliContext& ctx, const std::string& arg);
// The same file as a host path: a relative name joined to the working directory.
std::string HostPathOfArgument(const CliContext& ctx, const std::string& arg);
// True when the file named on the command line exists; otherwise says so on
// stderr as "linetool-cli: COMMAND: no such file: ARG" (a usage error).
bool RequireFileArgument(const CliContext& ctx, const char* command, const std::string& arg);

// Each command adds its subcommand to the program's command line
// (cli_commands.cpp lists them in the order --help shows them).
using AddCommand = CliCommand (*)(CLI::App& program);
const std::vector<AddCommand>& Commands();

}  // namespace linetool::cli
