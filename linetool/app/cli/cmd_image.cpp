// linetool-cli image: composes the firmware image and the flash image file that
// engineers program into a bridge's flash chip directly.

#include <memory>
#include <ostream>

#include "linetool/app/cli/cli_command.h"
#include "linetool/profile/line_engine.h"
#include "platform/linux/host_services.h"

namespace linetool::cli {

namespace {

struct ImageArgs {
  std::string fw, chip, profile_file;
  bool crc = false;
};

int RunImage(CliContext& ctx, const ImageArgs& args) {
  const std::string& fw = args.fw;
  const std::string& chip = args.chip;
  const std::string& profile_file = args.profile_file;
  const bool crc = args.crc;
  if (!RequireFileArgument(ctx, "image", fw)) return kExitUsage;
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

}  // namespace

CliCommand AddImage(CLI::App& program) {
  CLI::App* cmd =
      program.add_subcommand("image", "compose the firmware image and the Config_/UnConfig_ flash image file");
  auto args = std::make_shared<ImageArgs>();
  cmd->add_option("--fw", args->fw, "the firmware file (1 to 65,535 bytes)")->type_name("FILE")->required();
  cmd->add_option("--chip", args->chip, "the bridge variant: 00, 001, 001_B0, 010, 011, 101, 110, 111")
      ->type_name("CODE")
      ->required();
  cmd->add_flag("--crc", args->crc, "append the CRC-32 of the firmware to the composed image");
  cmd->add_option("--profile", args->profile_file, "load this profile first, as the station does")
      ->type_name("FILE");
  cmd->footer(
      "Composes Temp/TempBinData.bin in the working directory from the firmware FILE\n"
      "for the bridge variant CODE, and the flash image file beside it:\n"
      "  Temp/Config_<name>.bin    with --profile naming a profile whose config_enable\n"
      "                            is 1: the configuration block composed for port 0\n"
      "                            from that profile, then the composed image\n"
      "  Temp/UnConfig_<name>.bin  otherwise: 128 bytes of 0xFF, then the composed image\n"
      "<name> is the firmware file name without its extension.\n"
      "\n"
      "Relative FILE names are taken against the working directory (--workdir,\n"
      "else the current directory). Prints the paths it wrote, one per line.\n"
      "Message boxes of the profile load and errors go to stderr.\n"
      "\n"
      "Exit status: 0 when the composition succeeded, 1 when it failed, 2 on a\n"
      "usage error.\n");
  return {cmd, [args](CliContext& ctx) { return RunImage(ctx, *args); }};
}

}  // namespace linetool::cli
