// romwright-cli chipdb build CSV OUT | chipdb dump DB: the chip database file
// and its readable source.

#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
#include <utility>

#include "platform/replace_file.h"
#include "romwright/app/cli/cli_database.h"
#include "romwright/chips/chip_list.h"

namespace romwright::cli {

namespace {

int Build(CliContext& ctx, const std::string& csv, const std::string& out_path) {
  std::ifstream in(csv, std::ios::binary);
  if (!in) {
    ctx.err << "romwright-cli chipdb build: cannot read " << csv << "\n";
    return kExitFailed;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const auto list = app::ParseChipList(text.str());
  for (const auto& e : list.errors) ctx.err << csv << ": " << e << "\n";
  const auto problems = app::CheckChipList(list.chips);
  for (const auto& p : problems) ctx.err << csv << ": " << p << "\n";
  if (!list.errors.empty() || !problems.empty()) {
    ctx.err << "romwright-cli chipdb build: " << csv << " not built\n";
    return kExitFailed;
  }
  const auto file = app::BuildDatabaseFile(list.chips);
  // Replaced whole, so a failed or killed build never leaves half a database.
  if (platform::ReplaceFile(out_path, file) != platform::WriteOutcome::kWritten) {
    ctx.err << "romwright-cli chipdb build: cannot write " << out_path << "\n";
    return kExitFailed;
  }
  ctx.out << "Built " << out_path << ": " << list.chips.size() << " chips\n";
  return kExitOk;
}

int Dump(CliContext& ctx, const std::string& db_path) {
  app::ChipDatabase db;
  if (!db.LoadDatabase(db_path)) {
    ctx.err << "Database error!\n(romwright-cli chipdb dump: " << db_path << " is not a chip database: "
            << db.LoadFault() << ")\n";
    return kExitFailed;
  }
  ctx.out << app::FormatChipList(db.Records());
  return kExitOk;
}

}  // namespace

CliCommand AddChipdb(CLI::App& program) {
  CLI::App* cmd = program.add_subcommand(
      "chipdb", "build the chip database from its readable chip list, or print a database as one");
  cmd->require_subcommand(1);
  cmd->footer(
      "build: checks the readable chip list CSV (at least one chip, unique names,\n"
      "       capacities within the 16 MiB buffer, page sizes that divide the\n"
      "       capacity, known types) and writes the scrambled chip database OUT.\n"
      "dump:  prints a chip database as a chip list that build reads back to the\n"
      "       same chips.\n"
      "Exit 0 done, 1 the list or database is unfit or a file cannot be read or\n"
      "written, 2 bad usage.\n");
  auto files = std::make_shared<std::pair<std::string, std::string>>();
  CLI::App* build = cmd->add_subcommand("build", "check a chip list and write the chip database");
  build->add_option("CSV", files->first, "the readable chip list")->required()->check(CLI::ExistingFile);
  build->add_option("OUT", files->second, "the chip database to write")->required();
  CLI::App* dump = cmd->add_subcommand("dump", "print a chip database as a chip list");
  dump->add_option("DB", files->first, "the chip database")->required()->check(CLI::ExistingFile);
  return {cmd, [files, build](CliContext& ctx) {
            return build->parsed() ? Build(ctx, files->first, files->second) : Dump(ctx, files->first);
          }};
}

}  // namespace romwright::cli
