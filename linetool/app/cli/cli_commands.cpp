// The table of linetool-cli commands. Each command lives in its own cmd_*.cpp.

#include "linetool/app/cli/cli_command.h"

namespace linetool::cli {

const std::vector<CliCommand>& Commands() {
  static const std::vector<CliCommand> commands = {
  };
  return commands;
}

}  // namespace linetool::cli
