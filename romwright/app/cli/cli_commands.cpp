// The table of romwright-cli commands and its command line. Each command
// lives in its own cmd_*.cpp.

#include <string>

#include "platform/number_text.h"
#include "romwright/app/cli/cli_command.h"

namespace romwright::cli {

CliCommand AddChips(CLI::App& program);    // cmd_chips.cpp
CliCommand AddConvert(CLI::App& program);  // cmd_convert.cpp
CliCommand AddChipdb(CLI::App& program);   // cmd_chipdb.cpp
CliCommand AddSettings(CLI::App& program); // cmd_settings.cpp

CliCommand AddDetect(CLI::App& program);  // cmd_programmer.cpp, as the rest
CliCommand AddRead(CLI::App& program);
CliCommand AddWrite(CLI::App& program);
CliCommand AddErase(CLI::App& program);
CliCommand AddVerify(CLI::App& program);
CliCommand AddAuto(CLI::App& program);
CliCommand AddVersion(CLI::App& program);
CliCommand AddSerial(CLI::App& program);
CliCommand AddSelftest(CLI::App& program);
CliCommand AddUpdateFirmware(CLI::App& program);

const std::vector<AddCommand>& Commands() {
  static const std::vector<AddCommand> commands = {
      &AddChips, &AddConvert, &AddChipdb,  &AddDetect,   &AddRead,     &AddWrite,         &AddErase,
      &AddVerify, &AddAuto,   &AddVersion, &AddSerial,   &AddSelftest, &AddUpdateFirmware,
      &AddSettings};
  return commands;
}

namespace {

constexpr std::uint32_t kMaxSimRate = 1000000000;

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
  AddSimOption(app, options);
  command_line::AddCheckedOption(
      app, "--sim-rate",
      [&options](const std::string& text) -> std::string {
        const auto rate = platform::ParseUnsigned(text, 10, kMaxSimRate);
        if (!rate || *rate == 0) {
          return "--sim-rate takes a whole number of bytes per second from 1 to " + std::to_string(kMaxSimRate) +
                 ", not \"" + text + "\"";
        }
        options.sim_rate = static_cast<std::uint32_t>(*rate);
        return {};
      },
      "the simulated link moves N bytes per second (default: no limit)")
      ->type_name("N");
  app.add_option("--chip", options.chip, "select chip NAME from the database")->type_name("NAME");
  app.add_option("--db", options.db, "chip database file (default: chips.db beside romwright-cli)")
      ->type_name("FILE");
}

}  // namespace

void AddSimOption(CLI::App& app, GlobalOptions& options) {
  // A flag: the next argument is never its value, only "--sim=CHIP,IMAGE" is.
  CLI::Option* sim =
      app.add_flag("--sim{}", options.sim_chip, "a simulated programmer; holding CHIP, whose contents IMAGE keeps")
          ->type_name("[=CHIP[,IMAGE]]");
  app.parse_complete_callback([sim, &options] {
    options.sim = sim->count() > 0;
    const auto comma = options.sim_chip.find(',');
    if (comma == std::string::npos) return;
    options.sim_image = options.sim_chip.substr(comma + 1);
    options.sim_chip.resize(comma);
  });
}

int RunCommandLine(const std::vector<std::string>& args, CliContext& ctx) {
  CLI::App app("The SPI flash and EEPROM programmer without a window.", "romwright-cli");
  command_line::SetUp(app);
  AddGlobalOptions(app, ctx.options);
  std::vector<CliCommand> commands;
  for (const AddCommand add : Commands()) commands.push_back(add(app));
  app.require_subcommand(1);
  app.footer(
      "Run 'romwright-cli COMMAND --help' for a command's options. The global\n"
      "options may also follow the command's name.\n"
      "\n"
      "Exit status, the same for every command:\n"
      "  0  done\n"
      "  1  carried out and failed: a chip operation failed or found a difference, a\n"
      "     file could not be read or written, the chip database or chip list is unfit\n"
      "     (\"Database error!\")\n"
      "  2  not started: a bad command line or option value, a chip that is not in\n"
      "     the database, erase of a chip that is no SPI flash, or no programmer linked\n");
  if (const auto done = command_line::Parse(app, args, ctx.out, ctx.err)) return *done;
  for (const auto& command : commands) {
    if (command.app->parsed()) return command.run(ctx);
  }
  return kExitUsage;  // require_subcommand(1) leaves no other case
}

}  // namespace romwright::cli
