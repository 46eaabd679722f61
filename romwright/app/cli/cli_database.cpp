#include "romwright/app/cli/cli_database.h"

#include <filesystem>
#include <ostream>
#include <system_error>

#include "platform/linux/host_services.h"

namespace romwright::cli {

std::string DatabasePath(const CliContext& ctx) {
  if (!ctx.options.db.empty()) return ctx.options.db;
  const std::string folder = platform::linux_host::ExecutableFolder();
  if (folder.empty()) return kDefaultDatabaseName;
  return (std::filesystem::path(folder) / kDefaultDatabaseName).string();
}

bool LoadCliDatabase(const CliContext& ctx, app::ChipDatabase& db) {
  const std::string path = DatabasePath(ctx);
  if (db.LoadDatabase(path)) return true;
  ctx.err << "Database error!\n(romwright-cli: cannot use the chip database " << path << ": " << db.LoadFault()
          << "; give one with --db FILE)\n";
  return false;
}

std::optional<ChipRecord> SelectCliChip(const CliContext& ctx, const app::ChipDatabase& db) {
  std::string name = ctx.options.chip;
  if (name.empty()) name = ctx.options.sim_chip;
  if (name.empty()) name = kDefaultChipName;
  auto chip = db.FindByName(name);
  if (!chip) {
    ctx.err << "Database error!\n(romwright-cli: chip \"" << name
            << "\" is not in the database; `romwright-cli chips` lists them)\n";
  }
  return chip;
}

}  // namespace romwright::cli
