#include "linetool/records/stores/record_rows.h"

namespace linetool::records::stores {

namespace {

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
  std::string where;
  for (std::size_t i = 0; i < terms.size(); ++i) where += (i == 0 ? " WHERE " : " AND ") + terms[i];
  static const std::string order = " ORDER BY time, station, run_id, port";
  if (q.last == 0) {
    s.clause = where + order;
  } else {
    // The newest N picked by a sub-select, handed back oldest first like any other answer.
    s.clause = " WHERE id IN (SELECT id FROM unit_records" + where +
               " ORDER BY time DESC, station DESC, run_id DESC, port DESC LIMIT " + std::to_string(q.last) + ")" +
               order;
  }
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
