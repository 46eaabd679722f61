// romwright-cli chips [PATTERN]: the chip search.

#include <cstdio>
#include <ostream>

#include "romwright/app/chip_texts.h"
#include "romwright/app/cli/cli_database.h"

namespace romwright::cli {

int RunChips(CliContext& ctx, const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    ctx.out << "Usage: romwright-cli chips [PATTERN]\n"
               "Lists the chips whose name matches PATTERN, as the chip search does: case does\n"
               "not matter, '*' stands for any text, and the pattern may match anywhere in the\n"
               "name (EN25*80 finds every name with EN25 and later 80). No pattern lists all.\n"
               "Prints \"Find N Chips!\" and one row per chip: name, capacity, manufacturer, type.\n"
               "Exit 0 listed (also when none match), 1 the chip database is unfit, 2 bad usage.\n";
    return kExitOk;
  }
  if (args.size() > 1) {
    ctx.err << "romwright-cli chips: one pattern at most (quote it: '25*80')\n";
    return kExitUsage;
  }
  app::ChipDatabase db;
  if (!LoadCliDatabase(ctx, db)) return kExitFailed;
  const auto found = db.SearchChips(args.empty() ? std::string() : args[0]);
  ctx.out << "Find " << found.size() << " Chips!\n";
  for (const auto& chip : found) {
    char row[160];
    std::snprintf(row, sizeof row, "%-24s %-12s %-20s %s", app::NameOf(chip).c_str(),
                  app::SearchCapacityText(chip).c_str(), app::ManufacturerOf(chip).c_str(),
                  std::string(app::TypeName(chip.type)).c_str());
    ctx.out << row << "\n";
  }
  return kExitOk;
}

}  // namespace romwright::cli
