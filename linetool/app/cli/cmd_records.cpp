// linetool-cli records export: the unit records of --records STORE as CSV or
// JSON, selected by serial number, days, station and result.

#include <memory>
#include <ostream>

#include "linetool/app/cli/cli_command.h"
#include "linetool/app/cli/records_option.h"
#include "linetool/records/record_export.h"

namespace linetool::cli {

namespace {

struct ExportOptions {
  bool pending = false;
  std::string format = "csv";
  std::string result;
  records::RecordQuery query;
};

std::string DayCheck(const std::string& value) {
  return records::IsDay(value) ? std::string() : "DATE must be a day written YYYY-MM-DD: " + value;
}

int RunExport(CliContext& ctx, const ExportOptions& o) {
  if (ctx.options.records.empty()) {
    ctx.err << "linetool-cli records: no store: name it with --records STORE (a SQLite file or a postgresql:// URL)\n";
    return kExitUsage;
  }
  std::string error;
  // Only the count of what waits needs the station's outbox.
  const auto store = OpenRecordsOption(ctx, error, o.pending);
  if (!store) {
    ctx.err << "linetool-cli records: " << error << "\n";
    return kExitFailed;
  }
  if (o.pending) {
    // What still waits for the server, after handing on what it takes now.
    const auto waiting = store->Pending();
    if (!waiting) {
      ctx.err << "linetool-cli records: " << store->Error() << "\n";
      return kExitFailed;
    }
    ctx.out << *waiting << "\n";
    ctx.out.flush();
    return kExitOk;
  }
  records::RecordQuery query = o.query;
  if (!o.result.empty()) query.passed = o.result == "pass";
  const auto found = store->Find(query);
  if (!found) {
    ctx.err << "linetool-cli records: " << store->Error() << "\n";
    return kExitFailed;
  }
  ctx.out << (o.format == "json" ? records::ToJson(*found) : records::ToCsv(*found));
  ctx.out.flush();
  return kExitOk;
}

}  // namespace

CliCommand AddRecords(CLI::App& program) {
  CLI::App* cmd = program.add_subcommand("records", "query and export the unit records of --records STORE");
  cmd->require_subcommand(1);
  CLI::App* exp = cmd->add_subcommand("export", "print the unit records a query selects, as CSV or JSON");
  auto o = std::make_shared<ExportOptions>();
  exp->add_flag("--pending", o->pending,
               "print only the number of records that wait in the outbox for the server");
  exp->add_option("--format", o->format, "csv (default) or json")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"csv", "json"}));
  exp->add_option("--serial", o->query.serial, "the serial number written, or the device's before or after the run")
      ->type_name("S");
  exp->add_option("--from", o->query.from, "the first day, inclusive")->type_name("DATE")->check(DayCheck);
  exp->add_option("--to", o->query.to, "the last day, inclusive")->type_name("DATE")->check(DayCheck);
  exp->add_option("--station", o->query.station, "the station's name")->type_name("NAME");
  exp->add_option("--result", o->result, "pass or fail")->type_name("RESULT")->check(CLI::IsMember({"pass", "fail"}));
  exp->footer(
      "Prints the records of the store that --records STORE names (a SQLite file,\n"
      "relative to the working directory, or a postgresql:// URL), oldest first.\n"
      "Every filter given must match; days are the local days the records were\n"
      "made on (YYYY-MM-DD).\n"
      "\n"
      "CSV: a header line, then one line per record, CR LF line ends; a stage has\n"
      "a result column (PASS, FAIL, empty when it was off) and a duration column\n"
      "in milliseconds. JSON: an array of records, each stage under \"stages\".\n"
      "\n"
      "A record the server cannot take waits in records_outbox.sqlite in the\n"
      "working directory and goes to the server, in order and once, as soon as it\n"
      "answers again; --pending prints how many wait (0 for a SQLite store).\n"
      "\n"
      "Exit status: 0 printed (also when nothing matched), 1 the store cannot be\n"
      "opened or read, 2 a usage error (no --records, a bad DATE, FORMAT or RESULT).\n");
  return {cmd, [o](CliContext& ctx) { return RunExport(ctx, *o); }};
}

}  // namespace linetool::cli
