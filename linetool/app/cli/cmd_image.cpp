// linetool-cli image: composes the firmware image and the flash image file that
// engineers program into a bridge's flash chip directly.

#include <ostream>

#include "linetool/app/cli/cli_command.h"
#include "linetool/profile/line_engine.h"
#include "platform/linux/host_services.h"

namespace linetool::cli {

namespace {

void PrintImageHelp(std::ostream& out) {
  out << "Usage: linetool-cli [--workdir DIR] image --fw FILE --chip CODE [--crc] [--profile FILE]\n"
         "\n"
         "Composes Temp/TempBinData.bin in the working directory from the firmware FILE\n"
         "for the bridge variant CODE, and the flash image file beside it:\n"
         "  Temp/Config_<name>.bin    with --profile naming a profile whose config_enable\n"
         "                            is 1: the configuration block composed for port 0\n"
         "                            from that profile, then the composed image\n"
         "  Temp/UnConfig_<name>.bin  otherwise: 128 bytes of 0xFF, then the composed image\n"
         "<name> is the firmware file name without its extension.\n"
         "\n"
         "Options:\n"
         "  --fw FILE       the firmware file (1 to 65,535 bytes)\n"
         "  --chip CODE     the bridge variant: 00, 001, 001_B0, 010, 011, 101, 110, 111\n"
         "  --crc           append the CRC-32 of the firmware to the composed image\n"
         "  --profile FILE  load this profile first, as the station does\n"
         "  --help          show this help\n"
         "\n"
         "Relative FILE names are taken against the working directory (--workdir,\n"
         "else the current directory). Prints the paths it wrote, one per line. Message boxes of the profile load\n"
         "and errors go to stderr.\n"
         "\n"
         "Exit status: 0 when the composition succeeded, 1 when it failed, 2 on a\n"
         "usage error.\n";
}

}  // namespace

int RunImage(CliContext& ctx, const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    PrintImageHelp(ctx.out);
    return kExitOk;
  }
  std::string fw, chip, profile_file;
  bool crc = false, have_chip = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const std::string& name, std::string& into) {
      if (a == name && i + 1 < args.size()) {
        into = args[++i];
        return true;
      }
      if (a.rfind(name + "=", 0) == 0) {
        into = a.substr(name.size() + 1);
        return true;
      }
      return false;
    };
    if (a == "--crc") {
      crc = true;
    } else if (value("--chip", chip)) {
      have_chip = true;
    } else if (!value("--fw", fw) && !value("--profile", profile_file)) {
      ctx.err << "linetool-cli: image: unexpected argument " << a << "\n";
      PrintImageHelp(ctx.err);
      return kExitUsage;
    }
  }
  if (fw.empty() || !have_chip) {
    ctx.err << "linetool-cli: image: --fw and --chip are required\n";
    PrintImageHelp(ctx.err);
    return kExitUsage;
  }

  platform::linux_host::HostPathAccess access;
  profile::CLineEngine engine(ctx.sink, access, ctx.host_workdir);
  if (!profile_file.empty() && !engine.LoadProfile(StationPathOfArgument(ctx, profile_file))) {
    ctx.err << "linetool-cli: image: the profile " << profile_file << " did not load\n";
    return kExitFailed;
  }
  const std::string fw_path = StationPathOfArgument(ctx, fw);
  if (fw_path.size() > profile::kProfileTextMax) {
    ctx.err << "linetool-cli: image: the firmware path is longer than " << profile::kProfileTextMax
            << " characters\n";
    return kExitFailed;
  }
  profile::SetText(engine.Settings().fw_binary_name, fw_path);
  engine.SetFirmwarePath(fw_path);
  engine.SetChipCode(chip);

  auto kind = profile::FlashImageKind::kUnConfig;
  if (!profile_file.empty() && engine.Settings().config_enable == 1) {
    kind = profile::FlashImageKind::kConfig;
    profile::ConfigBlock block{};
    engine.ComposePortBlock(0, block);
    if (!engine.CheckFirmwareName()) {
      ctx.err << "linetool-cli: image: warning: the firmware name does not pass the station's "
                 "name check for the option flags of this profile\n";
    }
  }
  if (!engine.BuildFlashImage(kind, crc)) {
    ctx.err << "linetool-cli: image: " << engine.ImageFailureText();
    if (engine.LastImageStatus() == profile::ImageStatus::kUnknownChipCode)
      ctx.err << " (known: 00, 001, 001_B0, 010, 011, 101, 110, 111)";
    ctx.err << "\n";
    return kExitFailed;
  }
  ctx.out << engine.ImageFilePath() << "\n" << engine.FlashImagePath(kind) << "\n";
  return kExitOk;
}

}  // namespace linetool::cli
