// The table of romwright-cli commands. Each command lives in its own cmd_*.cpp.

#include "romwright/app/cli/cli_command.h"

namespace romwright::cli {

const std::vector<CliCommand>& Commands() {
  static const std::vector<CliCommand> commands = {
  };
  return commands;
}

}  // namespace romwright::cli
