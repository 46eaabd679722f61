#include "linetool/records/stores/record_rows.h"

namespace linetool::records::stores {

namespace {

std::string Number(std::int64_t n) { return std::to_string(n); }

std::int64_t NumberOf(const std::optional<std::string>& text, std::int64_t missing) {
  if (!text || text->empty()) return missing;
  try {
    return std::stoll(*text);
  } catch (const std::exception&) {
    return missing;
  }
}

std::string TextOf(const std::optional<std::string>& text) { return text.value_or(std::string()); }

std::string P(char placeholder, std::size_t n) { return std::string(1, placeholder) + std::to_string(n); }

}  // namespace

std::vector<Migration> Migrations(const std::string& id_column) {
  std::string records = "CREATE TABLE unit_records (id " + id_column;
  for (const std::string& c : RecordColumns()) {
    const bool number = c == "port" || c == "capacity" || c == "passed" || c.ends_with("_result") || c.ends_with("_ms");
    records += ", " + c + (number ? " BIGINT" : " TEXT") + " NOT NULL";
  }
  records += ", UNIQUE (run_id, port))";
  return {
      {1, records +
              ";CREATE INDEX unit_records_time ON unit_records (time)"
              ";CREATE INDEX unit_records_serial ON unit_records (serial_written)"
              ";CREATE TABLE serial_counters (vid TEXT NOT NULL, pid TEXT NOT NULL, prefix TEXT NOT NULL,"
              " base TEXT NOT NULL, next_advance BIGINT NOT NULL, PRIMARY KEY (vid, pid, prefix))"},
  };
}

const std::vector<std::string>& RecordColumns() {
  static const std::vector<std::string> columns = [] {
    std::vector<std::string> c = {"run_id",          "station",         "time",         "port",
                                  "usb_location",    "vid_before",      "pid_before",   "serial_before",
                                  "firmware_before", "vid_after",       "pid_after",    "serial_after",
                                  "firmware_after",  "serial_written",  "firmware_file", "firmware_sha256",
                                  "profile_file",    "profile_sha256"};
    for (std::string_view stage : kStageNames) {
      c.push_back(std::string(stage) + "_result");
      c.push_back(std::string(stage) + "_ms");
    }
    for (const char* more : {"capacity", "ata_model", "ata_serial", "passed"}) c.emplace_back(more);
    return c;
  }();
  return columns;
}

std::string ColumnList() {
  std::string list;
  for (const std::string& c : RecordColumns()) list += (list.empty() ? "" : ", ") + c;
  return list;
}

std::string InsertStatement(char placeholder) {
  std::string values;
  for (std::size_t i = 1; i <= RecordColumns().size(); ++i) values += (i == 1 ? "" : ", ") + P(placeholder, i);
  return "INSERT INTO unit_records (" + ColumnList() + ") VALUES (" + values + ") ON CONFLICT (run_id, port) DO NOTHING";
}

Row RowOf(const UnitRecord& r) {
  Row row = {r.run_id,
             r.station,
             r.time,
             Number(r.port),
             r.usb_location,
             r.before.vid,
             r.before.pid,
             r.before.serial,
             r.before.firmware_version,
             r.after.vid,
             r.after.pid,
             r.after.serial,
             r.after.firmware_version,
             r.serial_written,
             r.firmware_file,
             r.firmware_sha256,
             r.profile_file,
             r.profile_sha256};
  for (const StageOutcome& s : r.stages) {
    row.push_back(Number(static_cast<int>(s.result)));
    row.push_back(Number(s.milliseconds));
  }
  row.push_back(Number(r.capacity));
  row.push_back(r.ata_model);
  row.push_back(r.ata_serial);
  row.push_back(Number(r.passed ? 1 : 0));
  return row;
}

UnitRecord RecordOf(const Row& row) {
  UnitRecord r;
  if (row.size() != RecordColumns().size()) return r;
  std::size_t i = 0;
  auto text = [&] { return TextOf(row[i++]); };
  r.run_id = text();
  r.station = text();
  r.time = text();
  r.port = static_cast<int>(NumberOf(row[i++], 0));
  r.usb_location = text();
  for (DeviceIdentity* d : {&r.before, &r.after}) {
    d->vid = text();
    d->pid = text();
    d->serial = text();
    d->firmware_version = text();
  }
  r.serial_written = text();
  r.firmware_file = text();
  r.firmware_sha256 = text();
  r.profile_file = text();
  r.profile_sha256 = text();
  for (StageOutcome& s : r.stages) {
    const std::int64_t result = NumberOf(row[i++], -1);
    s.result = result == 1 ? StageResult::kPass : result == 0 ? StageResult::kFail : StageResult::kOff;
    s.milliseconds = NumberOf(row[i++], 0);
  }
  r.capacity = NumberOf(row[i++], -1);
  r.ata_model = text();
  r.ata_serial = text();
  r.passed = NumberOf(row[i++], 0) == 1;
  return r;
}

Selection SelectionOf(const RecordQuery& q, char placeholder) {
  Selection s;
  std::vector<std::string> terms;
  auto add = [&](const std::string& term_with_p, const std::string& value) {
    s.parameters.push_back(value);
    std::string term = term_with_p;
    const std::string p = P(placeholder, s.parameters.size());
    for (std::size_t at = term.find('@'); at != std::string::npos; at = term.find('@', at + p.size()))
      term.replace(at, 1, p);
    terms.push_back(term);
  };
  if (!q.serial.empty()) add("(serial_written = @ OR serial_before = @ OR serial_after = @)", q.serial);
  if (!q.from.empty()) add("substr(time, 1, 10) >= @", q.from);
  if (!q.to.empty()) add("substr(time, 1, 10) <= @", q.to);
  if (!q.station.empty()) add("station = @", q.station);
  if (q.passed) add("passed = @", *q.passed ? "1" : "0");
  for (std::size_t i = 0; i < terms.size(); ++i) s.clause += (i == 0 ? " WHERE " : " AND ") + terms[i];
  s.clause += " ORDER BY time, station, run_id, port";
  return s;
}

std::string ReserveStatement(char placeholder) {
  auto p = [&](int n) { return P(placeholder, static_cast<std::size_t>(n)); };
  return "INSERT INTO serial_counters (vid, pid, prefix, base, next_advance) VALUES (" + p(1) + ", " + p(2) + ", " +
         p(3) + ", " + p(4) + ", " + p(5) +
         ") ON CONFLICT (vid, pid, prefix) DO UPDATE SET next_advance = serial_counters.next_advance + "
         "excluded.next_advance RETURNING base, next_advance - " +
         p(5);
}

}  // namespace linetool::records::stores
