// romwright-cli device commands: detect, read, write, erase, verify, auto on
// the selected chip, and version, serial, selftest, update-firmware on the
// programmer itself. Each runs the window's command with its texts, progress
// and message boxes.

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "romwright/app/cli/cli_database.h"
#include "romwright/app/cli/cli_programmer.h"
#include "romwright/chips/chip_database.h"
#include "romwright/data/data_file.h"

namespace romwright::cli {

namespace {

const char kDeviceOptions[] =
    "With --sim the programmer is simulated (--sim=CHIP,IMAGE: holding CHIP, whose\n"
    "contents IMAGE keeps from one run to the next); else the USB programmer is used.\n"
    "The chip is --chip NAME, else the simulated chip, else EN25T80.\n"
    "Exit 0 on success, 1 when the operation failed, a file could not be read or\n"
    "written or the chip database is unfit, 2 on bad usage, a chip that is not in\n"
    "the database, or when no programmer is linked.\n";

using Body = std::function<int(CliContext&, CliProgrammer&)>;
// The --json document of a command from what the programmer read (null when
// it did not start) and whether the command succeeded.
using JsonOf = std::function<nlohmann::json(CliProgrammer*, bool ok)>;

// A command on the programmer: `body` runs on a started programmer. With
// `json_of` the command takes --json: its status lines go to stderr and
// stdout gets the document.
CliCommand DeviceCommand(CLI::App& program, const char* name, const char* summary, const char* help, Body body,
                         bool need_link = true, JsonOf json_of = {}) {
  CLI::App* cmd = program.add_subcommand(name, summary);
  cmd->footer(std::string(help) + "\n" + kDeviceOptions);
  auto json = std::make_shared<bool>(false);
  if (json_of) cmd->add_flag("--json", *json, "print one JSON document on stdout (fields: see the README)");
  return {cmd, [body = std::move(body), need_link, json, json_of](CliContext& ctx) {
            CliContext status_ctx{ctx.options, *json ? ctx.err : ctx.out, ctx.err, ctx.sink, ctx.devices,
                                  ctx.interruption};
            int code = kExitOk;
            auto programmer = CliProgrammer::Start(status_ctx, code, need_link);
            if (programmer) {
              programmer->SetProgressBytes(programmer->Ops().SelectedChip().capacity);
              if (ctx.interruption) ctx.interruption->OnStop([p = programmer.get()] { p->Stop(); });
              code = body(status_ctx, *programmer);
              if (ctx.interruption) ctx.interruption->OnStop({});
            }
            if (*json) ctx.out << json_of(programmer.get(), programmer && code == kExitOk).dump(2) << "\n";
            if (ctx.interruption && ctx.interruption->Requested()) {
              ctx.err << "romwright-cli stopped by a signal (Ctrl-C or SIGTERM)"
                      << (programmer ? ": the transfer was cancelled" : "") << "\n";
              return command_line::kExitInterrupted;
            }
            return code;
          }};
}

// A text the command read, or null.
nlohmann::json TextOrNull(const std::string& text) { return text.empty() ? nlohmann::json() : nlohmann::json(text); }

// A command that loads FILE into the buffer, then runs `operation`.
CliCommand FileCommand(CLI::App& program, const char* name, const char* summary, const char* help,
                       std::function<bool(CliProgrammer&)> operation) {
  auto file = std::make_shared<std::string>();
  CliCommand c = DeviceCommand(program, name, summary, help, [file, operation](CliContext&, CliProgrammer& p) {
    if (!p.LoadDataFile(*file)) return kExitFailed;
    return ExitCodeOf(operation(p));
  });
  c.app->add_option("FILE", *file, "a binary image, or Intel HEX when its name ends in HEX or hex")->required();
  return c;
}

}  // namespace

CliCommand AddDetect(CLI::App& program) {
  return DeviceCommand(
      program, "detect", "read the chip's ID bytes and name the chip",
      "Reads the ID bytes of the chip in the programmer and names the first chip\n"
      "of the database that carries them.\n",
      [](CliContext&, CliProgrammer& p) { return ExitCodeOf(p.Ops().DetectChip()); }, true,
      [](CliProgrammer* p, bool ok) {
        const auto ids = p ? p->Ops().DetectedIds() : std::nullopt;
        return nlohmann::json{{"ok", ok},
                              {"manufacturer_id", ids ? nlohmann::json(ids->first) : nlohmann::json()},
                              {"device_id", ids ? nlohmann::json(ids->second) : nlohmann::json()},
                              {"chip", ok ? nlohmann::json(app::NameOf(p->Ops().SelectedChip())) : nlohmann::json()}};
      });
}

CliCommand AddRead(CLI::App& program) {
  auto output = std::make_shared<std::string>();
  CliCommand c = DeviceCommand(program, "read", "read the chip and save it to FILE",
                               "Reads the whole chip into the buffer and saves its bytes to FILE\n"
                               "(Intel HEX when FILE ends in HEX or hex, else a binary image).\n",
                               [output](CliContext& ctx, CliProgrammer& p) {
                                 if (!p.Ops().ReadChip()) return kExitFailed;
                                 if (!app::SaveFile(p.Buffer(), *output)) {
                                   ctx.err << "romwright-cli read: cannot write " << *output << "\n";
                                   return kExitFailed;
                                 }
                                 return kExitOk;
                               });
  c.app->add_option("-o,--output", *output, "the file to save the chip's bytes in")->type_name("FILE")->required();
  return c;
}

CliCommand AddWrite(CLI::App& program) {
  return FileCommand(program, "write", "write FILE (binary or Intel HEX) to the chip",
                     "Loads FILE (Intel HEX when it ends in HEX or hex, else binary) and writes\n"
                     "the chip's capacity of it to the chip.\n",
                     [](CliProgrammer& p) { return p.Ops().WriteChip(); });
}

CliCommand AddErase(CLI::App& program) {
  return DeviceCommand(program, "erase", "erase the chip (SPI flash)",
                       "Erases the chip (SPI flash only; EEPROMs are simply written).\n",
                       [](CliContext& ctx, CliProgrammer& p) {
                         if (p.Ops().SelectedChip().type != static_cast<std::uint32_t>(ChipType::kSpiFlash)) {
                           ctx.err << "romwright-cli erase: " << app::NameOf(p.Ops().SelectedChip())
                                   << " is no SPI flash; only SPI flash is erased\n";
                           p.Ops().EraseChip();  // logs the attempt, sends nothing
                           return kExitUsage;
                         }
                         return ExitCodeOf(p.Ops().EraseChip());
                       });
}

CliCommand AddVerify(CLI::App& program) {
  return FileCommand(program, "verify", "compare the chip with FILE",
                     "Loads FILE and compares the chip with it; the first difference is shown\n"
                     "with its address, the file's byte and the chip's byte.\n",
                     [](CliProgrammer& p) { return p.Ops().VerifyChip(); });
}

CliCommand AddAuto(CLI::App& program) {
  return FileCommand(program, "auto", "erase (SPI flash), write and verify FILE",
                     "Loads FILE, then erases (SPI flash), writes and verifies the chip.\n",
                     [](CliProgrammer& p) { return p.Ops().Auto(); });
}

CliCommand AddVersion(CLI::App& program) {
  return DeviceCommand(
      program, "version", "read the programmer's firmware version", "Reads the programmer's firmware version.\n",
      [](CliContext&, CliProgrammer& p) { return ExitCodeOf(p.Maintenance().ReadFirmwareVersion()); }, true,
      [](CliProgrammer* p, bool ok) {
        return nlohmann::json{
            {"ok", ok},
            {"firmware_version", p ? TextOrNull(p->Maintenance().LastReadings().firmware_version) : nlohmann::json()}};
      });
}

CliCommand AddSerial(CLI::App& program) {
  return DeviceCommand(
      program, "serial", "read the programmer's serial number", "Reads the programmer's serial number.\n",
      [](CliContext&, CliProgrammer& p) { return ExitCodeOf(p.Maintenance().ReadSerialNumber()); }, true,
      [](CliProgrammer* p, bool ok) {
        return nlohmann::json{
            {"ok", ok},
            {"serial_number", p ? TextOrNull(p->Maintenance().LastReadings().serial_number) : nlohmann::json()}};
      });
}

CliCommand AddSelftest(CLI::App& program) {
  return DeviceCommand(
      program, "selftest", "run the programmer's self test",
      "Runs the programmer's self test; exit 1 when the hardware has problems.\n",
      [](CliContext&, CliProgrammer& p) { return ExitCodeOf(p.Maintenance().SelfTest()); }, true,
      [](CliProgrammer* p, bool ok) {
        const auto* r = p ? &p->Maintenance().LastReadings() : nullptr;
        return nlohmann::json{
            {"ok", ok},
            {"hardware_ok", r && r->hardware_ok ? nlohmann::json(*r->hardware_ok) : nlohmann::json()},
            {"report", r ? TextOrNull(r->self_test_report) : nlohmann::json()}};
      });
}

CliCommand AddUpdateFirmware(CLI::App& program) {
  auto file = std::make_shared<std::string>();
  CliCommand c = DeviceCommand(
      program, "update-firmware", "update the programmer's firmware from FILE",
      "Sends the update image FILE (1 to 262144 bytes) to the programmer's boot\n"
      "loader. The programmer leaves its firmware and must be linked again in its\n"
      "boot state. No programmer needs to be linked at the start: the command\n"
      "waits for one, and after about 5 s asks on stderr to link it within 10 s;\n"
      "it gives up after about 15 s. Progress goes to stdout.\n",
      [file](CliContext&, CliProgrammer& p) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(*file, ec);
        p.SetProgressBytes(ec ? 0 : size);
        return ExitCodeOf(p.Maintenance().UpdateFirmware(*file));
      },
      /*need_link=*/false);
  c.app->add_option("FILE", *file, "the programmer's update image")->required()->check(CLI::ExistingFile);
  return c;
}

}  // namespace romwright::cli
