// romwright-cli settings: the window's language and starting chip as its
// settings file holds them, and setting them as the window's Language menu
// and chip choice do.

#include <memory>
#include <ostream>

#include "platform/linux/host_services.h"
#include "romwright/app/cli/cli_database.h"
#include "romwright/settings/language_table.h"
#include "romwright/settings/settings_file.h"

namespace romwright::cli {

namespace {

struct SettingsArgs {
  std::string language;
  std::string chip;
};

int RunSettings(CliContext& ctx, const SettingsArgs& a) {
  app::SettingsFile settings = app::SettingsFile::ForProgram(platform::linux_host::ExecutableFolder());
  if (!a.chip.empty()) {
    app::ChipDatabase db;
    if (!LoadCliDatabase(ctx, db)) return kExitFailed;
    if (!db.FindByName(a.chip)) {
      ctx.err << "romwright-cli settings: chip \"" << a.chip << "\" is not in the database; `romwright-cli chips` lists them\n";
      return kExitUsage;
    }
  }
  for (const auto& [key, value] : {std::pair{app::kDefaultLanguageKey, a.language}, std::pair{app::kDefaultChipKey, a.chip}}) {
    if (value.empty()) continue;
    if (!settings.Write(app::kRunSection, key, value)) {
      ctx.err << "romwright-cli settings: cannot write " << settings.Path() << "\n";
      return kExitFailed;
    }
  }
  ctx.out << "Settings: " << settings.Path() << "\n";
  if (!settings.DefaultsPath().empty()) ctx.out << "Defaults: " << settings.DefaultsPath() << "\n";
  ctx.out << app::kDefaultLanguageKey << "=" << settings.Read(app::kRunSection, app::kDefaultLanguageKey) << "\n";
  ctx.out << app::kDefaultChipKey << "=" << settings.Read(app::kRunSection, app::kDefaultChipKey) << "\n";
  return kExitOk;
}

}  // namespace

CliCommand AddSettings(CLI::App& program) {
  CLI::App* cmd = program.add_subcommand("settings", "show or set the window's language and the chip it starts with");
  auto a = std::make_shared<SettingsArgs>();
  cmd->add_option("--language", a->language, "English or SimpleChinese")
      ->type_name("LANGUAGE")
      ->check(CLI::IsMember({std::string(app::kLanguageEnglish), std::string(app::kLanguageChinese)}));
  cmd->add_option("--default-chip", a->chip, "a chip of the database")->type_name("NAME");
  cmd->footer(
      "Prints the settings file the programs write, the shipped file it falls back on\n"
      "when installed, and the language and chip the window starts with; with\n"
      "--language or --default-chip it first saves them, as the Language menu and the\n"
      "chip choice of the window do. Run from its build tree a program keeps its\n"
      "settings in config.ini beside itself; installed, in\n"
      "$XDG_CONFIG_HOME/romwright/config.ini (~/.config by default), made at the first\n"
      "change, over the shipped config.ini beside the program.\n"
      "Exit 0 shown (and saved), 1 the file cannot be written or the database is\n"
      "unfit, 2 bad usage or a chip that is not in the database.\n");
  return {cmd, [a](CliContext& ctx) { return RunSettings(ctx, *a); }};
}

}  // namespace romwright::cli
