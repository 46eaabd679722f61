#pragma once
// linetool-cli's records setting: the store --records names and the
// station's name in its records.

#include <memory>
#include <string>

#include "linetool/app/cli/cli_command.h"
#include "linetool/records/records_store.h"

namespace linetool::cli {

// The store of --records: a postgresql:// URL as it stands, any other text a
// SQLite file (relative names against the working directory). Nothing, with
// `error` set, when it cannot be used.
std::unique_ptr<records::RecordsStore> OpenRecordsOption(const CliContext& ctx, std::string& error);

// --station-name, else the host's name.
std::string StationNameOf(const CliContext& ctx);

}  // namespace linetool::cli
