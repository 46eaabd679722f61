// linetool-cli: the production station without a window.

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "linetool/app/cli/cli_command.h"
#include "platform/linux/host_services.h"

namespace linetool::cli {

bool RequireFileArgument(const CliContext& ctx, const char* command, const std::string& arg) {
  std::error_code ec;
  if (std::filesystem::exists(HostPathOfArgument(ctx, arg), ec)) return true;
  ctx.err << "linetool-cli: " << command << ": no such file: " << arg << "\n";
  return false;
}

}  // namespace linetool::cli

int main(int argc, char** argv) {
  using namespace linetool::cli;
  command_line::Interruption interruption;  // before any thread starts
  CLI::App app("The VX7700 production station without a window.", "linetool-cli");
  command_line::SetUp(app);
  GlobalOptions options;
  AddStationOptions(app, options);
  std::vector<CliCommand> commands;
  for (const AddCommand add : Commands()) commands.push_back(add(app));
  app.require_subcommand(1);
  app.footer(
      "Run 'linetool-cli COMMAND --help' for a command's options.\n"
      "\n"
      "The simulated station (--sim) runs 50 times faster than real time. Relative\n"
      "FILE names on the command line are taken against --workdir, as with git -C\n"
      "and make -C.\n"
      "\n"
      "--records STORE keeps one record per unit and run beside the daily log: a\n"
      "SQLite file (relative to --workdir, made on first use) or a postgresql:// URL,\n"
      "the database a line of stations shares. --line-serials (with Update Config\n"
      "on and serial mode INCREASE) takes each port's serial number from one counter\n"
      "per product in that store, so no two units of the line get the same one; a\n"
      "run that cannot take them does not start, and says why.\n"
      "\n"
      "Exit status, the same for every command:\n"
      "  0  done (run: every device of the run passed)\n"
      "  1  carried out and failed: a bridge is missing or refused, a file could not\n"
      "     be composed or formatted, a profile did not load as valid, a device of\n"
      "     the run failed\n"
      "  2  not started: a bad command line or option value (also a --sim count or\n"
      "     world file that names no station), or a run that did not start (a check\n"
      "     of Start refused it, no bridge, auto mode on, no rights, another station)\n");
  if (const auto done = command_line::Parse(app, argc, argv, std::cout, std::cerr)) return *done;

  std::string error = RecordsOptionsError(options);
  if (!error.empty()) {
    std::cerr << "linetool-cli: " << error << "\n";
    return kExitUsage;
  }
  const std::string workdir = WorkdirOf(options, error);
  if (workdir.empty()) {
    std::cerr << "linetool-cli: " << error << "\n";
    return kExitUsage;
  }
  platform::StreamSink sink(std::cerr);
  CliContext ctx{options, workdir, std::cout, std::cerr, sink, &interruption};
  for (const auto& command : commands) {
    if (command.app->parsed()) return command.run(ctx);
  }
  return kExitUsage;  // require_subcommand(1) leaves no other case
}
