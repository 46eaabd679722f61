#pragma once
// How romwright-cli finds its chip database and the chip a command works on.
//
// The database is the file given with --db; without it, "chips.db" in the
// folder of the romwright-cli executable (the build puts the database built
// from the chip list there).

#include <optional>
#include <string>
#include <vector>

#include "romwright/app/cli/cli_command.h"
#include "romwright/chips/chip_database.h"

namespace romwright::cli {

inline constexpr const char* kDefaultDatabaseName = "chips.db";
// The chip a command works on when none is named.
inline constexpr const char* kDefaultChipName = "EN25T80";

// --db, else chips.db beside the executable.
std::string DatabasePath(const CliContext& ctx);

// Loads the database; on failure prints "Database error!" with the path to
// ctx.err and returns false.
bool LoadCliDatabase(const CliContext& ctx, app::ChipDatabase& db);

// The chip named by --chip, else the simulated chip of --sim=CHIP, else
// EN25T80. Prints an error and returns nothing when that name is not in `db`.
std::optional<ChipRecord> SelectCliChip(const CliContext& ctx, const app::ChipDatabase& db);

}  // namespace romwright::cli
