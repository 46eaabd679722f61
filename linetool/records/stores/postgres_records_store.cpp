#include "linetool/records/stores/postgres_records_store.h"

#include <libpq-fe.h>

#include "linetool/records/stores/record_rows.h"

namespace linetool::records::stores {

namespace {

// Seconds a station waits for the database server to answer a connection.
constexpr const char* kConnectTimeout = "5";
// The advisory lock under which a station brings the schema up to date.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(770016)";

std::string Trimmed(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

void DropNotice(void*, const char*) {}

using Rows = std::vector<std::vector<std::optional<std::string>>>;

}  // namespace

std::unique_ptr<PostgresRecordsStore> PostgresRecordsStore::Open(const std::string& conninfo, std::string& error) {
  char* message = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &message);
  if (!options) {
    error = "the connection string " + conninfo + " cannot be read: " + Trimmed(message);
    PQfreemem(message);
    return nullptr;
  }
  PQconninfoFree(options);
  return std::unique_ptr<PostgresRecordsStore>(new PostgresRecordsStore(conninfo));
}

PostgresRecordsStore::~PostgresRecordsStore() { DropLocked(); }

void PostgresRecordsStore::DropLocked() {
  if (conn_) PQfinish(conn_);
  conn_ = nullptr;
}

bool PostgresRecordsStore::Reach() {
  std::lock_guard lock(mutex_);
  return ConnectLocked();
}

bool PostgresRecordsStore::ConnectLocked() {
  if (conn_ && PQstatus(conn_) == CONNECTION_OK) return true;
  DropLocked();
  // The connection string's own connect_timeout wins over the station's.
  const char* keys[] = {"connect_timeout", "dbname", nullptr};
  const char* values[] = {kConnectTimeout, conninfo_.c_str(), nullptr};
  conn_ = PQconnectdbParams(keys, values, 1);
  if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
    error_ = "cannot reach the records database: " + Trimmed(conn_ ? PQerrorMessage(conn_) : "out of memory");
    DropLocked();
    return false;
  }
  PQsetNoticeProcessor(conn_, DropNotice, nullptr);
  if (!MigrateLocked()) {
    DropLocked();
    return false;
  }
  return true;
}

struct PostgresRecordsStore::Result {
  PGresult* r;
  ~Result() { PQclear(r); }
};

bool PostgresRecordsStore::ExecLocked(const std::string& sql, const std::vector<std::optional<std::string>>& params,
                                      Rows* rows, const std::string& what) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!ConnectLocked()) return false;
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
    Result res{PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                            nullptr, 0)};
    const ExecStatusType status = PQresultStatus(res.r);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
      if (rows) {
        rows->clear();
        for (int i = 0; i < PQntuples(res.r); ++i) {
          std::vector<std::optional<std::string>> row;
          for (int c = 0; c < PQnfields(res.r); ++c) {
            if (PQgetisnull(res.r, i, c)) {
              row.emplace_back();
            } else {
              row.emplace_back(std::string(PQgetvalue(res.r, i, c), static_cast<std::size_t>(PQgetlength(res.r, i, c))));
            }
          }
          rows->push_back(std::move(row));
        }
      }
      return true;
    }
    error_ = what + ": " + Trimmed(PQerrorMessage(conn_));
    // A connection lost on the way is made again once; any other failure is the answer.
    if (PQstatus(conn_) == CONNECTION_OK) return false;
    DropLocked();
  }
  return false;
}

