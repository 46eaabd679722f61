// romwright-cli chips [PATTERN]: the chip search.

#include <cstdio>
#include <memory>
#include <ostream>

#include <nlohmann/json.hpp>

#include "romwright/app/cli/cli_database.h"
#include "romwright/chips/chip_texts.h"

namespace romwright::cli {

CliCommand AddChips(CLI::App& program) {
  CLI::App* cmd =
      program.add_subcommand("chips", "list the chips whose name matches PATTERN ('*' wildcards, any case)");
  auto pattern = std::make_shared<std::string>();
  cmd->add_option("PATTERN", *pattern, "the pattern (quote it: '25*80'); none lists every chip");
  cmd->footer(
      "Lists the chips whose name matches PATTERN, as the chip search does: case does\n"
      "not matter, '*' stands for any text, and the pattern may match anywhere in the\n"
      "name (EN25*80 finds every name with EN25 and later 80). No pattern lists all.\n"
      "Prints \"Find N Chips!\" and one row per chip: name, capacity, manufacturer, type.\n"
      "Exit 0 listed (also when none match), 1 the chip database is unfit, 2 bad usage.\n");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "print one JSON document instead of the list (fields: see the README)");
  return {cmd, [pattern, json](CliContext& ctx) {
            app::ChipDatabase db;
            if (!LoadCliDatabase(ctx, db)) return kExitFailed;
            const auto found = db.SearchChips(*pattern);
            if (*json) {
              nlohmann::json chips = nlohmann::json::array();
              for (const auto& chip : found) {
                chips.push_back({{"name", app::NameOf(chip)},
                                 {"manufacturer", app::ManufacturerOf(chip)},
                                 {"type", std::string(app::TypeName(chip.type))},
                                 {"capacity", app::SearchCapacityText(chip)},
                                 {"capacity_bytes", chip.capacity},
                                 {"page_size", chip.page_size},
                                 {"manufacturer_id", chip.manufacturer_id},
                                 {"device_id", chip.device_id}});
              }
              const nlohmann::json doc = {{"pattern", *pattern}, {"count", found.size()}, {"chips", chips}};
              ctx.out << doc.dump(2) << "\n";
              return kExitOk;
            }
            ctx.out << "Find " << found.size() << " Chips!\n";
            for (const auto& chip : found) {
              char row[160];
              std::snprintf(row, sizeof row, "%-24s %-12s %-20s %s", app::NameOf(chip).c_str(),
                            app::SearchCapacityText(chip).c_str(), app::ManufacturerOf(chip).c_str(),
                            std::string(app::TypeName(chip.type)).c_str());
              ctx.out << row << "\n";
            }
            return kExitOk;
          }};
}

}  // namespace romwright::cli
