// The table of romwright-cli commands. Each command lives in its own cmd_*.cpp.

#include "romwright/app/cli/cli_command.h"

namespace romwright::cli {

int RunChips(CliContext& ctx, const std::vector<std::string>& args);
int RunChipdb(CliContext& ctx, const std::vector<std::string>& args);
int RunConvert(CliContext& ctx, const std::vector<std::string>& args);

const std::vector<CliCommand>& Commands() {
  static const std::vector<CliCommand> commands = {
      {"chips", "chips [PATTERN]", "list the chips whose name matches PATTERN ('*' wildcards, any case)",
       RunChips},
      {"convert", "convert IN OUT --chip NAME",
       "load a binary or Intel HEX file for chip NAME and save the chip's bytes as binary", RunConvert},
      {"chipdb", "chipdb build CSV OUT | chipdb dump DB",
       "build the chip database from its readable chip list, or print a database as one", RunChipdb},
  };
  return commands;
}

}  // namespace romwright::cli