bool PostgresRecordsStore::MigrateLocked() {
  const std::vector<Migration> steps = Migrations("BIGSERIAL PRIMARY KEY");
  auto exec = [&](const std::string& sql, Rows* rows = nullptr) {
    Result res{PQexec(conn_, sql.c_str())};
    const ExecStatusType status = PQresultStatus(res.r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      error_ = "cannot set up the records database: " + Trimmed(PQerrorMessage(conn_));
      return false;
    }
    if (rows) {
      for (int i = 0; i < PQntuples(res.r); ++i) rows->push_back({std::string(PQgetvalue(res.r, i, 0))});
    }
    return true;
  };
  // Stations that meet a new database at once make its tables once: the
  // version is read and the steps applied under one lock.
  Rows version_rows;
  bool ok = exec("BEGIN") && exec(kSchemaLock) &&
            exec("CREATE TABLE IF NOT EXISTS records_schema (version INTEGER NOT NULL)") &&
            exec("SELECT version FROM records_schema", &version_rows);
  int version = 0;
  if (ok && !version_rows.empty()) version = std::stoi(version_rows.front().front().value_or("0"));
  if (ok && version > steps.back().version) {
    error_ = "the records database's schema version " + std::to_string(version) + " is newer than this station's (" +
             std::to_string(steps.back().version) + ")";
    ok = false;
  }
  for (const Migration& m : steps) {
    if (!ok || m.version <= version) continue;
    ok = exec(m.sql) && exec("DELETE FROM records_schema") &&
         exec("INSERT INTO records_schema (version) VALUES (" + std::to_string(m.version) + ")");
  }
  ok = ok && exec("COMMIT");
  if (!ok) {
    Result res{PQexec(conn_, "ROLLBACK")};
  }
  return ok;
}

int PostgresRecordsStore::SchemaVersion() {
  std::lock_guard lock(mutex_);
  Rows rows;
  if (!ExecLocked("SELECT version FROM records_schema", {}, &rows, "cannot read the schema version") || rows.empty())
    return -1;
  return std::stoi(rows.front().front().value_or("-1"));
}

bool PostgresRecordsStore::Add(const UnitRecord& record) {
  std::lock_guard lock(mutex_);
  // One statement, one transaction. A record that reached the database before
  // its connection was lost is not written twice when it is sent again.
  static const std::string sql = InsertStatement('$');
  return ExecLocked(sql, RowOf(record), nullptr, "cannot write the record");
}

std::optional<std::vector<UnitRecord>> PostgresRecordsStore::Find(const RecordQuery& query) {
  std::lock_guard lock(mutex_);
  const Selection sel = SelectionOf(query, '$');
  Rows rows;
  if (!ExecLocked("SELECT " + ColumnList() + " FROM unit_records" + sel.clause,
                  {sel.parameters.begin(), sel.parameters.end()}, &rows, "cannot read the records"))
    return std::nullopt;
  std::vector<UnitRecord> records;
  for (const auto& row : rows) records.push_back(RecordOf(row));
  return records;
}

std::optional<SerialCounter> PostgresRecordsStore::ReserveSerials(const ProductKey& key, std::string_view base,
                                                                  std::int64_t count) {
  std::lock_guard lock(mutex_);
  static const std::string sql = ReserveStatement('$');
  Rows rows;
  if (!ExecLocked(sql, {key.vid, key.pid, key.serial_prefix, std::string(base), std::to_string(count)}, &rows,
                  "cannot take serial numbers"))
    return std::nullopt;
  if (rows.size() != 1 || rows[0].size() != 2) {
    error_ = "cannot take serial numbers: the database answered no counter";
    return std::nullopt;
  }
  return SerialCounter{rows[0][0].value_or(""), std::stoll(rows[0][1].value_or("0"))};
}

std::optional<SerialCounter> PostgresRecordsStore::PeekSerials(const ProductKey& key) {
  std::lock_guard lock(mutex_);
  Rows rows;
  if (!ExecLocked("SELECT base, next_advance FROM serial_counters WHERE vid = $1 AND pid = $2 AND prefix = $3",
                  {key.vid, key.pid, key.serial_prefix}, &rows, "cannot read the serial counter"))
    return std::nullopt;
  if (rows.empty()) return SerialCounter{};
  return SerialCounter{rows[0][0].value_or(""), std::stoll(rows[0][1].value_or("0"))};
}

std::string PostgresRecordsStore::Error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

}  // namespace linetool::records::stores
