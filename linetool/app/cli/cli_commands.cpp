// The table of linetool-cli commands. Each command lives in its own cmd_*.cpp.

#include "linetool/app/cli/cli_command.h"

namespace linetool::cli {

CliCommand AddList(CLI::App& program);    // cmd_device.cpp
CliCommand AddRegs(CLI::App& program);    // cmd_device.cpp
CliCommand AddConfig(CLI::App& program);  // cmd_device.cpp
CliCommand AddInfo(CLI::App& program);    // cmd_device.cpp
CliCommand AddProfile(CLI::App& program);      // cmd_profile.cpp
CliCommand AddImage(CLI::App& program);        // cmd_image.cpp
CliCommand AddFormatFat32(CLI::App& program);  // cmd_format_fat32.cpp
CliCommand AddRun(CLI::App& program);          // cmd_run.cpp
CliCommand AddRecords(CLI::App& program);      // cmd_records.cpp

const std::vector<AddCommand>& Commands() {
  static const std::vector<AddCommand> commands = {&AddList, &AddRegs,  &AddConfig,      &AddInfo,
                                                   &AddProfile, &AddImage, &AddFormatFat32, &AddRun, &AddRecords};
  return commands;
}

}  // namespace linetool::cli
