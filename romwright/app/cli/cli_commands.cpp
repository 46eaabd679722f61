// The table of romwright-cli commands. Each command lives in its own cmd_*.cpp.

#include "romwright/app/cli/cli_command.h"

#include <algorithm>

namespace romwright::cli {

bool WantsHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& a) { return a == "--help" || a == "-h"; });
}

int RunChips(CliContext& ctx, const std::vector<std::string>& args);
int RunChipdb(CliContext& ctx, const std::vector<std::string>& args);
int RunConvert(CliContext& ctx, const std::vector<std::string>& args);

int RunDetect(CliContext& ctx, const std::vector<std::string>& args);
int RunRead(CliContext& ctx, const std::vector<std::string>& args);
int RunWrite(CliContext& ctx, const std::vector<std::string>& args);
int RunErase(CliContext& ctx, const std::vector<std::string>& args);
int RunVerify(CliContext& ctx, const std::vector<std::string>& args);
int RunAuto(CliContext& ctx, const std::vector<std::string>& args);
int RunVersion(CliContext& ctx, const std::vector<std::string>& args);
int RunSerial(CliContext& ctx, const std::vector<std::string>& args);
int RunSelftest(CliContext& ctx, const std::vector<std::string>& args);
int RunUpdateFirmware(CliContext& ctx, const std::vector<std::string>& args);

const std::vector<CliCommand>& Commands() {
  static const std::vector<CliCommand> commands = {
      {"chips", "chips [PATTERN]", "list the chips whose name matches PATTERN ('*' wildcards, any case)",
       RunChips},
      {"convert", "convert IN OUT --chip NAME",
       "load a binary or Intel HEX file for chip NAME and save the chip's bytes as binary", RunConvert},
      {"chipdb", "chipdb build CSV OUT | chipdb dump DB",
       "build the chip database from its readable chip list, or print a database as one", RunChipdb},
      {"detect", "detect", "read the chip's ID bytes and name the chip", RunDetect},
      {"read", "read -o FILE", "read the chip and save it to FILE", RunRead},
      {"write", "write FILE", "write FILE (binary or Intel HEX) to the chip", RunWrite},
      {"erase", "erase", "erase the chip (SPI flash)", RunErase},
      {"verify", "verify FILE", "compare the chip with FILE", RunVerify},
      {"auto", "auto FILE", "erase (SPI flash), write and verify FILE", RunAuto},
      {"version", "version", "read the programmer's firmware version", RunVersion},
      {"serial", "serial", "read the programmer's serial number", RunSerial},
      {"selftest", "selftest", "run the programmer's self test", RunSelftest},
      {"update-firmware", "update-firmware FILE", "update the programmer's firmware from FILE",
       RunUpdateFirmware},
  };
  return commands;
}

}  // namespace romwright::cli
