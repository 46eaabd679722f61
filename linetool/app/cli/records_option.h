#pragma once
// The station's records setting (linetool-cli and the window): the store --records names and the
// station's name in its records.

#include <memory>
#include <string>

#include "linetool/app/cli/cli_command.h"
#include "linetool/records/records_store.h"
#include "linetool/run/production_run.h"

namespace linetool::cli {

// The store of --records: a postgresql:// URL as it stands, any other text a
// SQLite file (relative names against the working directory). Nothing, with
// `error` set, when it cannot be used. With `outbox`, a server's records
// that cannot reach it wait in the working directory's outbox.
std::unique_ptr<records::RecordsStore> OpenRecordsOption(const CliContext& ctx, std::string& error, bool outbox = true);

// --station-name, else the host's name.
std::string StationNameOf(const CliContext& ctx);

// What a run of this station does with `store` (opened by OpenRecordsOption;
// null without --records): the records, line serials and station name of the
// options.
app::RecordsSetting RecordsSettingOf(const CliContext& ctx, records::RecordsStore* store);

}  // namespace linetool::cli
