// romwright-cli device commands: detect, read, write, erase, verify, auto on
// the selected chip, and version, serial, selftest, update-firmware on the
// programmer itself. Each runs the window's command with its texts, progress
// and message boxes.

#include <ostream>

#include "romwright/app/chip_database.h"
#include "romwright/app/cli/cli_database.h"
#include "romwright/app/cli/cli_programmer.h"
#include "romwright/app/data_file.h"

namespace romwright::cli {

namespace {

const char kDeviceOptions[] =
    "With --sim the programmer is simulated (--sim=CHIP,IMAGE: holding CHIP, whose\n"
    "contents IMAGE keeps from one run to the next); else the USB programmer is used.\n"
    "The chip is --chip NAME, else the simulated chip, else EN25T80.\n"
    "Exit 0 on success, 1 when the operation failed, a file could not be read or\n"
    "written or the chip database is unfit, 2 on bad usage, a chip that is not in\n"
    "the database, or when no programmer is linked.\n";

// Runs `body` on a started programmer after checking the argument count.
template <typename Body>
int WithProgrammer(CliContext& ctx, const std::vector<std::string>& arguments, std::size_t count,
                   const char* usage, const char* help, Body body, bool need_link = true) {
  std::vector<std::string> args = arguments;
  if (WantsHelp(args)) {
    ctx.out << "Usage: romwright-cli " << usage << "\n" << help << kDeviceOptions;
    return kExitOk;
  }
  TakeChipOption(ctx, args);
  if (args.size() != count) {
    ctx.err << "Usage: romwright-cli " << usage << "\n";
    return kExitUsage;
  }
  int code = kExitOk;
  auto programmer = CliProgrammer::Start(ctx, code, need_link);
  if (!programmer) return code;
  return body(*programmer, args);
}

}  // namespace

int RunDetect(CliContext& ctx, const std::vector<std::string>& args) {
  return WithProgrammer(ctx, args, 0, "detect",
                        "Reads the ID bytes of the chip in the programmer and names the first chip\n"
                        "of the database that carries them.\n",
                        [](CliProgrammer& p, const std::vector<std::string>&) {
                          return ExitCodeOf(p.Ops().DetectChip());
                        });
}

int RunRead(CliContext& ctx, const std::vector<std::string>& arguments) {
  std::vector<std::string> args = arguments;
  std::string output;
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "-o" || args[i] == "--output") {
      output = args[i + 1];
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
      break;
    }
  }
  if (output.empty() && !WantsHelp(args)) {
    ctx.err << "Usage: romwright-cli read -o FILE\n";
    return kExitUsage;
  }
  return WithProgrammer(ctx, args, 0, "read -o FILE",
                        "Reads the whole chip into the buffer and saves its bytes to FILE\n"
                        "(a binary image).\n",
                        [&](CliProgrammer& p, const std::vector<std::string>&) {
                          if (!p.Ops().ReadChip()) return kExitFailed;
                          if (!app::SaveFile(p.Buffer(), output)) {
                            ctx.err << "romwright-cli read: cannot write " << output << "\n";
                            return kExitFailed;
                          }
                          return kExitOk;
                        });
}

int RunWrite(CliContext& ctx, const std::vector<std::string>& args) {
  return WithProgrammer(ctx, args, 1, "write FILE",
                        "Loads FILE (Intel HEX when it ends in HEX or hex, else binary) and writes\n"
                        "the chip's capacity of it to the chip.\n",
                        [](CliProgrammer& p, const std::vector<std::string>& a) {
                          if (!p.LoadDataFile(a[0])) return kExitFailed;
                          return ExitCodeOf(p.Ops().WriteChip());
                        });
}

int RunErase(CliContext& ctx, const std::vector<std::string>& args) {
  return WithProgrammer(ctx, args, 0, "erase",
                        "Erases the chip (SPI flash only; EEPROMs are simply written).\n",
                        [&](CliProgrammer& p, const std::vector<std::string>&) {
                          if (p.Ops().SelectedChip().type != static_cast<std::uint32_t>(ChipType::kSpiFlash)) {
                            ctx.err << "romwright-cli erase: " << app::NameOf(p.Ops().SelectedChip())
                                    << " is no SPI flash; only SPI flash is erased\n";
                            p.Ops().EraseChip();  // logs the attempt, sends nothing
                            return kExitUsage;
                          }
                          return ExitCodeOf(p.Ops().EraseChip());
                        });
}

int RunVerify(CliContext& ctx, const std::vector<std::string>& args) {
  return WithProgrammer(ctx, args, 1, "verify FILE",
                        "Loads FILE and compares the chip with it; the first difference is shown\n"
                        "with its address, the file's byte and the chip's byte.\n",
                        [](CliProgrammer& p, const std::vector<std::string>& a) {
                          if (!p.LoadDataFile(a[0])) return kExitFailed;
                          return ExitCodeOf(p.Ops().VerifyChip());
                        });
}

int RunAuto(CliContext& ctx, const std::vector<std::string>& args) {
  return WithProgrammer(ctx, args, 1, "auto FILE",
                        "Loads FILE, then erases (SPI flash), writes and verifies the chip.\n",
                        [](CliProgrammer& p, const std::vector<std::string>& a) {
                          if (!p.LoadDataFile(a[0])) return kExitFailed;
                          return ExitCodeOf(p.Ops().Auto());
                        });
}

int RunVersion(CliContext& ctx, const std::vector<std::string>& args) {
  return WithProgrammer(ctx, args, 0, "version", "Reads the programmer's firmware version.\n",
                        [](CliProgrammer& p, const std::vector<std::string>&) {
                          return ExitCodeOf(p.Maintenance().ReadFirmwareVersion());
                        });
}

int RunSerial(CliContext& ctx, const std::vector<std::string>& args) {
  return WithProgrammer(ctx, args, 0, "serial", "Reads the programmer's serial number.\n",
                        [](CliProgrammer& p, const std::vector<std::string>&) {
                          return ExitCodeOf(p.Maintenance().ReadSerialNumber());
                        });
}

int RunSelftest(CliContext& ctx, const std::vector<std::string>& args) {
  return WithProgrammer(ctx, args, 0, "selftest",
                        "Runs the programmer's self test; exit 1 when the hardware has problems.\n",
                        [](CliProgrammer& p, const std::vector<std::string>&) {
                          return ExitCodeOf(p.Maintenance().SelfTest());
                        });
}

int RunUpdateFirmware(CliContext& ctx, const std::vector<std::string>& args) {
  return WithProgrammer(ctx, args, 1, "update-firmware FILE",
                        "Sends the update image FILE (1 to 262144 bytes) to the programmer's boot\n"
                        "loader. The programmer leaves its firmware and must be linked again in its\n"
                        "boot state. No programmer needs to be linked at the start: the command\n"
                        "waits for one, and after about 5 s asks on stderr to link it within 10 s;\n"
                        "it gives up after about 15 s. Progress goes to stdout.\n",
                        [](CliProgrammer& p, const std::vector<std::string>& a) {
                          return ExitCodeOf(p.Maintenance().UpdateFirmware(a[0]));
                        },
                        /*need_link=*/false);
}

}  // namespace romwright::cli
