#include "linetool/app/cli/records_option.h"

#include <unistd.h>

#include <climits>

#include "linetool/records/stores/open_records_store.h"

namespace linetool::cli {

std::unique_ptr<records::RecordsStore> OpenRecordsOption(const CliContext& ctx, std::string& error, bool outbox) {
  const std::string& store = ctx.options.records;
  // A server's records that cannot reach it wait in the working directory.
  return records::stores::OpenRecordsStore(
      records::stores::NamesDatabaseServer(store) ? store : HostPathOfArgument(ctx, store), error,
      outbox ? ctx.host_workdir : std::string());
}

std::string StationNameOf(const CliContext& ctx) {
  if (!ctx.options.station_name.empty()) return ctx.options.station_name;
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "station";
  return name;
}

app::RecordsSetting RecordsSettingOf(const CliContext& ctx, records::RecordsStore* store) {
  return {store, ctx.options.line_serials, StationNameOf(ctx)};
}

}  // namespace linetool::cli
