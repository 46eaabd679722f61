// The table of linetool-cli commands. Each command lives in its own cmd_*.cpp.

#include "linetool/app/cli/cli_command.h"

namespace linetool::cli {

int RunProfile(CliContext& ctx, const std::vector<std::string>& args);  // cmd_profile.cpp
int RunImage(CliContext& ctx, const std::vector<std::string>& args);    // cmd_image.cpp
int RunFormatFat32(CliContext& ctx, const std::vector<std::string>& args);  // cmd_format_fat32.cpp

int RunList(CliContext& ctx, const std::vector<std::string>& args);    // cmd_device.cpp
int RunRegs(CliContext& ctx, const std::vector<std::string>& args);    // cmd_device.cpp
int RunConfig(CliContext& ctx, const std::vector<std::string>& args);  // cmd_device.cpp
int RunInfo(CliContext& ctx, const std::vector<std::string>& args);    // cmd_device.cpp
int RunRun(CliContext& ctx, const std::vector<std::string>& args);  // cmd_run.cpp

const std::vector<CliCommand>& Commands() {
  static const std::vector<CliCommand> commands = {
      {"list", "list", "find the bridges once and print the port table", &RunList},
      {"regs", "regs read --port N --addr HEX --len HEX | regs write --port N --addr HEX --value HEX",
       "read or write bridge registers (engineering access)", &RunRegs},
      {"config", "config read --port N --image 0|1", "print a bridge's configuration slot as a hex grid",
       &RunConfig},
      {"info", "info --port N [--image 0|1]",
       "print what the device information dialog shows for a port and configuration slot", &RunInfo},
      {"profile", "profile check FILE", "load an INI profile as the station does and print its settings",
       &RunProfile},
      {"image", "image --fw FILE --chip CODE [--crc] [--profile FILE]",
       "compose the firmware image and the Config_/UnConfig_ flash image file", &RunImage},
      {"format-fat32", "format-fat32 IMAGE --label NAME [--cluster N]",
       "format an image file or block device as one FAT32 volume", &RunFormatFat32},
      {"run", "run --profile FILE", "one production run on every bridge found, as Start does", &RunRun},
  };
  return commands;
}

}  // namespace linetool::cli
